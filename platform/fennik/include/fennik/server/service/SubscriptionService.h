#pragma once
// Tells whoever follows entity changes (the network layer's subscriptions)
// that an entity changed and should be sent again.

#include <boost/signals2/signal.hpp>

#include <functional>

namespace fennik::server {

class Entity;

class SubscriptionService {
 public:
  void fireChanged(Entity* entity);
  boost::signals2::connection onChanged(std::function<void(Entity*)> slot);

 private:
  boost::signals2::signal<void(Entity*)> changed_;
};

}  // namespace fennik::server
