// The checks that look beyond the project's devices: the devices found on
// the network that need a firmware update, and the host's audio-network
// service, without which no device is reached.

#include "custom/checks/ProjectCheckService.h"

#include "qor/devicediscovery/DiscoveredDevice.h"

#include "fennik/devices/AudioNetworkService.h"
#include "fennik/server/entity/Database.h"

#include <algorithm>

namespace qor::server {

void ProjectCheckService::checkDeviceFirmwareUpdateRequired() {
  const auto discovered = db()->all<DiscoveredDevice>();
  const bool found = std::any_of(discovered.begin(), discovered.end(),
                                 [](const DiscoveredDevice* d) { return d->getFirmwareUpdateRequired(); });
  report(ProjectCheckKey::DISCOVERED_DEVICE_FIRMWARE_UNSUPPORTED, "Firmware Update required for some devices", found);
}

void ProjectCheckService::checkNetworkInterfaces() {
  const bool running = audioNetwork_ && audioNetwork_->isServiceRunning();
  report(ProjectCheckKey::NO_NETWORK_INTERFACES_FOUND,
         running ? "Network Interfaces active" : "Network Interfaces not active", !running);
}

}  // namespace qor::server
