// Creating 10 000 entities through their service (random id, defaults, database).

#include "BenchContext.h"

#include "qor/server/services/FtAudioService.h"

#include <benchmark/benchmark.h>

namespace {

void BM_Create10000Entities(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto context = qor::bench::makeContext();
    auto audios = context->services()->get<qor::server::FtAudioService>();
    state.ResumeTiming();
    for (int i = 0; i < 10000; ++i) benchmark::DoNotOptimize(audios->create());
    state.PauseTiming();
    context.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_Create10000Entities)->Unit(benchmark::kMillisecond);

}  // namespace
