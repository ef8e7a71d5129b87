#include "custom/discovery/LivesoundDiscoveredDeviceService.h"

#include "qor/devicediscovery/DiscoveredDevice.h"
#include "qor/devicediscovery/DiscoveredDeviceService.h"
#include "qor/server/entities/Device.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"
#include "fennik/server/service/TimerService.h"

#include <string>
#include <unordered_set>

namespace qor::server {

LivesoundDiscoveredDeviceService::~LivesoundDiscoveredDeviceService() = default;

void LivesoundDiscoveredDeviceService::loaded() {
  // Loaded again without an unload: one timer and one pair of connections.
  unload();
  added_ = db()->onAdded(DiscoveredDevice::CLASS_NAME, [this](fennik::server::Entity*) { dirty_ = true; });
  removed_ = db()->onRemoved(DiscoveredDevice::CLASS_NAME, [this](fennik::server::Entity*) { dirty_ = true; });
  timerExpired();
}

void LivesoundDiscoveredDeviceService::unload() {
  added_.disconnect();
  removed_.disconnect();
  if (!timer_.is_nil()) {
    if (auto timers = services()->get<fennik::server::TimerService>()) timers->cancelTimeout(timer_);
    timer_ = fennik::server::Uuid{};
  }
}

void LivesoundDiscoveredDeviceService::flagDirty() { dirty_ = true; }

void LivesoundDiscoveredDeviceService::timerExpired() {
  timer_ = fennik::server::Uuid{};
  if (dirty_) {
    updateVisiblity();
    dirty_ = false;
  }
  auto timers = services()->get<fennik::server::TimerService>();
  if (!timers) return;
  timer_ = timers->createTimeout(UPDATE_INTERVAL_MS, "LivesoundDiscoveredDeviceService::timerExpired",
                                 [self = std::weak_ptr<LivesoundDiscoveredDeviceService*>(self_)] {
                                   if (auto alive = self.lock()) (*alive)->timerExpired();
                                 });
}

void LivesoundDiscoveredDeviceService::updateVisiblity() {
  auto discovered = services()->get<DiscoveredDeviceService>();
  if (!discovered) return;
  std::unordered_set<std::string> mapped;
  for (const Device* device : db()->all<Device>()) mapped.insert(device->getDeviceId());
  for (DiscoveredDevice* dd : db()->all<DiscoveredDevice>()) {
    discovered->setVisible(dd, mapped.count(dd->getPhysicalDeviceId()) == 0, false);
  }
  fennik::server::getLogger(fennik::server::MODULE_LOGGER)->debug("Discovered-device visibility updated");
}

}  // namespace qor::server
