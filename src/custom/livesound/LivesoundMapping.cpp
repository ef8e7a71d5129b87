// The livesound service's operations that tie project devices to the devices
// found on the network: adding discovered devices, identifying them, and
// mapping project devices onto them.

#include "custom/VisualTreeService.h"
#include "custom/deviceplant/DevicePlant.h"
#include "custom/livesound/LivesoundLog.h"
#include "custom/livesound/LivesoundService.h"
#include "custom/panels/PanelService.h"

#include "qor/devicediscovery/DiscoveredDevice.h"
#include "qor/devicediscovery/DiscoveredDeviceService.h"
#include "qor/server/entities/Device.h"
#include "qor/server/entities/DeviceType.h"
#include "qor/server/entities/FtDeviceInfo.h"
#include "qor/server/entities/VisualItem.h"
#include "qor/server/services/DeviceService.h"
#include "qor/server/services/FtDeviceInfoService.h"

#include "fennik/devices/FennikDevice.h"
#include "fennik/server/core/AsciiCase.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

#include <algorithm>
#include <string>
#include <unordered_set>

namespace qor::server {

namespace {

// The device type whose model is exactly the text the network device reports.
DeviceType* typeForModel(fennik::server::Database& db, const std::string& model) {
  for (DeviceType* type : db.all<DeviceType>()) {
    if (type->getModel() == model) return type;
  }
  return nullptr;
}

// As above; a panel on the network reports its own model ("MZD", "RLX-1"),
// which the panel service knows the panel type of.
DeviceType* typeForNetworkModel(fennik::server::Database& db, const fennik::server::ServiceResolver& services,
                                const std::string& model) {
  if (DeviceType* type = typeForModel(db, model)) return type;
  auto panels = services.get<PanelService>();
  const auto id = panels ? panels->deviceTypeIdForModel(model) : std::nullopt;
  return id ? db.get<DeviceType>(*id) : nullptr;
}

}  // namespace

Device* LivesoundService::discoveredDeviceAdd(DiscoveredDevice* found, int x, int y) {
  LIVESOUND_TRACE("discoveredDeviceAdd");
  if (!found) return nullptr;
  // A network device is in the project at most once.
  for (const Device* device : db()->all<Device>()) {
    if (device->getDeviceId() == found->getPhysicalDeviceId()) return nullptr;
  }
  DeviceType* type = typeForNetworkModel(*db(), *services(), found->getDeviceType());
  if (!type) return nullptr;
  Device* device = deviceAdd(type, x, y, true);
  if (!device) return nullptr;
  services()->get<DeviceService>()->setDeviceId(device, found->getPhysicalDeviceId(), false);
  if (FtDeviceInfo* info = device->getDeviceInfo()) {
    auto infos = services()->get<FtDeviceInfoService>();
    infos->setName(info, found->getName(), false);
    if (found->getHasDeviceId()) infos->setDeviceId(info, found->getDeviceId(), false);
  }
  flagDiscoveredDevicesDirty();
  return device;
}

void LivesoundService::discoveredDeviceAddAll(int x, int y) {
  LIVESOUND_TRACE("discoveredDeviceAddAll");
  std::vector<DiscoveredDevice*> found = db()->all<DiscoveredDevice>();
  std::stable_sort(found.begin(), found.end(),
                   [](const DiscoveredDevice* a, const DiscoveredDevice* b) { return a->getName() < b->getName(); });
  std::vector<VisualItem*> items;
  for (DiscoveredDevice* dd : found) {
    Device* device = discoveredDeviceAdd(dd, x, y);
    if (device && device->getVisualItem()) items.push_back(device->getVisualItem());
  }
  auto t = tree();
  t->selectAll(false);
  for (VisualItem* item : items) {
    t->autoPlace(item, 0);
    t->selectSingle(item, true);
  }
  flagDiscoveredDevicesDirty();
}

void LivesoundService::discoveredDeviceAddExtended(const std::vector<DiscoveredDevice*>& found, int x, int y) {
  LIVESOUND_TRACE("discoveredDeviceAddExtended");
  auto t = tree();
  t->selectAll(false);
  std::vector<VisualItem*> items;
  for (DiscoveredDevice* dd : found) {
    Device* device = discoveredDeviceAdd(dd, x, y);
    if (device && device->getVisualItem()) items.push_back(device->getVisualItem());
  }
  for (VisualItem* item : items) t->selectSingle(item, true);
  flagDiscoveredDevicesDirty();
}

void LivesoundService::deviceFind(const fennik::server::Uuid& discoveredId, bool) {
  LIVESOUND_TRACE("deviceFind");
  DiscoveredDevice* dd = db()->get<DiscoveredDevice>(discoveredId);
  if (!dd) return;
  // The flag toggles: a second find on the same device ends the identify.
  const bool active = !dd->getFindActive();
  if (auto list = services()->get<DiscoveredDeviceService>()) {
    list->setFindActive(dd, active, false);
  } else {
    dd->setFindActive(active, false);
  }
  DeviceType* type = typeForNetworkModel(*db(), *services(), dd->getDeviceType());
  if (!type) return;
  if (type->getImplementation() == DeviceTypeImplementation::PANEL) {
    // A panel has no device driver: the panel service asks it.
    if (auto panels = services()->get<PanelService>())
      panels->find(dd->getDeviceType(), dd->getPhysicalDeviceId(), active);
    return;
  }
  auto plant = services()->get<DevicePlant>();
  // A short-lived driver of the model tells the device, then goes.
  if (auto driver = plant ? plant->createDriver(type) : nullptr) {
    driver->setPhysicalDeviceId(dd->getPhysicalDeviceId());
    driver->setIdentifyActive(active);
  }
}

std::vector<DiscoveredDevice*> LivesoundService::deviceMappingSearch(Device* device, const std::string& filter) {
  LIVESOUND_TRACE("deviceMappingSearch");
  std::vector<DiscoveredDevice*> result;
  if (!device || !device->getType()) return result;
  std::unordered_set<std::string> mapped;
  for (const Device* d : db()->all<Device>()) mapped.insert(d->getDeviceId());
  const std::string& model = device->getType()->getModel();
  const std::string wanted = fennik::server::asciiLower(filter);
  for (DiscoveredDevice* dd : db()->all<DiscoveredDevice>()) {
    if (mapped.count(dd->getPhysicalDeviceId())) continue;
    if (dd->getDeviceType() != model &&
        typeForNetworkModel(*db(), *services(), dd->getDeviceType()) != device->getType())
      continue;
    if (!wanted.empty() && fennik::server::asciiLower(dd->getName()).find(wanted) == std::string::npos) continue;
    result.push_back(dd);
  }
  return result;
}

void LivesoundService::deviceMappingLoad(Device* device, const fennik::server::Uuid& discoveredId) {
  LIVESOUND_TRACE("deviceMappingLoad");
  DiscoveredDevice* dd = db()->get<DiscoveredDevice>(discoveredId);
  if (!device || !dd) return;
  services()->get<DeviceService>()->setDeviceId(device, dd->getPhysicalDeviceId(), false);
  flagDiscoveredDevicesDirty();
  if (FtDeviceInfo* info = device->getDeviceInfo()) {
    auto infos = services()->get<FtDeviceInfoService>();
    infos->setName(info, dd->getName(), false);
    infos->setIpaddress(info, dd->getIpaddress(), false);
    infos->setFirmware(info, dd->getFirmware(), false);
  }
}

}  // namespace qor::server
