#include "qor/devicediscovery/DiscoveredDeviceService.h"

#include "fennik/server/entity/Database.h"

namespace qor::server {

DiscoveredDevice* DiscoveredDeviceService::find(const std::string& physicalDeviceId) const {
  return db()->get<DiscoveredDevice>(DiscoveredDevice::idFor(physicalDeviceId));
}

std::vector<DiscoveredDevice*> DiscoveredDeviceService::all() const { return db()->all<DiscoveredDevice>(); }

void DiscoveredDeviceService::setVisible(DiscoveredDevice* device, bool visible, bool external) {
  if (device) device->setVisible(visible, external);
}

void DiscoveredDeviceService::setFindActive(DiscoveredDevice* device, bool active, bool external) {
  if (device) device->setFindActive(active, external);
}

}  // namespace qor::server
