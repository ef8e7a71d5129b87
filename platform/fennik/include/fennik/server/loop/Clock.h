#pragma once
// The time source of the event loop. Timers read it; tests replace it with a
// ManualClock so that 1000/3000/5000 ms timeouts run without sleeping.

#include <atomic>
#include <chrono>

namespace fennik::server {

class Clock {
 public:
  using duration = std::chrono::steady_clock::duration;
  using time_point = std::chrono::steady_clock::time_point;

  virtual ~Clock() = default;
  virtual time_point now() const = 0;
  // True for clocks that follow real time, so the loop may sleep until a deadline.
  virtual bool isRealTime() const = 0;
};

class SteadyClock final : public Clock {
 public:
  time_point now() const override { return std::chrono::steady_clock::now(); }
  bool isRealTime() const override { return true; }
};

// A clock that only moves when told to.
class ManualClock final : public Clock {
 public:
  time_point now() const override { return time_point(duration(now_.load())); }
  bool isRealTime() const override { return false; }
  void advance(std::chrono::milliseconds by) { now_ += std::chrono::duration_cast<duration>(by).count(); }

 private:
  std::atomic<duration::rep> now_{0};
};

}  // namespace fennik::server
