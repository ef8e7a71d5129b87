// Loading a speaker database of 2000 products from its JSON text against
// loading it from its precompiled (FlatBuffers) form, in the same run. Both
// include every check the server makes before it uses a database.
// Run: build/default/bin/speakerdb_bench

#include "LargeSpeakerDatabase.h"

#include "fennik/common/speakerdb/JsonSpeakerDatabase.h"

#include <benchmark/benchmark.h>

namespace {

using namespace fennik::common::speakerdb;

const std::string& jsonText() {
  static const std::string text = qor::bench::largeSpeakerDatabaseJson();
  return text;
}

const std::string& precompiled() {
  static const std::string binary = JsonSpeakerDatabase::fromJson(jsonText())->toFlatbufferData();
  return binary;
}

void BM_LoadFromJson(benchmark::State& state) {
  const std::string& text = jsonText();
  for (auto _ : state) {
    auto db = JsonSpeakerDatabase::fromJson(text, "bench.sdb");
    benchmark::DoNotOptimize(db);
  }
  state.counters["products"] = 2000;
  state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_LoadFromJson)->Unit(benchmark::kMillisecond);

void BM_LoadFromPrecompiled(benchmark::State& state) {
  const std::string& binary = precompiled();
  for (auto _ : state) {
    auto db = JsonSpeakerDatabase::fromFlatbuffer(binary, "bench.bin");
    benchmark::DoNotOptimize(db);
  }
  state.counters["products"] = 2000;
  state.counters["bytes"] = static_cast<double>(binary.size());
}
BENCHMARK(BM_LoadFromPrecompiled)->Unit(benchmark::kMillisecond);

}  // namespace
