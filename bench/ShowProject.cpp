#include "ShowProject.h"

#include "custom/VisualTreeService.h"
#include "module/LivesoundModule.h"
#include "module/SerializerRegistration.h"
#include "qor/server/entities/All.h"
#include "qor/server/services/DeviceService.h"
#include "qor/server/services/FtOnlineService.h"
#include "qor/server/services/FtSignalGeneratorService.h"
#include "qor/server/services/LayerService.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

#include <string>

namespace qor::bench {

using namespace qor::server;
using namespace std::chrono_literals;

ShowRig::ShowRig()
    : context(fennik::server::EntityContext::create(fennik::server::JobLoop::Mode::Manual)),
      network(fennik::devices::SimulatedNetwork::create(fennik::devices::SimulatedNetwork::Mode::Manual)) {
  fennik::server::setLogLevel(spdlog::level::warn);
  registerEntitySerializers(*context->db());
  registerLivesoundServices(context);
  plant = context->services()->get<DevicePlant>();
  network->registerModel(qor::devicetypes::qa8Model());
  amps =
      std::make_shared<qor::devicetypes::Qa8Amplifier>(context->db(), context->loop(), context->services(), network,
                                                       qor::devicetypes::qa8Descriptor(), qor::devicetypes::qa8Model());
  context->services()->add<qor::devicetypes::Qa8Amplifier>(amps);
  plant->registerFactory(qor::devicetypes::qa8Descriptor().id, amps.get());
  project = std::make_unique<fennik::server::ProjectManager>(context, "bench");
  project->newProject();
}

ShowRig::~ShowRig() {
  project->close();
  project.reset();
  context->services()->clear();
}

void ShowRig::build(const ShowShape& shape) {
  context->loop()->work(
      [&](const std::shared_ptr<fennik::server::EntityContext>& c) { buildShow(c, shape, amplifiers, hangs); });
  context->loop()->runUntilIdle();
}

void buildShow(const std::shared_ptr<fennik::server::EntityContext>& c, const ShowShape& shape,
               std::vector<Device*>& amplifiers, std::vector<Device*>& hangs) {
  {
    auto plant = c->services()->get<DevicePlant>();
    plant->ensureDeviceTypes();
    auto* type = c->db()->get<DeviceType>(qor::devicetypes::qa8Descriptor().id);
    auto devices = c->services()->get<DeviceService>();
    auto tree = c->services()->get<VisualTreeService>();
    auto layers = c->services()->get<LayerService>();
    std::vector<Layer*> showLayers;
    for (int i = 0; i < shape.layers; ++i) {
      showLayers.push_back(layers->create());
      showLayers.back()->setName("Layer " + std::to_string(i + 1), false);
    }
    std::vector<Device*> hang;
    std::vector<VisualItem*> hangItems;
    for (int n = 0; n < shape.amplifiers; ++n) {
      Device* amp = plant->create(type, fennik::server::random_uuid());
      amplifiers.push_back(amp);
      // The plant gives the amplifier its visual item; it goes on the
      // canvas fifty to a row, one row per hang.
      VisualItem* item = amp->getVisualItem();
      tree->add(tree->root(), item);
      tree->moveAbsolute(item, (n % 50) * 300, (n / 50) * 480);
      hang.push_back(amp);
      hangItems.push_back(item);
      if (static_cast<int>(hang.size()) == shape.amplifiersPerHang || n + 1 == shape.amplifiers) {
        Device* group = devices->createGroup(fennik::server::random_uuid(), hang);
        group->setVisualItem(tree->group(hangItems));
        layers->setVisible(showLayers[hangs.size() % showLayers.size()], group->getVisualItem(), true);
        hangs.push_back(group);
        hang.clear();
        hangItems.clear();
      }
    }
  }
}

void bringOnline(fennik::server::EntityContext& context, fennik::devices::SimulatedNetwork& network,
                 const std::vector<Device*>& amplifiers) {
  takeOnline(context, network, amplifiers);
  for (int i = 0; i < 100; ++i) {
    network.advance(10ms);
    context.loop()->runUntilIdle();
  }
}

void takeOnline(fennik::server::EntityContext& context, fennik::devices::SimulatedNetwork& network,
                const std::vector<Device*>& amplifiers) {
  context.loop()->work([&](const std::shared_ptr<fennik::server::EntityContext>& c) {
    auto devices = c->services()->get<DeviceService>();
    auto onlines = c->services()->get<FtOnlineService>();
    auto generators = c->services()->get<FtSignalGeneratorService>();
    for (Device* d : amplifiers) {
      devices->setDeviceId(d, network.addDevice("QA-8"), false);
      onlines->setSupposedState(d->getOnline(), FtOnlineState::ONLINE_READING, false);
      for (auto* g : d->getSignalGenerator()->childrens()) generators->setActive(g, true, false);
    }
  });
}

void timeMeterPeriods(benchmark::State& state, fennik::server::EntityContext& context,
                      fennik::devices::SimulatedNetwork& network) {
  std::size_t jobs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    network.advance(100ms);
    state.ResumeTiming();
    jobs += context.loop()->runUntilIdle();
  }
  state.counters["jobs_per_period"] = benchmark::Counter(static_cast<double>(jobs) / state.iterations());
}

}  // namespace qor::bench
