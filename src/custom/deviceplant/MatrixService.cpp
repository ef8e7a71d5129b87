#include "custom/deviceplant/MatrixService.h"

#include "custom/deviceplant/DevicePlant.h"
#include "qor/server/entities/Device.h"
#include "qor/server/entities/DeviceType.h"
#include "qor/server/entities/VisualItem.h"

#include "fennik/server/service/ServiceResolver.h"

namespace qor::server {

Device* MatrixService::create(DeviceType* type) {
  if (!type) return nullptr;
  auto plant = services()->get<DevicePlant>();
  return plant ? plant->create(type, fennik::server::random_uuid()) : nullptr;
}

Device* MatrixService::duplicate(Device* device) {
  if (!device || !device->getVisualItem() || !device->getType()) return nullptr;
  auto plant = services()->get<DevicePlant>();
  if (!plant) return nullptr;
  Device* copy = plant->create(device->getType(), fennik::server::random_uuid());
  if (!copy) return nullptr;
  VisualItem* parent = device->getVisualItem()->getParent();
  if (VisualItem* item = copy->getVisualItem(); item && parent) {
    parent->addChildren(item);
    item->setParent(parent);
  }
  return copy;
}

}  // namespace qor::server
