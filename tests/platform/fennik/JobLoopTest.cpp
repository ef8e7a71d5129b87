// The event loop: order, keyed coalescing, the background lane, failing jobs, work() from inside
// and outside the loop, and timed jobs on a hand-moved clock.

#include "fennik/server/loop/JobLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

namespace fennik::server {
namespace {

using namespace std::chrono_literals;

TEST(JobLoopTest, RunsJobsOneAtATimeInArrivalOrderIncludingJobsPostedByJobs) {
  JobLoop loop(JobLoop::Mode::Manual);
  std::vector<int> ran;
  loop.post([&] {
    ran.push_back(1);
    loop.post([&] { ran.push_back(4); });
  });
  loop.post("second", [&] { ran.push_back(2); });
  loop.post([&] { ran.push_back(3); });
  EXPECT_EQ(loop.pendingCount(), 3u);
  EXPECT_EQ(loop.runUntilIdle(), 4u);
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(loop.runUntilIdle(), 0u);
}

TEST(JobLoopTest, KeyedJobsCoalesceWhilePendingAndOnlyPerEntityAndKey) {
  JobLoop loop(JobLoop::Mode::Manual);
  const Uuid entity = random_uuid(), other = random_uuid(), key = random_uuid(), key2 = random_uuid();
  std::vector<std::string> ran;
  loop.post([&] { ran.push_back("before"); });
  const Uuid first = loop.post(entity, key, "a", [&] { ran.push_back("v1"); });
  EXPECT_EQ(loop.post(entity, key, "a", [&] { ran.push_back("v2"); }), first);
  loop.post([&] { ran.push_back("between"); });
  EXPECT_EQ(loop.post(entity, key, "a", [&] { ran.push_back("v3"); }), first);
  EXPECT_NE(loop.post(entity, key2, "b", [&] { ran.push_back("other key"); }), first);
  EXPECT_NE(loop.post(other, key, "c", [&] { ran.push_back("other entity"); }), first);
  loop.runUntilIdle();
  EXPECT_EQ(ran, (std::vector<std::string>{"before", "v3", "between", "other key", "other entity"}))
      << "the latest value runs once, in the place of the first post";

  // Once it ran, the key is free: a new post runs again.
  ran.clear();
  EXPECT_NE(loop.post(entity, key, "a", [&] { ran.push_back("again"); }), first);
  loop.runUntilIdle();
  EXPECT_EQ(ran, (std::vector<std::string>{"again"}));
}

TEST(JobLoopTest, BackgroundJobsLetOtherJobsPassButNeverStarve) {
  JobLoop loop(JobLoop::Mode::Manual);
  const Uuid meter = random_uuid(), level = random_uuid();
  std::vector<std::string> ran;
  // A burst of device reports, then a user's request: the request goes first.
  for (int i = 0; i < 3; ++i) {
    loop.post(
        random_uuid(), level, "report", [&, i] { ran.push_back("report " + std::to_string(i)); },
        JobLoop::Lane::Background);
  }
  loop.post("fader", [&] { ran.push_back("fader"); });
  EXPECT_EQ(loop.pendingCount(), 4u);
  loop.runUntilIdle();
  EXPECT_EQ(ran, (std::vector<std::string>{"fader", "report 0", "report 1", "report 2"}));

  // Background reports still coalesce per entity and key.
  ran.clear();
  loop.post(
      meter, level, "report", [&] { ran.push_back("old level"); }, JobLoop::Lane::Background);
  loop.post(
      meter, level, "report", [&] { ran.push_back("new level"); }, JobLoop::Lane::Background);
  loop.runUntilIdle();
  EXPECT_EQ(ran, (std::vector<std::string>{"new level"}));

  // Under a stream of other jobs a report waits for a bounded number of them.
  ran.clear();
  loop.post(
      meter, level, "report", [&] { ran.push_back("report"); }, JobLoop::Lane::Background);
  const std::size_t others = 3 * JobLoop::BACKGROUND_PATIENCE;
  for (std::size_t i = 0; i < others; ++i) loop.post([&] { ran.push_back("job"); });
  loop.runUntilIdle();
  const auto at = std::find(ran.begin(), ran.end(), "report") - ran.begin();
  EXPECT_LE(static_cast<std::size_t>(at), JobLoop::BACKGROUND_PATIENCE);
  EXPECT_EQ(ran.size(), others + 1);
}

TEST(JobLoopTest, AFailingJobIsLoggedAndTheLoopGoesOn) {
  JobLoop loop(JobLoop::Mode::Manual);
  bool after = false;
  loop.post("FtDelay::delayInMs", [] { throw std::runtime_error("boom"); });
  loop.post([] { throw 42; });
  loop.post([&] { after = true; });
  EXPECT_EQ(loop.runUntilIdle(), 3u);
  EXPECT_TRUE(after);
}

TEST(JobLoopTest, CancelledJobsDoNotRun) {
  JobLoop loop(JobLoop::Mode::Manual);
  bool ran = false;
  const Uuid id = loop.post([&] { ran = true; });
  const Uuid keyed = loop.post(random_uuid(), random_uuid(), "k", [&] { ran = true; });
  EXPECT_TRUE(loop.cancel(id));
  EXPECT_TRUE(loop.cancel(keyed));
  EXPECT_FALSE(loop.cancel(id));
  loop.runUntilIdle();
  EXPECT_FALSE(ran);
}

TEST(JobLoopTest, TimedJobsRunWhenTheClockHasPassedTheirDeadlineInDeadlineOrder) {
  auto clock = std::make_shared<ManualClock>();
  JobLoop loop(JobLoop::Mode::Manual, clock);
  std::vector<std::string> ran;
  loop.postAfter(3000ms, "late", [&] { ran.push_back("3000"); });
  loop.postAfter(1000ms, "early", [&] {
    ran.push_back("1000");
    loop.postAfter(1000ms, "re-armed", [&] { ran.push_back("re-armed"); });
  });
  const Uuid cancelled = loop.postAfter(1500ms, "cancelled", [&] { ran.push_back("cancelled"); });
  loop.postAfter(1000ms, "tie", [&] { ran.push_back("1000 tie"); });

  clock->advance(999ms);
  EXPECT_EQ(loop.runUntilIdle(), 0u);
  EXPECT_TRUE(loop.cancel(cancelled));
  clock->advance(1ms);
  loop.runUntilIdle();
  EXPECT_EQ(ran, (std::vector<std::string>{"1000", "1000 tie"}));
  clock->advance(2000ms);
  loop.runUntilIdle();
  EXPECT_EQ(ran, (std::vector<std::string>{"1000", "1000 tie", "re-armed", "3000"}));
  EXPECT_EQ(loop.timedCount(), 0u);
}

TEST(JobLoopTest, ThreadedWorkWaitsRunsInlineOnTheLoopAndRethrows) {
  JobLoop loop(JobLoop::Mode::Threaded);
  EXPECT_THROW(loop.work([] {}), std::logic_error) << "not started yet";
  loop.start();
  bool onLoop = false;
  bool nested = false;
  loop.work([&] {
    onLoop = loop.isLoopThread();
    loop.work([&] { nested = true; });  // inline, no deadlock
  });
  EXPECT_TRUE(onLoop);
  EXPECT_TRUE(nested);
  EXPECT_FALSE(loop.isLoopThread());
  EXPECT_THROW(loop.work([] { throw std::runtime_error("bad"); }), std::runtime_error);

  // Jobs posted from this thread run in order on the loop thread.
  std::promise<std::vector<int>> done;
  auto result = done.get_future();
  auto seen = std::make_shared<std::vector<int>>();
  for (int i = 0; i < 100; ++i) loop.post([seen, i] { seen->push_back(i); });
  loop.post([&, seen] { done.set_value(*seen); });
  ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
  auto values = result.get();
  ASSERT_EQ(values.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(values[i], i);

  // A real-time timer wakes the sleeping loop.
  std::promise<void> fired;
  loop.postAfter(10ms, "timer", [&] { fired.set_value(); });
  EXPECT_EQ(fired.get_future().wait_for(10s), std::future_status::ready);
  loop.stop();
  EXPECT_FALSE(loop.isRunning());
}

}  // namespace
}  // namespace fennik::server
