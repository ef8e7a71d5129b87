// Grouping amplifiers: createGroup over N four-channel amplifiers, each with
// every feature grouping joins, and a relative level change over such a
// group. Figures per member channel are in docs/performance.md.

#include "BenchContext.h"

#include "service/AmplifierBuilder.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using qor::server::Device;
using qor::server::testing::AmplifierBuilder;

struct Rack {
  std::shared_ptr<fennik::server::EntityContext> context = qor::bench::makeContext();
  AmplifierBuilder builder{context};
  std::vector<Device*> amplifiers;

  explicit Rack(int count) {
    for (int i = 0; i < count; ++i) amplifiers.push_back(builder.amplifier());
  }
};

void BM_CreateGroup(benchmark::State& state) {
  Rack rack(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Device* group = rack.builder.devices->createGroup(fennik::server::random_uuid(), rack.amplifiers);
    benchmark::DoNotOptimize(group);
    state.PauseTiming();
    rack.builder.devices->destroyGroup(group);
    state.ResumeTiming();
  }
  state.counters["memberChannels"] = static_cast<double>(state.range(0) * 4);
  state.counters["perMemberChannel"] =
      benchmark::Counter(static_cast<double>(state.range(0) * 4),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CreateGroup)->Arg(25)->Arg(50)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_RelativeLevelOverGroup(benchmark::State& state) {
  Rack rack(static_cast<int>(state.range(0)));
  Device* group = rack.builder.devices->createGroup(fennik::server::random_uuid(), rack.amplifiers);
  auto audios = rack.context->services()->get<qor::server::FtAudioService>();
  double delta = 0.5;
  for (auto _ : state) {
    audios->setLevelInDbRelative(group->getAudio(), delta, false);
    delta = -delta;
  }
  state.counters["perMemberChannel"] =
      benchmark::Counter(static_cast<double>(state.range(0) * 4),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RelativeLevelOverGroup)->Arg(25)->Arg(50)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace
