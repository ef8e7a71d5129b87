// FtDeviceState, the part every device shares: holding collected errors
// and resetting them go to the driver. What the flags are and how they are
// refreshed belongs to the derived classes.

#include "custom/basedevice/BaseDevice.h"
#include "custom/basedevice/StateFlags.h"

#include "qor/server/entities/FtDeviceState.h"
#include "qor/server/services/FtDeviceStateService.h"

namespace qor::server {

using fennik::server::Uuid;

void BaseDevice::connectFtDeviceState(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  FtDeviceState* state = device ? device->getDeviceState() : nullptr;
  if (!d || !state) return;
  // What the model offers is not kept in the project file: a reopened
  // device gets its flag lists from the model again.
  if (state->getFlagNames().empty()) initDeviceState(service<FtDeviceStateService>().get(), state, d);
  const Uuid deviceId = device->id();
  const Uuid stateId = state->id();
  keep(device, state->onIsCollectedErrorHoldChanged([this, deviceId](const bool& hold, bool external) {
    if (external) return;
    toDriver(deviceId, "setCollectedErrorHold", [&](Driver& drv) { drv.setCollectedErrorHold(hold); });
  }));
  keep(device, state->onResetCollectedErrorChanged([this, deviceId, stateId](const bool& reset, bool external) {
    if (external || !reset) return;
    toDriver(deviceId, "resetCollectedError", [&](Driver& drv) { drv.resetCollectedError(); });
    // A trigger, not a state: it stands back at false once sent.
    if (auto* e = db()->get<FtDeviceState>(stateId)) {
      if (auto states = service<FtDeviceStateService>()) states->setResetCollectedError(e, false, true);
    }
  }));
}

void BaseDevice::sendDeviceFlagCollect(Device* device) {
  FtDeviceState* state = device ? device->getDeviceState() : nullptr;
  if (!state || !driver(device)) return;
  const Uuid deviceId = device->id();
  keep(device, state->onFlagCollectStatesChanged([this, deviceId](const std::vector<bool>& collect, bool external) {
    if (external) return;
    toDriver(deviceId, "setDeviceFlagCollect", [&](Driver& drv) {
      const auto flags = availableDeviceFlags(drv);
      for (std::size_t i = 0; i < flags.size() && i < collect.size(); ++i) {
        if (drv.isDeviceFlagCollectSupported(flags[i]) && drv.getDeviceFlagCollect(flags[i]) != collect[i])
          drv.setDeviceFlagCollect(flags[i], collect[i]);
      }
    });
  }));
}

void BaseDevice::destroyFtDeviceState(Device* device) {
  FtDeviceState* state = device ? device->getDeviceState() : nullptr;
  if (!state) return;
  device->setDeviceState(nullptr);
  // The device-state service takes the channel states with it; destroying
  // them here first would leave it walking freed entities.
  if (auto states = service<FtDeviceStateService>()) states->destroy(state);
}

}  // namespace qor::server
