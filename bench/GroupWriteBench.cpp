// A normal write to a group over 1000 leaf members, each linked to a peer in
// another group, against a plain loop storing 1000 doubles and firing one
// signal each; and an external write re-aggregating three levels up.

#include "BenchContext.h"

#include "qor/server/services/FtDelayService.h"

#include <benchmark/benchmark.h>
#include <boost/signals2/signal.hpp>

#include <vector>

namespace {

using qor::server::FtDelay;
using qor::server::FtDelayService;

constexpr int LEAVES = 1000;

struct LinkedGroups {
  std::shared_ptr<fennik::server::EntityContext> context = qor::bench::makeContext();
  std::shared_ptr<FtDelayService> delays = context->services()->get<FtDelayService>();
  FtDelay* group = delays->create();
  FtDelay* peerGroup = delays->create();
  std::vector<FtDelay*> leaves;
  std::vector<boost::signals2::scoped_connection> listeners;
  std::int64_t heard = 0;

  explicit LinkedGroups(bool listen) {
    for (int i = 0; i < LEAVES; ++i) {
      FtDelay* leaf = delays->create();
      FtDelay* peer = delays->create();
      delays->addChild(group, leaf, true);
      delays->addChild(peerGroup, peer, true);
      leaf->addLinked(peer);
      peer->addLinked(leaf);
      leaves.push_back(leaf);
      if (listen) listeners.emplace_back(leaf->onDelayInMsChanged([this](const double&, bool) { ++heard; }));
    }
  }
};

void BM_GroupNormalWrite1000Linked(benchmark::State& state) {
  LinkedGroups g(state.range(0) != 0);
  double value = 0.0;
  for (auto _ : state) {
    value += 1.0;
    g.delays->setDelayInMs(g.group, value, false);
  }
  benchmark::DoNotOptimize(g.heard);
  state.SetItemsProcessed(state.iterations() * LEAVES);
  state.SetLabel(state.range(0) ? "one listener per leaf" : "nobody listening");
}
BENCHMARK(BM_GroupNormalWrite1000Linked)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The baseline: the same number of doubles, each stored and announced through
// its own signal with one listener.
void BM_BaselineStoreAndSignal1000(benchmark::State& state) {
  std::vector<double> values(LEAVES);
  std::vector<boost::signals2::signal<void(const double&, bool)>> signals(LEAVES);
  std::int64_t heard = 0;
  for (auto& s : signals) s.connect([&heard](const double&, bool) { ++heard; });
  double value = 0.0;
  for (auto _ : state) {
    value += 1.0;
    for (int i = 0; i < LEAVES; ++i) {
      values[i] = value;
      signals[i](values[i], false);
    }
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(heard);
  state.SetItemsProcessed(state.iterations() * LEAVES);
}
BENCHMARK(BM_BaselineStoreAndSignal1000)->Unit(benchmark::kMicrosecond);

// leaf -> level1 -> level2 -> level3, each group with ten members.
void BM_ExternalWriteThreeLevelsUp(benchmark::State& state) {
  auto context = qor::bench::makeContext();
  auto delays = context->services()->get<FtDelayService>();
  FtDelay* level3 = delays->create();
  FtDelay* level2 = delays->create();
  FtDelay* level1 = delays->create();
  FtDelay* leaf = delays->create();
  delays->addChild(level3, level2, true);
  delays->addChild(level2, level1, true);
  delays->addChild(level1, leaf, true);
  for (FtDelay* g : {level1, level2, level3}) {
    for (int i = 0; i < 9; ++i) delays->addChild(g, delays->create(), true);
  }
  bool toggle = false;
  for (auto _ : state) {
    toggle = !toggle;
    delays->setDelayInMs(leaf, toggle ? 5.0 : 0.0, true);
  }
  benchmark::DoNotOptimize(level3->getDelayInMsConsistent());
}
BENCHMARK(BM_ExternalWriteThreeLevelsUp);

}  // namespace
