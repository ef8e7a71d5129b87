#pragma once
// Keeps the visibility of the discovered devices up to date: a discovered
// device is visible exactly when no project device is mapped to it (the
// device's deviceId equals its physical id, byte for byte). Changes only
// mark the list dirty; a self-rearming 1000 ms timer recomputes it, so a
// burst of changes costs one recomputation.

#include "fennik/server/core/Uuid.h"
#include "fennik/server/service/Service.h"

#include <boost/signals2/connection.hpp>

#include <memory>

namespace qor::server {

class LivesoundDiscoveredDeviceService : public fennik::server::Service {
 public:
  static constexpr int UPDATE_INTERVAL_MS = 1000;

  using Service::Service;
  ~LivesoundDiscoveredDeviceService() override;

  // Watches discovered devices come and go, and arms the timer.
  void loaded() override;
  // Stops watching and cancels the timer.
  void unload() override;
  // Something changed the mapping: recompute on the next tick.
  void flagDirty();

 private:
  void updateVisiblity();
  void timerExpired();

  bool dirty_ = false;
  fennik::server::Uuid timer_{};
  boost::signals2::scoped_connection added_;
  boost::signals2::scoped_connection removed_;
  // The timer's callback holds this weakly, so a service that is gone is
  // never called back.
  std::shared_ptr<LivesoundDiscoveredDeviceService*> self_ = std::make_shared<LivesoundDiscoveredDeviceService*>(this);
};

}  // namespace qor::server
