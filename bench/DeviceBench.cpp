// Devices on the simulated network: building and wiring amplifiers, and the
// loop's cost of the meter reports of 100 online amplifiers and of the
// show-size system (1000 amplifiers, bench/ShowProject.h) with its resident
// memory per amplifier.
// Run: build/default/bin/device_bench

#include "ShowProject.h"
#include "amplifiers/AmplifierModels.h"
#include "amplifiers/SimAmplifier.h"
#include "custom/deviceplant/DevicePlant.h"
#include "model/GeneratedServices.h"

#include "qor/server/entities/All.h"
#include "qor/server/services/DeviceService.h"
#include "qor/server/services/FtOnlineService.h"
#include "qor/server/services/FtSignalGeneratorService.h"

#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/core/HugePageHeap.h"
#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/project/FileContainer.h"
#include "fennik/server/project/HostInterface.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using fennik::devices::SimulatedNetwork;
using qor::devicetypes::Qa8Amplifier;
using namespace qor::server;

struct Rig {
  Rig()
      : context(fennik::server::EntityContext::create(fennik::server::JobLoop::Mode::Manual)),
        network(SimulatedNetwork::create(SimulatedNetwork::Mode::Manual)) {
    fennik::server::setLogLevel(spdlog::level::warn);
    addGeneratedServices(context);
    plant = std::make_shared<DevicePlant>(context->db(), context->loop(), context->services());
    context->services()->add<DevicePlant>(plant);
    network->registerModel(qor::devicetypes::qa8Model());
    amps = std::make_shared<Qa8Amplifier>(context->db(), context->loop(), context->services(), network,
                                          qor::devicetypes::qa8Descriptor(), qor::devicetypes::qa8Model());
    context->services()->add<Qa8Amplifier>(amps);
    plant->registerFactory(qor::devicetypes::qa8Descriptor().id, amps.get());
    plant->ensureDeviceTypes();
    type = context->db()->get<DeviceType>(qor::devicetypes::qa8Descriptor().id);
  }
  ~Rig() {
    for (Device* d : devices) plant->destroy(d);
    context->services()->clear();
  }

  void create(int n) {
    for (int i = 0; i < n; ++i) devices.push_back(plant->create(type, fennik::server::random_uuid()));
  }

  void bringOnline() {
    auto deviceService = context->services()->get<DeviceService>();
    auto onlines = context->services()->get<FtOnlineService>();
    auto generators = context->services()->get<FtSignalGeneratorService>();
    for (Device* d : devices) {
      deviceService->setDeviceId(d, network->addDevice("QA-8"), false);
      onlines->setSupposedState(d->getOnline(), FtOnlineState::ONLINE_READING, false);
      for (auto* g : d->getSignalGenerator()->childrens()) generators->setActive(g, true, false);
    }
    for (int i = 0; i < 100; ++i) {
      network->advance(10ms);
      context->loop()->runUntilIdle();
    }
  }

  std::shared_ptr<fennik::server::EntityContext> context;
  std::shared_ptr<SimulatedNetwork> network;
  std::shared_ptr<DevicePlant> plant;
  std::shared_ptr<Qa8Amplifier> amps;
  DeviceType* type = nullptr;
  std::vector<Device*> devices;
};

