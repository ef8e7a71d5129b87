#include "fennik/server/service/SubscriptionService.h"

namespace fennik::server {

void SubscriptionService::fireChanged(Entity* entity) {
  if (entity) changed_(entity);
}

boost::signals2::connection SubscriptionService::onChanged(std::function<void(Entity*)> slot) {
  return changed_.connect(std::move(slot));
}

}  // namespace fennik::server
