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

  // Let the devices come online (bounded, so a broken build fails instead of hanging).
  auto allOnline = [&] {
    bool online = true;
    context->loop()->work([&](const std::shared_ptr<fennik::server::EntityContext>& c) {
      for (const auto& id : ids) online = online && c->db()->get<Device>(id)->getOnline()->getIsOnline();
    });
    return online;
  };
  for (int i = 0; i < 100000 && !allOnline(); ++i) std::this_thread::yield();
  ASSERT_TRUE(allOnline());

  // The loop writes to every channel again and again while the devices
  // report; along the way, devices are destroyed. It goes on until the
  // network has measured a few times.
  const auto start = network->now();
  for (int round = 0; round < 300 || network->now() - start < 400ms; ++round) {
    context->loop()->work([&](const std::shared_ptr<fennik::server::EntityContext>& c) {
      auto audios = c->services()->get<FtAudioService>();
      auto generators = c->services()->get<FtSignalGeneratorService>();
      for (const auto& id : ids) {
        Device* d = c->db()->get<Device>(id);
        if (!d) continue;
        for (FtAudio* audio : d->getAudio()->childrens()) audios->setLevelInDb(audio, -(round % 40), false);
        generators->setActive(d->getSignalGenerator()->childrens()[0], round % 2 == 0, false);
      }
      if ((round == 150 || round == 200) && ids.size() > 4) {
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
