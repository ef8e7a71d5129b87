// Heap bytes of one default FtAudio that nobody listens to, counted by
// replacing the global allocator for this program.

#include "qor/server/entities/FtAudio.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> allocatedBytes{0};
}

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  allocatedBytes += size;
  if (void* p = std::malloc(size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

void BM_DefaultFtAudioMemory(benchmark::State& state) {
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::size_t before = allocatedBytes.load();
    auto audio = qor::server::FtAudio::createDefaultInitialized(fennik::server::random_uuid());
    bytes = allocatedBytes.load() - before;
    benchmark::DoNotOptimize(audio.get());
  }
  state.counters["heap_bytes"] = static_cast<double>(bytes);
  state.counters["sizeof"] = static_cast<double>(sizeof(qor::server::FtAudio));
}
BENCHMARK(BM_DefaultFtAudioMemory);

}  // namespace
