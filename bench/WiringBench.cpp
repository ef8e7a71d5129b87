// Rebuilding the links between amplifier channels after a wire: projects of
// 50, 100 and 200 eight-channel amplifiers in which one channel is wired to
// a channel of another amplifier. repairLinked clears and rebuilds every
// link from the wiring; the goal is 20 ms at 200 amplifiers. The parts
// beside it: finding the linked channels alone, and the whole selection a
// client's "/connectorConnect" runs (wire, mirror, repair).
// Run: build/default/bin/wiring_bench

#include "Qa8Project.h"

#include "custom/livesound/LivesoundService.h"
#include "service/FtConnectorService.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

using qor::bench::Project;
using namespace qor::server;

FtConnector* output(const Device* amp, int index) {
  for (FtConnector* c : amp->getConnector()->childrens()) {
    if (c->getIndex() == index) return c;
  }
  return nullptr;
}

// A project with that many amplifiers, channel 1 of the first wired to
// channel 1 of the second.
struct WiredProject {
  explicit WiredProject(int amps) {
    auto& livesound = this->livesound();
    for (int i = 0; i < amps; ++i) devices.push_back(livesound.deviceAdd(project.type, 0, 0, true));
    livesound.connectorStart(output(devices[0], 0));
    livesound.connectorSelect(output(devices[1], 0));
    livesound.connectorFinish();
  }
  LivesoundService& livesound() const { return *project.context->services()->get<LivesoundService>(); }
  FtConnectorService& connectors() const { return *project.context->services()->get<FtConnectorService>(); }

  Project project;
  std::vector<Device*> devices;
};

void setCounters(benchmark::State& state, const WiredProject& p) {
  state.SetComplexityN(state.range(0));
  state.counters["linked_keys"] = static_cast<double>(p.connectors().getLinkedAmpChannels().size());
}

void BM_RepairLinked(benchmark::State& state) {
  WiredProject p(static_cast<int>(state.range(0)));
  for (auto _ : state) p.livesound().repairLinked();
  setCounters(state, p);
}
BENCHMARK(BM_RepairLinked)->Arg(50)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

void BM_GetLinkedAmpChannels(benchmark::State& state) {
  WiredProject p(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(p.connectors().getLinkedAmpChannels());
  setCounters(state, p);
}
BENCHMARK(BM_GetLinkedAmpChannels)
    ->Arg(50)
    ->Arg(100)
    ->Arg(200)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// The whole selection: wire channel 2 of the last two amplifiers, then
// unwire it again (two selections per iteration).
void BM_ConnectorSelect(benchmark::State& state) {
  WiredProject p(static_cast<int>(state.range(0)));
  auto& livesound = p.livesound();
  FtConnector* from = output(p.devices[p.devices.size() - 2], 1);
  FtConnector* to = output(p.devices.back(), 1);
  livesound.connectorStart(from);
  for (auto _ : state) {
    livesound.connectorSelect(to);
    livesound.connectorSelect(to);
  }
  livesound.connectorFinish();
  setCounters(state, p);
}
BENCHMARK(BM_ConnectorSelect)->Arg(50)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

}  // namespace
