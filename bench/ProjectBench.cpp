// Saving and opening a large project (200 amplifiers of 4 channels with all
// their features, in groups of 50), against parsing and dumping the same
// "entities.json" with the JSON library alone, in the same run.

#include "support/LargeProject.h"
#include "support/ProjectFiles.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/project/HostInterface.h"
#include "fennik/server/project/ProjectManager.h"
#include "fennik/server/service/ServiceResolver.h"

#include <benchmark/benchmark.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;
using fennik::server::ProjectManager;

struct LargeProject {
  LargeProject()
      : folder(fennik::server::HostInterface::createTemporaryFolder("qorbench")),
        context(qor::server::testing::makeProjectContext()),
        project(context, "bench") {
    project.newProject();
    qor::server::testing::buildLargeProject(context);
    file = folder / "large.qor";
    project.saveAs(file);
    entities = context->db()->size();
    // The open project keeps its entities in the database; the saved text
    // comes from the file.
    const fs::path unpacked = folder / "unpacked";
    fennik::server::HostInterface::unzip(file, unpacked);
    entitiesJson = fennik::server::FileContainer(unpacked).get(ProjectManager::ENTITIES_ENTRY);
  }
  ~LargeProject() {
    project.close();
    context->services()->clear();
    fennik::server::HostInterface::removeFolder(folder);
  }
  void counters(benchmark::State& state) const {
    state.counters["entities"] = static_cast<double>(entities);
    state.counters["fileBytes"] = static_cast<double>(fs::file_size(file));
    state.counters["jsonBytes"] = static_cast<double>(entitiesJson.size());
  }

  fs::path folder;
  std::shared_ptr<fennik::server::EntityContext> context;
  ProjectManager project;
  fs::path file;
  std::size_t entities = 0;
  std::string entitiesJson;
};

LargeProject& large() {
  static LargeProject project;
  return project;
}

void BM_ProjectSave(benchmark::State& state) {
  auto& p = large();
  for (auto _ : state) p.project.save();
  p.counters(state);
}
BENCHMARK(BM_ProjectSave)->Unit(benchmark::kMillisecond);

void BM_ProjectOpen(benchmark::State& state) {
  auto& p = large();
  for (auto _ : state) p.project.open(p.file);
  p.counters(state);
}
BENCHMARK(BM_ProjectOpen)->Unit(benchmark::kMillisecond);

template <class J>
void BM_JsonParse(benchmark::State& state) {
  auto& p = large();
  for (auto _ : state) benchmark::DoNotOptimize(J::parse(p.entitiesJson));
  p.counters(state);
}
BENCHMARK_TEMPLATE(BM_JsonParse, nlohmann::json)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_JsonParse, nlohmann::ordered_json)->Unit(benchmark::kMillisecond);

template <class J>
void BM_JsonDump(benchmark::State& state) {
  auto& p = large();
  const J doc = J::parse(p.entitiesJson);
  for (auto _ : state) benchmark::DoNotOptimize(doc.dump());
  p.counters(state);
}
BENCHMARK_TEMPLATE(BM_JsonDump, nlohmann::json)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_JsonDump, nlohmann::ordered_json)->Unit(benchmark::kMillisecond);

}  // namespace
