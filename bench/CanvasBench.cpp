// Canvas costs that grow with the project: automatic placement of a new item
// on a crowded layer, and a full renumbering of the stacking order.

#include "custom/VisualTreeService.h"
#include "model/GeneratedServices.h"
#include "module/HandWrittenServices.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

using qor::server::VisualItem;
using qor::server::VisualTreeService;

struct Canvas {
  std::shared_ptr<fennik::server::EntityContext> context =
      fennik::server::EntityContext::create(fennik::server::JobLoop::Mode::Manual);
  std::shared_ptr<VisualTreeService> tree;

  Canvas() {
    qor::server::addGeneratedServices(context);
    qor::server::addHandWrittenServices(context);
    context->services()->forEach([](fennik::server::Service& s) { s.loaded(); });
    tree = context->services()->get<VisualTreeService>();
  }
  ~Canvas() { context->services()->clear(); }

  // count items of 160 x 96, column by column from the top-left corner.
  void crowd(int count) {
    tree->startPostponeIndexReparation();
    for (int i = 0; i < count; ++i) {
      const int perColumn = 10000 / 96;
      tree->create((i / perColumn) * 160, (i % perColumn) * 96, 160, 96);
    }
    tree->endPostponeIndexReparation();
  }
};

void BM_AutoPlaceOnCrowdedLayer(benchmark::State& state) {
  Canvas canvas;
  canvas.crowd(static_cast<int>(state.range(0)) - 1);
  VisualItem* fresh = canvas.tree->create(0, 0, 160, 96);
  for (auto _ : state) {
    canvas.tree->moveAbsolute(fresh, 0, 0);
    canvas.tree->autoPlace(fresh, 0);
    benchmark::DoNotOptimize(fresh->getX());
  }
  state.counters["x"] = fresh->getX();
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_AutoPlaceOnCrowdedLayer)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(5000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

void BM_RenumberZ(benchmark::State& state) {
  Canvas canvas;
  canvas.crowd(static_cast<int>(state.range(0)));
  VisualItem* root = canvas.tree->root();
  for (auto _ : state) {
    // Reverse the order so every pass really rewrites every Z.
    state.PauseTiming();
    for (VisualItem* child : root->childrens()) child->setZ(-child->getZ(), false);
    state.ResumeTiming();
    canvas.tree->repairIndexes(root);
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RenumberZ)->Arg(500)->Arg(1000)->Arg(2000)->Arg(5000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace
