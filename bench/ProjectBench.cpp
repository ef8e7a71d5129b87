// Saving and opening a large project (200 amplifiers of 4 channels with all
// their features, in groups of 50), against parsing and dumping the same
// "entities.json" with the JSON library alone, in the same run.

#include "ShowProject.h"
#include "amplifiers/AmplifierModels.h"
#include "amplifiers/SimAmplifier.h"
#include "custom/deviceplant/DevicePlant.h"
#include "support/LargeProject.h"
#include "support/ProjectFiles.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/DeviceType.h"

#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/project/HostInterface.h"
#include "fennik/server/project/ProjectManager.h"
#include "fennik/server/service/ServiceResolver.h"

#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <chrono>
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

// Times opening the file. What the open leaves queued on the loop (the
// replaced project's entities, freed a slice at a time in the background
// lane) runs after each open, outside the timing: after_open_ms.
void timeOpens(benchmark::State& state, ProjectManager& project, const fs::path& file,
               fennik::server::EntityContext& context) {
  double after = 0;
  for (auto _ : state) {
    project.open(file);
    state.PauseTiming();
    const auto start = std::chrono::steady_clock::now();
    context.loop()->runUntilIdle();
    after += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    state.ResumeTiming();
  }
  state.counters["after_open_ms"] = benchmark::Counter(after / static_cast<double>(state.iterations()));
}

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
  timeOpens(state, p.project, p.file, *p.context);
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

// simdjson over the same bytes: its whole-document parse (every value
// checked into its tape), and its streaming parser walking every value of the
// document once, which is the least any streaming reading does.
void BM_SimdjsonDomParse(benchmark::State& state) {
  auto& p = large();
  const simdjson::padded_string text(p.entitiesJson);
  simdjson::dom::parser parser;
  for (auto _ : state) {
    simdjson::dom::element doc;
    if (parser.parse(text).get(doc)) state.SkipWithError("simdjson refused the document");
    benchmark::DoNotOptimize(doc);
  }
  p.counters(state);
}
BENCHMARK(BM_SimdjsonDomParse)->Unit(benchmark::kMillisecond);

bool walk(simdjson::ondemand::value value) {
  using simdjson::ondemand::json_type;
  json_type type;
  if (value.type().get(type)) return false;
  switch (type) {
    case json_type::array:
      for (auto item : value.get_array()) {
        simdjson::ondemand::value v;
        if (item.get(v) || !walk(v)) return false;
      }
      return true;
    case json_type::object:
      for (auto field : value.get_object()) {
        std::string_view key;
        if (field.unescaped_key().get(key) || !walk(field.value())) return false;
      }
      return true;
    case json_type::number: {
      double d;
      return !value.get_double().get(d);
    }
    case json_type::string: {
      std::string_view s;
      return !value.get_string().get(s);
    }
    case json_type::boolean: {
      bool b;
      return !value.get_bool().get(b);
    }
    case json_type::null:
      return true;
  }
  return false;
}

void BM_SimdjsonOnDemandWalk(benchmark::State& state) {
  auto& p = large();
  const simdjson::padded_string text(p.entitiesJson);
  simdjson::ondemand::parser parser;
  for (auto _ : state) {
    simdjson::ondemand::document doc;
    simdjson::ondemand::object root;
    bool ok = !parser.iterate(text).get(doc) && !doc.get_object().get(root);
    for (auto field : root) {
      std::string_view key;
      ok = ok && !field.unescaped_key().get(key) && walk(field.value());
    }
    if (!ok) state.SkipWithError("simdjson refused the document");
  }
  p.counters(state);
}
BENCHMARK(BM_SimdjsonOnDemandWalk)->Unit(benchmark::kMillisecond);

template <class J>
void BM_JsonDump(benchmark::State& state) {
  auto& p = large();
  const J doc = J::parse(p.entitiesJson);
  for (auto _ : state) benchmark::DoNotOptimize(doc.dump());
  p.counters(state);
}
BENCHMARK_TEMPLATE(BM_JsonDump, nlohmann::json)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_JsonDump, nlohmann::ordered_json)->Unit(benchmark::kMillisecond);

// The show-size system: a thousand eight-channel amplifiers in hangs of
// fifty, with visual items and layers, saved once and opened again. Opening
// includes connecting every amplifier to its driver again.
struct Show {
  Show() : folder(fennik::server::HostInterface::createTemporaryFolder("qorshow")) {
    rig.build();
    file = folder / "show.qor";
    rig.project->saveAs(file);
    entities = rig.context->db()->size();
  }
  ~Show() { fennik::server::HostInterface::removeFolder(folder); }
  void counters(benchmark::State& state) const {
    state.counters["entities"] = static_cast<double>(entities);
    state.counters["fileBytes"] = static_cast<double>(fs::file_size(file));
  }

