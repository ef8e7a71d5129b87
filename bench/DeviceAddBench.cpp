// Putting devices into a project: adding eight-channel amplifiers by type
// (naming, power-on delay, project totals, canvas placement and selection)
// against the bare creation of the same devices through the device plant,
// adding the same number from the discovered-device list, copying and
// pasting a selection of them, and catalog queries over a thousand device
// types.
// Run: build/default/bin/device_add_bench

#include "Qa8Project.h"
#include "amplifiers/AmplifierModels.h"
#include "amplifiers/SimAmplifier.h"
#include "custom/catalog/CatalogService.h"
#include "custom/deviceplant/DevicePlant.h"
#include "custom/livesound/LivesoundService.h"
#include "model/GeneratedServices.h"
#include "module/HandWrittenServices.h"
#include "service/SessionWindowService.h"

#include "qor/devicediscovery/DiscoveredDevice.h"
#include "qor/server/entities/All.h"
#include "qor/server/services/FtEqFilterService.h"

#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using qor::bench::Project;
using namespace qor::server;

void reportPerDevice(benchmark::State& state) {
  state.SetComplexityN(state.range(0));
  state.counters["per_device"] = benchmark::Counter(
      static_cast<double>(state.range(0)), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Baseline: the device plant alone makes the devices with their features and driver.
void BM_PlantCreate(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto project = std::make_unique<Project>();
    state.ResumeTiming();
    for (int i = 0; i < state.range(0); ++i) project->plant()->create(project->type, fennik::server::random_uuid());
    state.PauseTiming();
    project.reset();
    state.ResumeTiming();
  }
  reportPerDevice(state);
}
BENCHMARK(BM_PlantCreate)->Arg(50)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

// What a client's "/deviceAdd" does, one device at a time, placed automatically.
void BM_DeviceAddByType(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto project = std::make_unique<Project>();
    auto& livesound = *project->context->services()->get<LivesoundService>();
    state.ResumeTiming();
    for (int i = 0; i < state.range(0); ++i) livesound.deviceAdd(project->type, 0, 0, true);
    state.PauseTiming();
    project.reset();
    state.ResumeTiming();
  }
  reportPerDevice(state);
}
BENCHMARK(BM_DeviceAddByType)->Arg(50)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

// What a client's "/discoveredDeviceAddAll" does with that many eight-channel
// amplifiers listed by discovery: sorted by name, added, mapped, named as the
// network names them, placed side by side and selected.
void BM_DiscoveredDeviceAddAll(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto project = std::make_unique<Project>();
    auto& db = *project->context->db();
    for (int i = 0; i < state.range(0); ++i) {
      const std::string physicalId = "qa8-" + std::to_string(i);
      auto found = DiscoveredDevice::createDefaultInitialized(DiscoveredDevice::idFor(physicalId));
      found->setPhysicalDeviceId(physicalId, false);
      found->setDeviceType("QA-8", false);
      found->setName("Hang " + std::to_string(i % 10) + " amp " + std::to_string(i), false);
      db.add(std::move(found));
    }
    auto& livesound = *project->context->services()->get<LivesoundService>();
    state.ResumeTiming();
    livesound.discoveredDeviceAddAll(0, 0);
    state.PauseTiming();
    project.reset();
    state.ResumeTiming();
  }
  reportPerDevice(state);
}
BENCHMARK(BM_DiscoveredDeviceAddAll)
    ->Arg(50)
    ->Arg(100)
    ->Arg(200)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// Every equaliser filter of every amplifier tuned away from its defaults, so
// that a copy has to write all of them (the worst case for a paste).
void tuneEveryFilter(Project& project) {
  auto& filters = *project.context->services()->get<FtEqFilterService>();
  double gain = -6.0;
  for (auto* filter : project.context->db()->all<FtEqFilter>()) {
    filters.setGainInDb(filter, gain, false);
    filters.setBypass(filter, false, false);
    filters.setFreqInHz(filter, 125.0 + gain * -10.0, false);
    gain = gain > 5.0 ? -6.0 : gain + 0.5;
  }
}

// What a client's "/visualItemCopySelected" and "/visualItemPaste" do with
// that many amplifiers selected: each copied (a new device of its type with
// its settings, named from the counters), put beside its original and
// selected. "copies" counts the pasted items that ended selected. Second
// argument 1: every filter of the originals tuned first (tuneEveryFilter);
// 0: the amplifiers as added, their filters at the defaults.
void BM_CopyPasteSelection(benchmark::State& state) {
  std::size_t copies = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto project = std::make_unique<Project>();
    auto& livesound = *project->context->services()->get<LivesoundService>();
    for (int i = 0; i < state.range(0); ++i) livesound.deviceAdd(project->type, 0, 0, true);
    if (state.range(1) != 0) tuneEveryFilter(*project);
    livesound.visualItemSelectAll();
    state.ResumeTiming();
    livesound.visualItemCopySelected();
    livesound.visualItemPaste();
    state.PauseTiming();
    copies = project->context->services()->get<SessionWindowService>()->selectedItems().size();
    project.reset();
    state.ResumeTiming();
  }
  reportPerDevice(state);
  state.counters["copies"] = static_cast<double>(copies);
}
BENCHMARK(BM_CopyPasteSelection)
    ->ArgNames({"devices", "tuned"})
    ->Args({50, 0})
    ->Args({200, 0})
    ->Args({200, 1})
    ->Unit(benchmark::kMillisecond);

// A factory that only describes a type, for a large catalog.
class DescribedType : public DeviceFactory {
 public:
  explicit DescribedType(int n)
      : descriptor_{fennik::server::random_uuid(), "Vendor " + std::to_string(n % 7), "M-" + std::to_string(n),
                    "Model " + std::to_string(n) + (n % 2 ? " amplifier" : " matrix"),
                    n % 2 ? DeviceDescriptor::AMPLIFIER : DeviceDescriptor::MATRIX} {}
  Device* create(DeviceType*, const fennik::server::Uuid&) override { return nullptr; }
  std::unique_ptr<fennik::devices::FennikDevice> createDriver(DeviceType*) override { return nullptr; }
  void connect(Device*) override {}
  Device* duplicate(const fennik::server::Uuid&) override { return nullptr; }
  Device* createGroup(Device* group, const std::vector<Device*>&) override { return group; }
  void destroy(const fennik::server::Uuid&) override {}
  const DeviceDescriptor& descriptor() const override { return descriptor_; }
  void releaseAll() override {}

 private:
  DeviceDescriptor descriptor_;
};

// Three typical queries (a word, a field with an exclusion, everything)
// over 1000 device types.
void BM_CatalogQuery1000Types(benchmark::State& state) {
  Project project;
  std::vector<std::unique_ptr<DescribedType>> types;
  for (int n = 0; n < 1000; ++n) {
    types.push_back(std::make_unique<DescribedType>(n));
    project.plant()->registerFactory(types.back()->descriptor().id, types.back().get());
  }
  auto catalog = project.context->services()->get<CatalogService>();
  const std::vector<CatalogTokens> queries{CatalogService::tokenize("amplifier"),
                                           CatalogService::tokenize("vendor:3 -model:1"), CatalogTokens{}};
  std::size_t items = 0;
  for (auto _ : state) {
    const auto result = catalog->deviceCatalogQuery(queries);
    items = 0;
    for (const auto& [tokens, found] : result) items += found.size();
    benchmark::DoNotOptimize(items);
  }
  state.counters["items"] = static_cast<double>(items);
}
BENCHMARK(BM_CatalogQuery1000Types)->Unit(benchmark::kMillisecond);

}  // namespace
