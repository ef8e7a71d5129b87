// LivesoundService: devices in the project.
#include "custom/livesound/LivesoundService.h"

#include "custom/VisualTreeService.h"
#include "custom/livesound/LivesoundLog.h"

#include "qor/server/entities/Device.h"
#include "qor/server/services/DeviceService.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

namespace qor::server {

Device* LivesoundService::deviceOf(const VisualItem* item) const {
  if (!item) return nullptr;
  for (Device* device : db()->all<Device>()) {
    if (device->getVisualItem() == item) return device;
  }
  return nullptr;
}

void LivesoundService::deviceDestroy(Device* device) {
  LIVESOUND_TRACE("deviceDestroy");
  if (!device) return;
  VisualItem* item = device->getVisualItem();
  device->setVisualItem(nullptr);
  if (item) {
    visualItemDestroy(item->childrens());
    tree()->destroy(item);
  }
  if (auto devices = services()->get<DeviceService>()) devices->destroy(device);
}

}  // namespace qor::server
