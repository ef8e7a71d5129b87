#include "fennik/server/service/TimerService.h"

#include "fennik/server/loop/QueuedAccessor.h"
#include "fennik/server/service/EntityContext.h"

#include <algorithm>

namespace fennik::server {

Uuid TimerService::createTimeout(int milliseconds, std::string label, std::function<void()> fn) {
  return loop()->postAfter(std::chrono::milliseconds(std::max(0, milliseconds)), std::move(label),
                           [fn = std::move(fn)](const std::shared_ptr<EntityContext>&) { fn(); });
}

bool TimerService::cancelTimeout(const Uuid& timerId) { return loop()->cancel(timerId); }

}  // namespace fennik::server