// The first repetition is what a user feels on a fresh server; the server
// warms its loop thread's heap when it starts (qor::app::Host::start), and so
// does this bench, waiting until that is done, as a server is up well before
// a user adds devices. Without it the first repetition takes 1.6-2.6 times as
// long as the later ones, all of it the kernel zeroing fresh pages.
void BM_Create100EightChannelAmplifiers(benchmark::State& state) {
  fennik::server::warmHeap(fennik::server::START_WARM_BYTES).reset();
  for (auto _ : state) {
    state.PauseTiming();
    auto rig = std::make_unique<Rig>();
    state.ResumeTiming();
    rig->create(100);
    state.PauseTiming();
    rig.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Create100EightChannelAmplifiers)->Unit(benchmark::kMillisecond);

// Connecting again, as after a project load: cut every connection, wire anew.
void BM_Connect100EightChannelAmplifiers(benchmark::State& state) {
  Rig rig;
  rig.create(100);
  for (auto _ : state) {
    for (Device* d : rig.devices) rig.amps->connect(d);
  }
}
BENCHMARK(BM_Connect100EightChannelAmplifiers)->Unit(benchmark::kMillisecond);

// Connecting to new drivers, as after opening a project: every device gets
// a fresh driver, readied with the settings the project stored for it (Arg
// 1) or, with nothing stored, with its own file fields only (Arg 0).
void BM_ConnectFresh100EightChannelAmplifiers(benchmark::State& state) {
  Rig rig;
  rig.create(100);
  const auto folder = fennik::server::HostInterface::createTemporaryFolder("qorbench");
  fennik::server::FileContainer container(folder);
  if (state.range(0)) rig.plant->save(container);
  for (auto _ : state) {
    state.PauseTiming();
    rig.amps->releaseAll();
    rig.plant->load(container);
    state.ResumeTiming();
    rig.plant->loaded();
  }
  fennik::server::HostInterface::removeFolder(folder);
}
BENCHMARK(BM_ConnectFresh100EightChannelAmplifiers)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// One 100 ms meter period of 100 online amplifiers (signal generators on,
// so every meter moves): the loop's work for it. Ten of these make up one
// second of 10 Hz reports.
void BM_LoopWorkPerMeterPeriod100Amplifiers(benchmark::State& state) {
  Rig rig;
  rig.create(100);
  rig.bringOnline();
  std::size_t jobs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    rig.network->advance(100ms);
    state.ResumeTiming();
    jobs += rig.context->loop()->runUntilIdle();
  }
  state.counters["jobs_per_period"] = benchmark::Counter(static_cast<double>(jobs) / state.iterations());
}
BENCHMARK(BM_LoopWorkPerMeterPeriod100Amplifiers)->Unit(benchmark::kMicrosecond);

// Resident memory of this process (VmRSS), in bytes.
double residentBytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      double kib = 0;
      status >> kib;
      return kib * 1024;
    }
    status.ignore(1 << 12, '\n');
  }
  return 0;
}

double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The show online: 1000 QA-8 amplifiers in hangs on the canvas, every
// signal generator on, meters at 10 Hz. One iteration is one 100 ms meter
// period: the loop's work for it (the network's own work in advance() is
// not timed; in the server it runs on the network's thread). busy_fraction:
// the loop's CPU time per period over the period's 100 ms, i.e. the share of
// one core the loop needs for the meters. rss_per_amplifier_KiB: resident
// memory grown by building the show and taking it online, per amplifier;
// rss_offline_per_amplifier_KiB: the part grown by building it (the show's
// entities and their services' hooks, before any device is simulated).
void BM_ShowMeterPeriod1000Amplifiers(benchmark::State& state) {
  qor::bench::ShowRig rig;
  const double before = residentBytes();
  rig.build();
  const double built = residentBytes();
  rig.bringOnline();
  const double after = residentBytes();
  std::size_t jobs = 0;
  double cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    rig.network->advance(100ms);
    state.ResumeTiming();
    const double start = threadCpuSeconds();
    jobs += rig.context->loop()->runUntilIdle();
    cpu += threadCpuSeconds() - start;
  }
  const auto periods = static_cast<double>(state.iterations());
  const auto amplifiers = static_cast<double>(rig.amplifiers.size());
  state.counters["jobs_per_period"] = benchmark::Counter(static_cast<double>(jobs) / periods);
  state.counters["busy_fraction"] = benchmark::Counter(cpu / (periods * 0.1));
  state.counters["rss_per_amplifier_KiB"] = benchmark::Counter((after - before) / 1024 / amplifiers);
  state.counters["rss_offline_per_amplifier_KiB"] = benchmark::Counter((built - before) / 1024 / amplifiers);
  state.counters["rss_MiB"] = benchmark::Counter(after / (1 << 20));
}
BENCHMARK(BM_ShowMeterPeriod1000Amplifiers)->Unit(benchmark::kMillisecond)->Iterations(30);

// What the simulated devices alone take: the show's online figure includes
// them, because they live in the bench's (and the demo server's) process,
// where real amplifiers would be on the network. 1000 simulated QA-8 on a
// network of their own, no server.
void BM_SimulatedQa8Memory1000(benchmark::State& state) {
  for (auto _ : state) {
    auto network = SimulatedNetwork::create(SimulatedNetwork::Mode::Manual);
    network->registerModel(qor::devicetypes::qa8Model());
    const double before = residentBytes();
    for (int i = 0; i < 1000; ++i) network->addDevice("QA-8");
    network->advance(100ms);
    state.counters["rss_per_device_KiB"] = benchmark::Counter((residentBytes() - before) / 1024 / 1000);
  }
}
BENCHMARK(BM_SimulatedQa8Memory1000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
