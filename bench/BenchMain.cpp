// The benchmarks' main: the server's heap set-up, then Google Benchmark's
// usual main, so a bench measures the process the way the server runs.

#include "fennik/server/core/HugePageHeap.h"

#include <benchmark/benchmark.h>

int main(int argc, char** argv) {
  fennik::server::useHugePageHeap(argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
