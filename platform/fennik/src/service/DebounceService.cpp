#include "fennik/server/service/DebounceService.h"

#include "fennik/server/loop/QueuedAccessor.h"
#include "fennik/server/service/EntityContext.h"

namespace fennik::server {

DebounceService::~DebounceService() {
  for (auto& [key, state] : rates_) {
    if (!state.timer.is_nil()) loop()->cancel(state.timer);
  }
}

void DebounceService::blockExecution(const Uuid& id, const Uuid& key, int milliseconds) {
  blockedUntil_[{id, key}] = loop()->clock().now() + std::chrono::milliseconds(std::max(0, milliseconds));
}

bool DebounceService::isBlocked(const Uuid& id, const Uuid& key) const {
  auto it = blockedUntil_.find({id, key});
  return it != blockedUntil_.end() && loop()->clock().now() < it->second;
}

bool DebounceService::executeIfNotBlocked(const Uuid& id, const Uuid& key, const std::string&,
                                          const std::function<void()>& fn) {
  if (isBlocked(id, key)) return false;
  blockedUntil_.erase({id, key});
  fn();
  return true;
}

void DebounceService::executeAtMostEach(const Uuid& id, const Uuid& key, const std::string& label, int milliseconds,
                                        std::function<void()> fn) {
  const Key k{id, key};
  auto& state = rates_[k];
  const auto now = loop()->clock().now();
  const auto window = std::chrono::milliseconds(std::max(0, milliseconds));
  if (!state.hasRun || now >= state.lastRun + window) {
    state.hasRun = true;
    state.lastRun = now;
    state.pending = nullptr;
    fn();
    return;
  }
  state.pending = std::move(fn);
  if (!state.timer.is_nil()) return;
  const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(state.lastRun + window - now);
  state.timer = loop()->postAfter(remaining, label, [this, k](const std::shared_ptr<EntityContext>&) {
    auto it = rates_.find(k);
    if (it == rates_.end()) return;
    auto pending = std::move(it->second.pending);
    it->second.pending = nullptr;
    it->second.timer = Uuid{};
    it->second.lastRun = loop()->clock().now();
    if (pending) pending();
  });
}

}  // namespace fennik::server
