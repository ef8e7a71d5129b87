// The device catalog with a speaker database of 2000 products in use: what a
// client's search box costs. Each visible product is offered as a speaker,
// as each of its six modes and as each band of each mode (about 29 000
// items). Goal: a query answers in under 5 ms.
// Run: build/default/bin/speaker_catalog_bench

#include "LargeSpeakerDatabase.h"

#include "custom/catalog/CatalogService.h"
#include "model/GeneratedServices.h"
#include "module/HandWrittenServices.h"
#include "service/SpeakerDatabaseService.h"

#include "fennik/server/core/HostPaths.h"
#include "fennik/server/project/HostInterface.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace qor::server;

// A server whose only speaker database is the large one; without the
// catalog service, to weigh what making the catalog's items adds to a load.
struct Server {
  fs::path folder = fennik::server::HostInterface::createTemporaryFolder("speaker-catalog-bench");
  std::shared_ptr<fennik::server::EntityContext> context =
      fennik::server::EntityContext::create(fennik::server::JobLoop::Mode::Manual);

  explicit Server(bool withCatalog = true) {
    fs::create_directories(folder / "speakerdb");
    std::ofstream(folder / "speakerdb" / "bench.sdb") << qor::bench::largeSpeakerDatabaseJson();
    addGeneratedServices(context);
    addHandWrittenServices(context);
    if (!withCatalog) context->services()->remove<CatalogService>();
    auto databases = context->services()->get<SpeakerDatabaseService>();
    databases->clearLoadPathes();
    databases->setDataFolder(folder / "data");
    databases->pushLoadPath((folder / "speakerdb").string());
    databases->loadAllDatabases();
  }
  ~Server() {
    context->services()->clear();
    fennik::server::HostInterface::removeFolder(folder);
  }
  CatalogService& catalog() const { return *context->services()->get<CatalogService>(); }
};

Server& server() {
  static Server s;
  return s;
}

void query(benchmark::State& state, const char* text) {
  auto& catalog = server().catalog();
  const std::vector<CatalogTokens> queries{CatalogService::tokenize(text)};
  std::size_t items = 0;
  for (auto _ : state) {
    auto result = catalog.deviceCatalogQuery(queries);
    items = result.begin()->second.size();
    benchmark::DoNotOptimize(result);
  }
  state.counters["items"] = static_cast<double>(items);
}

// One model's speaker, modes and bands.
void BM_CatalogQueryOneModel(benchmark::State& state) { query(state, "model:b17-3"); }
BENCHMARK(BM_CatalogQueryOneModel)->Unit(benchmark::kMillisecond);

// Every speech mode of a family: words in two fields.
void BM_CatalogQueryModesOfAFamily(benchmark::State& state) { query(state, "kind:speakermode b17- speech -band"); }
BENCHMARK(BM_CatalogQueryModesOfAFamily)->Unit(benchmark::kMillisecond);

// Every product as a speaker (1800 items).
void BM_CatalogQueryAllSpeakers(benchmark::State& state) { query(state, "kind:speaker -kind:speakermode"); }
BENCHMARK(BM_CatalogQueryAllSpeakers)->Unit(benchmark::kMillisecond);

// The whole catalog: every item in the result (shared, not copied).
void BM_CatalogQueryEverything(benchmark::State& state) { query(state, ""); }
BENCHMARK(BM_CatalogQueryEverything)->Unit(benchmark::kMillisecond);

// Loading the databases (from their precompiled copies): the catalog's
// speaker items are made with them, and the same load without the catalog.
void BM_LoadingTheDatabasesWithTheCatalog(benchmark::State& state) {
  auto databases = server().context->services()->get<SpeakerDatabaseService>();
  for (auto _ : state) databases->loadAllDatabases();
}
BENCHMARK(BM_LoadingTheDatabasesWithTheCatalog)->Unit(benchmark::kMillisecond);

void BM_LoadingTheDatabasesAlone(benchmark::State& state) {
  static Server alone(false);
  auto databases = alone.context->services()->get<SpeakerDatabaseService>();
  for (auto _ : state) databases->loadAllDatabases();
}
BENCHMARK(BM_LoadingTheDatabasesAlone)->Unit(benchmark::kMillisecond);

// The first query after the databases were loaded: the items are there.
void BM_CatalogFirstQueryAfterLoading(benchmark::State& state) {
  auto& catalog = server().catalog();
  auto databases = server().context->services()->get<SpeakerDatabaseService>();
  const std::vector<CatalogTokens> queries{CatalogService::tokenize("model:b17-3")};
  for (auto _ : state) {
    state.PauseTiming();
    databases->loadAllDatabases();
    state.ResumeTiming();
    benchmark::DoNotOptimize(catalog.deviceCatalogQuery(queries));
  }
}
BENCHMARK(BM_CatalogFirstQueryAfterLoading)->Unit(benchmark::kMillisecond);

}  // namespace
