// Creating 10 000 entities through their service (random id, defaults, database).

#include "BenchContext.h"

#include "qor/server/services/FtAudioService.h"

#include <benchmark/benchmark.h>

#include <vector>

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

// Closing a project empties the database while its entities stay alive (the
// open that closes it keeps them until it has succeeded), as here. Nobody
// listens to the class's removals.
void BM_Clear100000Entities(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto context = qor::bench::makeContext();
    auto audios = context->services()->get<qor::server::FtAudioService>();
    std::vector<fennik::server::EntityPtr> kept;
    kept.reserve(100000);
    for (int i = 0; i < 100000; ++i) kept.push_back(audios->create()->shared_from_this());
    state.ResumeTiming();
    context->db()->clear();
    state.PauseTiming();
    kept.clear();
    context.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_Clear100000Entities)->Unit(benchmark::kMillisecond);

}  // namespace
