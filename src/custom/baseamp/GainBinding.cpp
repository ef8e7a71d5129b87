// FtAmplifierGain (children only for channels whose gain the driver
// supports) and FtAmplifierDriveMode (one child per channel).

#include "custom/baseamp/BaseAmplifier.h"
#include "custom/basedevice/DriverConversions.h"

#include "qor/server/entities/FtAmplifierDriveMode.h"
#include "qor/server/entities/FtAmplifierGain.h"
#include "qor/server/services/FtAmplifierDriveModeService.h"
#include "qor/server/services/FtAmplifierGainService.h"

namespace qor::server {

using fennik::devices::DriverSignal;
using fennik::server::Uuid;

void BaseAmplifier::createFtAmplifierGain(Device* device) {
  auto gains = service<FtAmplifierGainService>();
  Driver* d = device ? driver(device) : nullptr;
  if (!gains || !d) return;
  device->setAmplifierGain(
      createChannelShaped(*gains, device, d->getChannelCount(), [d](int ch) { return d->isGainSupported(ch); }));
  connectFtAmplifierGain(device);
}

void BaseAmplifier::connectFtAmplifierGain(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  FtAmplifierGain* parent = device ? device->getAmplifierGain() : nullptr;
  if (!d || !parent) return;
  auto gains = service<FtAmplifierGainService>();
  const Uuid deviceId = device->id();
  Refresh<FtAmplifierGain> refresh = [gains](FtAmplifierGain& e, Driver& drv) {
    for (FtAmplifierGain* child : e.childrens()) {
      if (!child) continue;
      const int ch = child->getIndex();
      const auto limits = drv.getGainLimits(ch);
      gains->setGainInDbMin(child, limits.minimum, true);
      gains->setGainInDbMax(child, limits.maximum, true);
      gains->setGainInDbDecimals(child, limits.decimals, true);
      gains->setGainInDbReadOnly(child, drv.isGainReadOnly(ch), true);
      gains->setGainInDbSupported(child, drv.isGainSupported(ch), true);
      gains->setGainInDb(child, drv.getGain(ch), true);
    }
  };
  refresh(*parent, *d);
  onChangesOf<FtAmplifierGain>(device, parent->childrens(),
                               [this, deviceId](FtAmplifierGain& e, std::string_view key, bool external) {
                                 if (external || key != FtAmplifierGain::FIELD_GAININDB) return;
                                 const int ch = e.getIndex();
                                 const double db = e.getGainInDb();
                                 toDriver(deviceId, "setGain", [&](Driver& drv) { drv.setGain(ch, db); });
                               });
  reportInto<FtAmplifierGain>(device, parent, DriverSignal::Gain, refresh);
}

void BaseAmplifier::destroyFtAmplifierGain(Device* device) {
  destroySlot<FtAmplifierGainService>(device, &Device::getAmplifierGain, &Device::setAmplifierGain);
}

void BaseAmplifier::createFtAmplifierDriveMode(Device* device) {
  auto modes = service<FtAmplifierDriveModeService>();
  Driver* d = device ? driver(device) : nullptr;
  if (!modes || !d) return;
  device->setAmplifierDriveMode(createChannelShaped(*modes, device, d->getChannelCount(), [](int) { return true; }));
  connectFtAmplifierDriveMode(device);
}

void BaseAmplifier::connectFtAmplifierDriveMode(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  FtAmplifierDriveMode* parent = device ? device->getAmplifierDriveMode() : nullptr;
  if (!d || !parent) return;
  auto modes = service<FtAmplifierDriveModeService>();
  const Uuid deviceId = device->id();
  Refresh<FtAmplifierDriveMode> refresh = [modes](FtAmplifierDriveMode& e, Driver& drv) {
    for (FtAmplifierDriveMode* child : e.childrens()) {
      if (!child) continue;
      const int ch = child->getIndex();
      modes->setModeSupportedLowZ(child, drv.isDriveModeSupported(ch, 0), true);
      modes->setModeSupported70V(child, drv.isDriveModeSupported(ch, 1), true);
      modes->setModeSupported100V(child, drv.isDriveModeSupported(ch, 2), true);
      modes->setModeSupported140V(child, drv.isDriveModeSupported(ch, 3), true);
      modes->setModeSupported200V(child, drv.isDriveModeSupported(ch, 4), true);
      bool any = false;
      for (int m = 0; m < fennik::devices::DRIVE_MODE_COUNT; ++m) any |= drv.isDriveModeSupported(ch, m);
      modes->setModeSupported(child, any, true);
      modes->setMode(child, driveModeFromDriver(drv.getDriveMode(ch)), true);
    }
  };
  refresh(*parent, *d);
  onChangesOf<FtAmplifierDriveMode>(
      device, parent->childrens(), [this, deviceId](FtAmplifierDriveMode& e, std::string_view key, bool external) {
        if (external || key != FtAmplifierDriveMode::FIELD_MODE) return;
        const int ch = e.getIndex();
        const int mode = driveModeToDriver(e.getMode());
        toDriver(deviceId, "setDriveMode", [&](Driver& drv) { drv.setDriveMode(ch, mode); });
      });
  reportInto<FtAmplifierDriveMode>(device, parent, DriverSignal::DriveMode, refresh);
}

void BaseAmplifier::destroyFtAmplifierDriveMode(Device* device) {
  destroySlot<FtAmplifierDriveModeService>(device, &Device::getAmplifierDriveMode, &Device::setAmplifierDriveMode);
}

}  // namespace qor::server
