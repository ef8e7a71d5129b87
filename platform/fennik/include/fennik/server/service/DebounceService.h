#pragma once
// Debouncing per (id, key): a block window during which executeIfNotBlocked
// does nothing, and a rate limit that runs at most once per window and keeps
// the latest call for the end of the window so the last value is never lost.

#include "fennik/server/core/Uuid.h"
#include "fennik/server/loop/Clock.h"
#include "fennik/server/service/Service.h"

#include <functional>
#include <map>
#include <string>
#include <utility>

namespace fennik::server {

class DebounceService : public Service {
 public:
  using Service::Service;
  ~DebounceService() override;

  void blockExecution(const Uuid& id, const Uuid& key, int milliseconds);
  bool isBlocked(const Uuid& id, const Uuid& key) const;
  // Runs fn now unless (id, key) is blocked; returns whether it ran.
  bool executeIfNotBlocked(const Uuid& id, const Uuid& key, const std::string& label, const std::function<void()>& fn);
  // Runs fn now when (id, key) did not run within the last `milliseconds`;
  // otherwise keeps fn (replacing an earlier kept one) and runs it when the
  // window ends.
  void executeAtMostEach(const Uuid& id, const Uuid& key, const std::string& label, int milliseconds,
                         std::function<void()> fn);

 private:
  using Key = std::pair<Uuid, Uuid>;
  struct RateState {
    Clock::time_point lastRun{};
    bool hasRun = false;
    std::function<void()> pending;
    Uuid timer{};
  };
  std::map<Key, Clock::time_point> blockedUntil_;
  std::map<Key, RateState> rates_;
};

}  // namespace fennik::server
