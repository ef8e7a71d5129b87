#pragma once
// The discovered devices in the database: lookup by physical id, and the two
// values that others than the network set: the visibility (the module hides
// devices that are already in the project) and the find (identify) state.

#include "qor/devicediscovery/DiscoveredDevice.h"

#include "fennik/server/service/Service.h"

#include <string>
#include <vector>

namespace qor::server {

class DiscoveredDeviceService : public fennik::server::Service {
 public:
  using Service::Service;

  DiscoveredDevice* find(const std::string& physicalDeviceId) const;
  // In the order they were found.
  std::vector<DiscoveredDevice*> all() const;

  // A null device does nothing. With external false the value is stored and
  // announced to clients even when it did not change.
  void setVisible(DiscoveredDevice* device, bool visible, bool external);
  void setFindActive(DiscoveredDevice* device, bool active, bool external);
};

}  // namespace qor::server
