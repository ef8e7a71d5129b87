// The entity model's light signal keeps the rules of a signals2 signal that
// the services rely on, with ordinary signals2 connections.

#include "fennik/server/entity/LoopSignal.h"

#include <boost/signals2/shared_connection_block.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using fennik::server::detail::LoopSignal;

TEST(LoopSignalTest, CallsInOrderAndSkipsWhatWasDisconnectedOrBlockedBeforeItsTurn) {
  LoopSignal<int> signal;
  std::vector<std::string> calls;
  boost::signals2::connection third;
  auto first = signal.connect([&](int v) {
    calls.push_back("first " + std::to_string(v));
    third.disconnect();
  });
  signal.connect([&](int v) { calls.push_back("second " + std::to_string(v)); });
  third = signal.connect([&](int v) { calls.push_back("third " + std::to_string(v)); });
  EXPECT_TRUE(third.connected());

  signal(1);
  EXPECT_EQ(calls, (std::vector<std::string>{"first 1", "second 1"}));
  EXPECT_FALSE(third.connected());

  calls.clear();
  {
    boost::signals2::shared_connection_block block(first);
    EXPECT_TRUE(first.blocked());
    signal(2);
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"second 2"}));
  calls.clear();
  signal(3);
  EXPECT_EQ(calls, (std::vector<std::string>{"first 3", "second 3"}));
}

TEST(LoopSignalTest, ASlotConnectedWhileFiringWaitsForTheNextEmission) {
  LoopSignal<> signal;
  int late = 0;
  int early = 0;
  signal.connect([&] {
    ++early;
    if (early == 1) signal.connect([&] { ++late; });
  });
  signal();
  EXPECT_EQ(early, 1);
  EXPECT_EQ(late, 0);
  signal();
  EXPECT_EQ(early, 2);
  EXPECT_EQ(late, 1);
}

TEST(LoopSignalTest, ASlotThatDisconnectsItselfFinishesItsCallAndIsReleasedAfter) {
  LoopSignal<> signal;
  auto captured = std::make_shared<int>(7);
  std::weak_ptr<int> watch = captured;
  boost::signals2::connection self;
  int seen = 0;
  self = signal.connect([&self, &seen, captured] {
    self.disconnect();
    // Still alive while the call runs.
    seen = *captured;
  });
  captured.reset();
  EXPECT_FALSE(watch.expired());
  signal();
  EXPECT_EQ(seen, 7);
  EXPECT_TRUE(watch.expired());
  EXPECT_TRUE(signal.empty());
}

TEST(LoopSignalTest, DisconnectReleasesTheSlotAtOnceAndDestroyingTheSignalDisconnectsAll) {
  auto captured = std::make_shared<int>(1);
  std::weak_ptr<int> watch = captured;
  auto signal = std::make_unique<LoopSignal<int>>();
  auto kept = signal->connect([captured](int) {});
  boost::signals2::connection other = signal->connect([](int) {});
  captured.reset();
  EXPECT_FALSE(watch.expired());
  kept.disconnect();
  EXPECT_TRUE(watch.expired());
  EXPECT_FALSE(signal->empty());

  {
    boost::signals2::scoped_connection scoped = signal->connect([](int) {});
    EXPECT_TRUE(scoped.connected());
  }
  signal.reset();
  EXPECT_FALSE(other.connected());
  other.disconnect();  // harmless on a gone signal
}

TEST(LoopSignalTest, AnExceptionFromASlotReachesTheCallerAndTheSignalStaysUsable) {
  LoopSignal<int> signal;
  int calls = 0;
  signal.connect([&](int v) {
    ++calls;
    if (v < 0) throw std::runtime_error("negative");
  });
  EXPECT_THROW(signal(-1), std::runtime_error);
  signal(1);
  EXPECT_EQ(calls, 2);
}

TEST(LoopSignalTest, ManyConnectAndDisconnectCyclesKeepOnlyTheLiveSlots) {
  LoopSignal<> signal;
  int calls = 0;
  auto stays = signal.connect([&] { ++calls; });
  for (int i = 0; i < 1000; ++i) signal.connect([&] { calls += 1000; }).disconnect();
  signal();
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(stays.connected());
}

}  // namespace