  fs::path folder;
  qor::bench::ShowRig rig;
  fs::path file;
  std::size_t entities = 0;
};

Show& show() {
  static Show s;
  return s;
}

void BM_ShowSave(benchmark::State& state) {
  auto& s = show();
  for (auto _ : state) s.rig.project->save();
  s.counters(state);
}
BENCHMARK(BM_ShowSave)->Unit(benchmark::kMillisecond);

void BM_ShowOpen(benchmark::State& state) {
  auto& s = show();
  timeOpens(state, *s.rig.project, s.file, *s.rig.context);
  s.counters(state);
}
BENCHMARK(BM_ShowOpen)->Unit(benchmark::kMillisecond);

// The same size of project made of real devices: 200 four-channel
// amplifiers created through the device plant, each with its simulated
// driver, so saving stores every driver's settings and opening gives each
// device a new driver that starts with them.
struct DeviceProject {
  DeviceProject()
      : folder(fennik::server::HostInterface::createTemporaryFolder("qorbench")),
        context(qor::server::testing::makeProjectContext()),
        network(fennik::devices::SimulatedNetwork::create(fennik::devices::SimulatedNetwork::Mode::Manual)),
        project(context, "bench") {
    fennik::server::setLogLevel(spdlog::level::warn);
    plant = context->services()->get<qor::server::DevicePlant>();
    network->registerModel(qor::devicetypes::qa4Model());
    amps = std::make_shared<qor::devicetypes::Qa4Amplifier>(context->db(), context->loop(), context->services(),
                                                            network, qor::devicetypes::qa4Descriptor(),
                                                            qor::devicetypes::qa4Model());
    context->services()->add(amps);
    plant->registerFactory(qor::devicetypes::qa4Descriptor().id, amps.get());
    project.newProject();
    auto* type = context->db()->get<qor::server::DeviceType>(qor::devicetypes::qa4Descriptor().id);
    for (int i = 0; i < 200; ++i) plant->create(type, fennik::server::random_uuid());
    file = folder / "devices.qor";
    project.saveAs(file);
    entities = context->db()->size();
  }
  ~DeviceProject() {
    project.close();
    context->services()->clear();
    fennik::server::HostInterface::removeFolder(folder);
  }
  void counters(benchmark::State& state) const {
    state.counters["entities"] = static_cast<double>(entities);
    state.counters["fileBytes"] = static_cast<double>(fs::file_size(file));
  }

  fs::path folder;
  std::shared_ptr<fennik::server::EntityContext> context;
  std::shared_ptr<fennik::devices::SimulatedNetwork> network;
  ProjectManager project;
  std::shared_ptr<qor::server::DevicePlant> plant;
  std::shared_ptr<qor::devicetypes::Qa4Amplifier> amps;
  fs::path file;
  std::size_t entities = 0;
};

DeviceProject& devices() {
  static DeviceProject project;
  return project;
}

void BM_DeviceProjectSave(benchmark::State& state) {
  auto& p = devices();
  for (auto _ : state) p.project.save();
  p.counters(state);
}
BENCHMARK(BM_DeviceProjectSave)->Unit(benchmark::kMillisecond);

void BM_DeviceProjectOpen(benchmark::State& state) {
  auto& p = devices();
  timeOpens(state, p.project, p.file, *p.context);
  p.counters(state);
}
BENCHMARK(BM_DeviceProjectOpen)->Unit(benchmark::kMillisecond);

// The drivers' share of the save: reading 200 drivers and writing their entries.
void BM_DeviceProjectDriverStoreSave(benchmark::State& state) {
  auto& p = devices();
  auto container = p.project.container();
  for (auto _ : state) p.plant->save(*container);
}
BENCHMARK(BM_DeviceProjectDriverStoreSave)->Unit(benchmark::kMillisecond);

// The drivers' share of the open: reading and checking the 200 entries
// (the plant's load), and readying the 200 new drivers with them (loaded).
void BM_DeviceProjectDriverStoreLoad(benchmark::State& state) {
  auto& p = devices();
  auto container = p.project.container();
  p.plant->save(*container);
  for (auto _ : state) p.plant->load(*container);
}
BENCHMARK(BM_DeviceProjectDriverStoreLoad)->Unit(benchmark::kMillisecond);

}  // namespace
