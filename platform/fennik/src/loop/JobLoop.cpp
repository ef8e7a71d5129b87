#include "fennik/server/loop/JobLoop.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/core/ThreadSlice.h"

#include <boost/functional/hash.hpp>

#include <pthread.h>

#include <future>
#include <stdexcept>

namespace fennik::server {

struct JobLoop::Entry {
  Uuid id{};
  std::string label;
  Job job;
  std::optional<Key> key;
  std::optional<std::pair<Clock::time_point, std::uint64_t>> deadline;
  Lane lane = Lane::Normal;
  bool cancelled = false;
};

std::size_t JobLoop::KeyHash::operator()(const Key& k) const noexcept {
  std::size_t seed = boost::hash<Uuid>()(k.first);
  boost::hash_combine(seed, k.second);
  return seed;
}

JobLoop::JobLoop(Mode mode, std::shared_ptr<Clock> clock) : mode_(mode), clock_(std::move(clock)) {
  if (!clock_) clock_ = std::make_shared<SteadyClock>();
}

JobLoop::~JobLoop() { stop(); }

void JobLoop::start() {
  if (mode_ != Mode::Threaded) return;
  std::lock_guard lock(mutex_);
  if (running_) return;
  running_ = true;
  stopping_ = false;
  thread_ = std::thread([this] { threadMain(); });
}

void JobLoop::stop() {
  {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) {
    if (std::this_thread::get_id() == thread_.get_id()) {
      thread_.detach();  // stopping from a job: the thread ends after it
    } else {
      thread_.join();
    }
  }
  std::lock_guard lock(mutex_);
  running_ = false;
  loopThreadId_ = std::thread::id();
}

bool JobLoop::isRunning() const {
  std::lock_guard lock(mutex_);
  return running_ && !stopping_;
}

bool JobLoop::isLoopThread() const {
  if (mode_ == Mode::Manual) return true;
  return std::this_thread::get_id() == loopThreadId_.load();
}

void JobLoop::work(const Job& job) {
  if (isLoopThread()) {
    job();
    return;
  }
  if (!isRunning()) throw std::logic_error("JobLoop::work: the loop is not running");
  auto done = std::make_shared<std::promise<void>>();
  auto future = done->get_future();
  post("work", [&job, done] {
    try {
      job();
      done->set_value();
    } catch (...) {
      done->set_exception(std::current_exception());
    }
  });
  future.get();
}

Uuid JobLoop::enqueueLocked(EntryPtr entry) {
  Uuid id = entry->id;
  byId_[id] = entry;
  if (entry->key) pendingByKey_[*entry->key] = entry;
  (entry->lane == Lane::Background ? background_ : queue_).push_back(std::move(entry));
  return id;
}

Uuid JobLoop::post(Job job) { return post(std::string(), std::move(job)); }

Uuid JobLoop::post(std::string label, Job job) {
  auto entry = std::make_shared<Entry>();
  entry->id = random_uuid();
  entry->label = std::move(label);
  entry->job = std::move(job);
  Uuid id{};
  {
    std::lock_guard lock(mutex_);
    id = enqueueLocked(std::move(entry));
  }
  wake_.notify_one();
  return id;
}

Uuid JobLoop::post(const Uuid& entity, const Uuid& key, std::string label, Job job, Lane lane) {
  Key k{entity, key};
  Uuid id{};
  {
    std::lock_guard lock(mutex_);
    auto it = pendingByKey_.find(k);
    if (it != pendingByKey_.end()) {
      // Latest value wins: one run, in the place of the first post.
      it->second->job = std::move(job);
      it->second->label = std::move(label);
      return it->second->id;
    }
    auto entry = std::make_shared<Entry>();
    entry->id = random_uuid();
    entry->label = std::move(label);
    entry->job = std::move(job);
    entry->key = k;
    entry->lane = lane;
    id = enqueueLocked(std::move(entry));
  }
  wake_.notify_one();
  return id;
}

Uuid JobLoop::postAfter(std::chrono::milliseconds delay, std::string label, Job job) {
  if (delay.count() < 0) delay = std::chrono::milliseconds(0);
  auto entry = std::make_shared<Entry>();
  entry->id = random_uuid();
  entry->label = std::move(label);
  entry->job = std::move(job);
  {
    std::lock_guard lock(mutex_);
    auto when = std::make_pair(clock_->now() + delay, sequence_++);
    entry->deadline = when;
    byId_[entry->id] = entry;
    timed_.emplace(when, entry);
  }
  wake_.notify_one();
  return entry->id;
}

bool JobLoop::cancel(const Uuid& jobId) {
  std::lock_guard lock(mutex_);
  auto it = byId_.find(jobId);
  if (it == byId_.end()) return false;
  EntryPtr entry = it->second;
  byId_.erase(it);
  entry->cancelled = true;
  if (entry->key) {
    auto k = pendingByKey_.find(*entry->key);
    if (k != pendingByKey_.end() && k->second == entry) pendingByKey_.erase(k);
  }
  if (entry->deadline) {
    auto range = timed_.equal_range(*entry->deadline);
    for (auto t = range.first; t != range.second; ++t) {
      if (t->second == entry) {
        timed_.erase(t);
        break;
      }
    }
  }
  return true;
}

void JobLoop::moveDueTimersLocked() {
  const auto now = clock_->now();
  while (!timed_.empty() && timed_.begin()->first.first <= now) {
    EntryPtr entry = timed_.begin()->second;
    timed_.erase(timed_.begin());
    entry->deadline.reset();
    queue_.push_back(std::move(entry));
  }
}

JobLoop::EntryPtr JobLoop::popLiveLocked(std::deque<EntryPtr>& queue) {
  while (!queue.empty()) {
    EntryPtr entry = std::move(queue.front());
    queue.pop_front();
    if (!entry->cancelled) return entry;
  }
  return nullptr;
}

JobLoop::EntryPtr JobLoop::takeNextLocked() {
  EntryPtr entry;
  if (normalInARow_ < BACKGROUND_PATIENCE || background_.empty()) entry = popLiveLocked(queue_);
  if (entry) {
    ++normalInARow_;
  } else {
    entry = popLiveLocked(background_);
    if (!entry) return nullptr;
    normalInARow_ = 0;
  }
  byId_.erase(entry->id);
  if (entry->key) pendingByKey_.erase(*entry->key);
  return entry;
}

void JobLoop::runEntry(const EntryPtr& entry) {
  try {
    entry->job();
  } catch (const std::exception& e) {
    getLogger(HOST_LOGGER)
        ->error("Job '{}' failed: {}", entry->label.empty() ? "unlabelled job" : entry->label, e.what());
  } catch (...) {
    getLogger(HOST_LOGGER)
        ->error("Job '{}' failed with an unknown exception", entry->label.empty() ? "unlabelled job" : entry->label);
  }
  const std::shared_ptr<const Job> hook = afterJob_.load();
  if (!hook) return;
  try {
    (*hook)();
  } catch (const std::exception& e) {
    getLogger(HOST_LOGGER)->error("After-job hook failed: {}", e.what());
  }
}

void JobLoop::setAfterJobHook(Job hook) {
  afterJob_.store(hook ? std::make_shared<const Job>(std::move(hook)) : nullptr);
}

std::size_t JobLoop::runUntilIdle() {
  std::size_t ran = 0;
  for (;;) {
    EntryPtr entry;
    {
      std::lock_guard lock(mutex_);
      moveDueTimersLocked();
      entry = takeNextLocked();
    }
    if (!entry) return ran;
    runEntry(entry);
    ++ran;
  }
}

void JobLoop::threadMain() {
  // A request's job should not wait a scheduler tick for the core.
  if (useShortSlice()) getLogger(HOST_LOGGER)->debug("The event loop runs in short scheduling slices");
  pthread_setname_np(pthread_self(), "event-loop");  // as top -H and ps show it
  std::unique_lock lock(mutex_);
  loopThreadId_ = std::this_thread::get_id();
  for (;;) {
    moveDueTimersLocked();
    if (EntryPtr entry = takeNextLocked()) {
      lock.unlock();
      runEntry(entry);
      lock.lock();
      continue;
    }
    if (stopping_) return;
    if (!timed_.empty() && clock_->isRealTime()) {
      wake_.wait_until(lock, timed_.begin()->first.first);
    } else if (!timed_.empty()) {
      // A hand-moved clock in threaded mode: look again shortly.
      wake_.wait_for(lock, std::chrono::milliseconds(5));
    } else {
      wake_.wait(lock);
    }
  }
}

std::size_t JobLoop::pendingCount() const {
  std::lock_guard lock(mutex_);
  std::size_t n = 0;
  for (const auto& e : queue_) n += e->cancelled ? 0 : 1;
  for (const auto& e : background_) n += e->cancelled ? 0 : 1;
  return n;
}

std::size_t JobLoop::timedCount() const {
  std::lock_guard lock(mutex_);
  return timed_.size();
}

}  // namespace fennik::server
