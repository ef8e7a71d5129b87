// The livesound service's operations on the devices of the network: a new
// discovery search and the routing application.

#include "custom/discovery/DanteLauncher.h"
#include "custom/discovery/LivesoundDiscoveredDeviceService.h"
#include "custom/livesound/LivesoundLog.h"
#include "custom/livesound/LivesoundService.h"

#include "qor/devicediscovery/DeviceDiscoveryService.h"
#include "qor/server/entities/LivesoundProject.h"
#include "qor/server/services/LivesoundProjectService.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

namespace qor::server {

void LivesoundService::loaded() {
  prepareProject();
  markDanteControllerAvailability();
}

void LivesoundService::markDanteControllerAvailability() {
  const bool available = isDanteControllerAvailable();
  auto projects = services()->get<LivesoundProjectService>();
  for (LivesoundProject* project : db()->all<LivesoundProject>()) {
    if (projects) {
      projects->setIsDanteControllerAvailable(project, available, false);
    } else {
      project->setIsDanteControllerAvailable(available, false);
    }
  }
}

void LivesoundService::startRefreshDiscoveredDevices() {
  LIVESOUND_TRACE("startRefreshDiscoveredDevices");
  if (auto discovery = services()->get<DeviceDiscoveryService>()) discovery->startRefreshDiscoveredDevices();
  if (auto list = services()->get<LivesoundDiscoveredDeviceService>()) list->flagDirty();
}

void LivesoundService::openDanteController() {
  LIVESOUND_TRACE("openDanteController");
  launchDanteController();
}

}  // namespace qor::server
