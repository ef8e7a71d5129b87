#pragma once
// The single event loop on which all model work runs: jobs run one at a time
// in arrival order; keyed jobs coalesce; timed jobs run when their deadline
// has passed on the loop's clock. Background jobs (what devices report) wait
// while other jobs are queued, so a user's request does not queue behind a
// burst of meter reports; a background job waits behind at most
// BACKGROUND_PATIENCE other jobs, so reports never starve. Either runs its own thread (threaded mode)
// or is driven by hand (manual mode, for tests: runUntilIdle()).

#include "fennik/server/core/Uuid.h"
#include "fennik/server/loop/Clock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

namespace fennik::server {

class JobLoop {
 public:
  using Job = std::function<void()>;
  enum class Mode { Threaded, Manual };
  enum class Lane { Normal, Background };
  static constexpr std::size_t BACKGROUND_PATIENCE = 16;

  explicit JobLoop(Mode mode, std::shared_ptr<Clock> clock = std::make_shared<SteadyClock>());
  ~JobLoop();
  JobLoop(const JobLoop&) = delete;
  JobLoop& operator=(const JobLoop&) = delete;

  Mode mode() const { return mode_; }
  Clock& clock() const { return *clock_; }
  std::shared_ptr<Clock> sharedClock() const { return clock_; }

  // Threaded mode: starts and stops the loop thread. stop() runs the jobs
  // already queued, then joins; timed jobs not yet due are dropped.
  void start();
  void stop();
  bool isRunning() const;

  // True on the loop thread (threaded mode) and always in manual mode, where
  // the thread that drives the loop owns it.
  bool isLoopThread() const;

  // Runs the job on the loop and returns when it has run; inline when called
  // on the loop thread. Exceptions of the job pass to the caller.
  void work(const Job& job);

  // Queues a job; returns its id. A job that throws is logged with its label.
  Uuid post(Job job);
  Uuid post(std::string label, Job job);
  // Keyed job: while a job for the same (entity, key) is still queued, the new
  // job replaces that job's function and label in place (one run, latest
  // value wins) and the pending job's id is returned.
  Uuid post(const Uuid& entity, const Uuid& key, std::string label, Job job, Lane lane = Lane::Normal);

  // Timed job: queued once the loop's clock has advanced by `delay`.
  Uuid postAfter(std::chrono::milliseconds delay, std::string label, Job job);
  // Cancels a queued or timed job that has not started; false when unknown.
  bool cancel(const Uuid& jobId);

  // Manual mode: runs queued jobs and timed jobs that are due, including the
  // ones those jobs post, until nothing is ready. Returns the number run.
  std::size_t runUntilIdle();

  // Runs on the loop thread after every job (and after a failed one); the
  // network layer batches the changes a job made into one notification each.
  // Setting it again replaces it; an empty function removes it.
  void setAfterJobHook(Job hook);

  // Jobs queued (not counting timed jobs that are not yet due).
  std::size_t pendingCount() const;
  std::size_t timedCount() const;

 private:
  struct Entry;
  using EntryPtr = std::shared_ptr<Entry>;
  using Key = std::pair<Uuid, Uuid>;
  struct KeyHash {
    std::size_t operator()(const Key& k) const noexcept;
  };

  Uuid enqueueLocked(EntryPtr entry);
  void moveDueTimersLocked();
  EntryPtr takeNextLocked();
  static EntryPtr popLiveLocked(std::deque<EntryPtr>& queue);
  void runEntry(const EntryPtr& entry);
  void threadMain();

  const Mode mode_;
  std::shared_ptr<Clock> clock_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<EntryPtr> queue_;
  std::deque<EntryPtr> background_;
  std::size_t normalInARow_ = 0;  // normal jobs run since the last background one
  std::unordered_map<Key, EntryPtr, KeyHash> pendingByKey_;
  std::unordered_map<Uuid, EntryPtr, UuidHash> byId_;
  std::multimap<std::pair<Clock::time_point, std::uint64_t>, EntryPtr> timed_;
  std::uint64_t sequence_ = 0;
  bool running_ = false;
  bool stopping_ = false;
  std::thread thread_;
  std::atomic<std::thread::id> loopThreadId_{};
  // Read after every job without the mutex, which the posting threads keep
  // busy (a wait for it is a wake-up, and on a busy machine that is slow).
  std::atomic<std::shared_ptr<const Job>> afterJob_;
};

}  // namespace fennik::server
