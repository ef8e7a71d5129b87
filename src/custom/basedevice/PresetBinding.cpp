// FtPreset: recalling, storing and the start-up slot go to the driver; the
// active slot, start-up slot and the list of slots come back.

#include "custom/basedevice/BaseDevice.h"
#include "custom/basedevice/FeatureShapes.h"

#include "qor/server/entities/FtConnector.h"
#include "qor/server/entities/FtPreset.h"
#include "qor/server/services/FtPresetService.h"

#include <nlohmann/json.hpp>

namespace qor::server {

using fennik::devices::DriverSignal;
using fennik::server::Uuid;

void BaseDevice::createFtPreset(Device* device) {
  auto presets = service<FtPresetService>();
  if (!device || !presets) return;
  device->setPreset(createDeviceFeature(*presets, device));
  connectFtPreset(device);
}

void BaseDevice::connectFtPreset(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  FtPreset* preset = device ? device->getPreset() : nullptr;
  if (!d || !preset) return;
  auto presets = service<FtPresetService>();
  const Uuid deviceId = device->id();
  const Uuid presetId = preset->id();
  Refresh<FtPreset> refresh = [presets](FtPreset& e, Driver& drv) {
    presets->setActiveSlot(&e, drv.getActivePresetSlot(), true);
    presets->setStartUpSlot(&e, drv.getStartUpPresetSlot(), true);
    presets->setPresetListJson(&e, nlohmann::json(drv.getPresetSlots()).dump(), true);
  };
  refresh(*preset, *d);
  keep(device, preset->onActiveSlotChanged([this, deviceId](const std::string& slot, bool external) {
    if (external || slot.empty()) return;
    toDriver(deviceId, "recallPreset", [&](Driver& drv) { drv.recallPreset(slot); });
  }));
  keep(device, preset->onStartUpSlotChanged([this, deviceId](const std::string& slot, bool external) {
    if (external) return;
    toDriver(deviceId, "setStartUpPresetSlot", [&](Driver& drv) { drv.setStartUpPresetSlot(slot); });
  }));
  keep(device, preset->onStorePresetSlotChanged([this, deviceId, presetId](const std::string& slot, bool external) {
    if (external || slot.empty()) return;
    FtPreset* e = db()->get<FtPreset>(presetId);
    const std::string title = e ? e->getStorePresetTitle() : std::string();
    toDriver(deviceId, "storePreset", [&](Driver& drv) { drv.storePreset(slot, title); });
  }));
  reportInto<FtPreset>(device, preset, DriverSignal::Preset, refresh);
}

void BaseDevice::destroyFtPreset(Device* device) {
  destroySlot<FtPresetService>(device, &Device::getPreset, &Device::setPreset);
}

}  // namespace qor::server
