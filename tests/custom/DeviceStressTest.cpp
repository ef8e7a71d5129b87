// Simulated devices reporting from the network thread while the loop
// thread writes to their features and destroys devices. Meant for the
// thread sanitizer build; in any build it must neither crash nor hang.

#include "DeviceFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace qor::server::testing {
namespace {

TEST(DeviceStressTest, DriversReportWhileTheLoopWritesAndDestroys) {
  auto context = fennik::server::EntityContext::create(fennik::server::JobLoop::Mode::Threaded);
  auto network = SimulatedNetwork::create(SimulatedNetwork::Mode::Threaded);
  network->setLatency(0ms);
  std::shared_ptr<Qa8Amplifier> amps;
  context->jobs()->start();
  network->start();

  std::vector<fennik::server::Uuid> ids;
  context->loop()->work([&](const std::shared_ptr<fennik::server::EntityContext>& c) {
    addGeneratedServices(c);
    auto plant = std::make_shared<DevicePlant>(c->db(), c->loop(), c->services());
    c->services()->add<DevicePlant>(plant);
    network->registerModel(devicetypes::qa8Model());
    amps = std::make_shared<Qa8Amplifier>(c->db(), c->loop(), c->services(), network, devicetypes::qa8Descriptor(),
                                          devicetypes::qa8Model());
    c->services()->add<Qa8Amplifier>(amps);
    plant->registerFactory(devicetypes::qa8Descriptor().id, amps.get());
    plant->ensureDeviceTypes();
    auto* type = c->db()->get<DeviceType>(devicetypes::qa8Descriptor().id);
    for (int i = 0; i < 6; ++i) {
      Device* d = plant->create(type, fennik::server::random_uuid());
      c->services()->get<DeviceService>()->setDeviceId(d, network->addDevice("QA-8"), false);
      c->services()->get<FtOnlineService>()->setSupposedState(d->getOnline(), FtOnlineState::ONLINE_READING, false);
      ids.push_back(d->id());
    }
  });

  // The loop writes to every channel again and again while the devices go
  // online and report; halfway through, devices are destroyed.
  for (int round = 0; round < 300; ++round) {
    context->loop()->work([&](const std::shared_ptr<fennik::server::EntityContext>& c) {
      auto audios = c->services()->get<FtAudioService>();
      auto generators = c->services()->get<FtSignalGeneratorService>();
      for (const auto& id : ids) {
        Device* d = c->db()->get<Device>(id);
        if (!d) continue;
        for (FtAudio* audio : d->getAudio()->childrens()) audios->setLevelInDb(audio, -(round % 40), false);
        generators->setActive(d->getSignalGenerator()->childrens()[0], round % 2 == 0, false);
      }
      if (round == 150 || round == 200) {
        auto plant = c->services()->get<DevicePlant>();
        plant->destroy(c->db()->get<Device>(ids.back()));
        ids.pop_back();
      }
    });
    std::this_thread::yield();
  }

  context->loop()->work([&](const std::shared_ptr<fennik::server::EntityContext>& c) {
    EXPECT_EQ(c->db()->countOfClass(Device::CLASS_NAME), 4u);
    for (const auto& id : ids) c->services()->get<DevicePlant>()->destroy(c->db()->get<Device>(id));
    amps.reset();
    c->services()->clear();
  });
  network->stop();
  context->jobs()->stop();
}

}  // namespace
}  // namespace qor::server::testing
