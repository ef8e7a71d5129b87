// FtOnline: the wanted online state drives the driver; the driver's
// connection progress, identify, front-panel lock and addresses come back.

#include "custom/basedevice/BaseDevice.h"
#include "custom/basedevice/DriverConversions.h"
#include "custom/basedevice/FeatureShapes.h"

#include "qor/server/entities/FtOnline.h"
#include "qor/server/services/FtOnlineService.h"

namespace qor::server {

using fennik::devices::DriverSignal;
using fennik::server::Uuid;

void BaseDevice::createFtOnline(Device* device) {
  auto onlines = service<FtOnlineService>();
  Driver* d = device ? driver(device) : nullptr;
  if (!onlines || !d) return;
  FtOnline* online = createDeviceFeature(*onlines, device);
  onlines->setFrontPanelLockSupported(online, d->isFrontPanelLockSupported(), false);
  onlines->setFrontPanelLockPinSupported(online, d->isFrontPanelLockPinSupported(), false);
  const auto range = d->getFrontPanelLockPinRange();
  onlines->setFrontPanelLockPinMin(online, range.minimum, false);
  onlines->setFrontPanelLockPinMax(online, range.maximum, false);
  onlines->setIsIpAddressSupported(online, d->isIpAddressSupported(), false);
  onlines->setIsMacAddressSupported(online, d->isMacAddressSupported(), false);
  onlines->setIsIdentifyActive(online, d->isIdentifyActive(), false);
  device->setOnline(online);
  connectFtOnline(device);
}

void BaseDevice::connectFtOnline(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  FtOnline* online = device ? device->getOnline() : nullptr;
  if (!d || !online) return;
  auto onlines = service<FtOnlineService>();
  const Uuid deviceId = device->id();
  updateFtOnlineByDriver(onlines.get(), online, d);

  keep(device, online->onSupposedStateChanged([this, deviceId](const FtOnlineState& state, bool external) {
    if (external) return;
    toDriver(deviceId, "Going online or offline", [&](Driver& drv) {
      if (drv.getPhysicalDeviceId().empty()) {
        drv.goOffline();
      } else if (state == FtOnlineState::ONLINE_READING) {
        drv.goOnline(true);
      } else if (state == FtOnlineState::ONLINE_WRITING) {
        drv.goOnline(false);
      } else {
        drv.goOffline();
      }
    });
  }));
  keep(device, device->onDeviceIdChanged([this, deviceId](const std::string& id, bool external) {
    if (external) return;
    toDriver(deviceId, "setPhysicalDeviceId", [&](Driver& drv) { drv.setPhysicalDeviceId(id); });
  }));
  keep(device, online->onIsIdentifyActiveChanged([this, deviceId](const bool& active, bool external) {
    if (external) return;
    toDriver(deviceId, "setIdentifyActive", [&](Driver& drv) { drv.setIdentifyActive(active); });
  }));
  keep(device, online->onFrontPanelLockChanged([this, deviceId](const bool& locked, bool external) {
    if (external) return;
    toDriver(deviceId, "setFrontPanelLock", [&](Driver& drv) { drv.setFrontPanelLock(locked); });
  }));
  keep(device, online->onFrontPanelLockPinChanged([this, deviceId](const std::uint32_t& pin, bool external) {
    if (external) return;
    toDriver(deviceId, "setFrontPanelLockPin", [&](Driver& drv) {
      // A PIN outside the device's range is not sent.
      const auto range = drv.getFrontPanelLockPinRange();
      if (pin < range.minimum || pin > range.maximum) return;
      drv.setFrontPanelLockPin(static_cast<std::uint16_t>(pin));
    });
  }));

  // Progress is an event, not a state: each report carries its own values.
  const Uuid onlineId = online->id();
  std::weak_ptr<bool> alive = alive_;
  keep(device, d->onConnectionProgress([this, alive, onlineId, loop = loop(),
                                        label = jobLabel(fennik::server::CallSite::current())](int phase, float f) {
    loop->post(label, [this, alive, onlineId, phase, f](const std::shared_ptr<fennik::server::EntityContext>&) {
      if (alive.expired()) return;
      FtOnline* e = db()->get<FtOnline>(onlineId);
      auto svc = service<FtOnlineService>();
      if (!e || !svc) return;
      const auto [progress, isOnline] = onlineProgress(phase, f);
      svc->setProgress(e, progress, true);
      svc->setIsOnline(e, isOnline, true);
    });
  }));
  reportInto<FtOnline>(device, online, DriverSignal::Identify, [onlines](FtOnline& e, Driver& drv) {
    onlines->setIsIdentifyActive(&e, drv.isIdentifyActive(), true);
  });
  reportInto<FtOnline>(device, online, DriverSignal::FrontPanelLock, [onlines](FtOnline& e, Driver& drv) {
    onlines->setFrontPanelLock(&e, drv.getFrontPanelLock(), true);
  });
  reportInto<FtOnline>(device, online, DriverSignal::FrontPanelLockPin, [onlines](FtOnline& e, Driver& drv) {
    onlines->setFrontPanelLockPin(&e, drv.getFrontPanelLockPin(), true);
  });
}

void BaseDevice::reportOnlineAddresses(Device* device) {
  FtOnline* online = device ? device->getOnline() : nullptr;
  if (!online) return;
  auto onlines = service<FtOnlineService>();
  reportInto<FtOnline>(device, online, DriverSignal::IpAddress,
                       [this, onlines](FtOnline& e, Driver& drv) { updateFtOnlineByDriver(onlines.get(), &e, &drv); });
}

void BaseDevice::destroyFtOnline(Device* device) {
  destroySlot<FtOnlineService>(device, &Device::getOnline, &Device::setOnline);
}

}  // namespace qor::server
