// FtDeviceInfo: name, device id and firmware; a firmware update is started
// from the load path and its progress shown as text.

#include "custom/basedevice/BaseDevice.h"
#include "custom/basedevice/DriverConversions.h"
#include "custom/basedevice/FeatureShapes.h"

#include "qor/server/entities/DeviceType.h"
#include "qor/server/entities/FtDeviceInfo.h"
#include "qor/server/entities/FtOnline.h"
#include "qor/server/services/FtDeviceInfoService.h"
#include "qor/server/services/FtOnlineService.h"

#include "fennik/server/core/Logging.h"

namespace qor::server {

using fennik::devices::DriverSignal;
using fennik::server::Uuid;

void BaseDevice::createFtDeviceInfo(Device* device) {
  auto infos = service<FtDeviceInfoService>();
  if (!device || !infos) return;
  FtDeviceInfo* info = createDeviceFeature(*infos, device);
  infos->setDeviceIdRule(info, StringValidatorRule::DeviceId, false);
  infos->setNameRule(info, StringValidatorRule::CapDnsName, false);
  // The model comes from the type, so the type is set before the features.
  if (DeviceType* type = device->getType()) infos->setModel(info, type->getModel(), false);
  infos->setIsChannelLabelEditable(info, false, false);
  device->setDeviceInfo(info);
  connectFtDeviceInfo(device);
}

void BaseDevice::connectFtDeviceInfo(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  FtDeviceInfo* info = device ? device->getDeviceInfo() : nullptr;
  if (!d || !info) return;
  auto infos = service<FtDeviceInfoService>();
  const Uuid deviceId = device->id();

  Refresh<FtDeviceInfo> refresh = [infos](FtDeviceInfo& e, Driver& drv) {
    infos->setIsDeviceIdSupported(&e, drv.isDeviceIdSupported(), true);
    infos->setIsFirmwareSupported(&e, drv.isFirmwareSupported(), true);
    infos->setIsFirmwareUpdateSupported(&e, drv.isFirmwareUpdateSupported(), true);
    infos->setIsFirmwareDetailsSupported(&e, drv.isFirmwareDetailsSupported(), true);
    infos->setFirmware(&e, drv.getFirmware(), true);
    infos->setFirmwareDetails(&e, drv.getFirmwareDetails(), true);
    infos->setName(&e, drv.getName(), true);
    infos->setDeviceIntId(&e, drv.getDeviceIntId(), true);
    infos->setDeviceId(&e, deviceIdText(drv.getDeviceIntId()), true);
  };
  refresh(*info, *d);

  keep(device, info->onNameChanged([this, deviceId](const std::string& name, bool external) {
    if (external) return;
    toDriver(deviceId, "setName", [&](Driver& drv) { drv.setName(name); });
  }));
  // The id has two forms, the number and its text: a user's change of either
  // goes to the driver, and once the driver took it the other form follows
  // (offline a driver reports nothing, so the entity keeps them equal itself).
  const Uuid infoId = info->id();
  auto sendDeviceIntId = [this, deviceId, infoId, infos](int id, bool fromText) {
    toDriver(deviceId, "setDeviceIntId", [&](Driver& drv) {
      drv.setDeviceIntId(id);
      FtDeviceInfo* e = db()->get<FtDeviceInfo>(infoId);
      if (!e) return;
      if (fromText)
        infos->setDeviceIntId(e, id, true);
      else
        infos->setDeviceId(e, deviceIdText(id), true);
    });
  };
  keep(device, info->onDeviceIdChanged([sendDeviceIntId](const std::string& text, bool external) {
    if (external) return;
    // Text that is no number, or too large for one, is not sent.
    if (auto id = parseDeviceId(text)) sendDeviceIntId(*id, true);
  }));
  keep(device, info->onDeviceIntIdChanged([sendDeviceIntId](const std::int32_t& id, bool external) {
    if (!external) sendDeviceIntId(id, false);
  }));
  keep(device, info->onFirmwareLoadFilePathChanged([this, deviceId](const std::string& path, bool external) {
    if (external) return;
    toDriver(deviceId, "startFirmwareUpdate", [&](Driver& drv) { drv.startFirmwareUpdate(path); });
  }));
  keep(device, info->onIpaddressChanged([this, deviceId](const std::string& ip, bool) {
    Device* dev = db()->get<Device>(deviceId);
    auto onlines = service<FtOnlineService>();
    if (dev && dev->getOnline() && onlines) onlines->setIpAddress(dev->getOnline(), ip, false);
  }));
  reportInto<FtDeviceInfo>(device, info, DriverSignal::DeviceInfo, refresh);

  std::weak_ptr<bool> alive = alive_;
  keep(device, d->onFirmwareUpdateProgress([this, alive, infoId, loop = loop(),
                                            label = jobLabel(fennik::server::CallSite::current())](
                                               int state, float fraction, const std::string& message) {
    loop->post(label,
               [this, alive, infoId, state, fraction, message](const std::shared_ptr<fennik::server::EntityContext>&) {
                 if (alive.expired()) return;
                 FtDeviceInfo* e = db()->get<FtDeviceInfo>(infoId);
                 auto svc = service<FtDeviceInfoService>();
                 if (!e || !svc) return;
                 switch (state) {
                   case fennik::devices::firmware::RUNNING:
                     svc->setFirmwareUpdateDebugMessages(
                         e, std::to_string(static_cast<int>(fraction * 100.0f)) + " % " + message, false);
                     break;
                   case fennik::devices::firmware::FAILED:
                     svc->setFirmwareUpdateDebugMessages(e, "FAILED", false);
                     break;
                   case fennik::devices::firmware::SUCCEEDED:
                     svc->setFirmwareUpdateDebugMessages(e, "SUCCESS", false);
                     break;
                   default:
                     break;
                 }
               });
  }));
}

void BaseDevice::destroyFtDeviceInfo(Device* device) {
  destroySlot<FtDeviceInfoService>(device, &Device::getDeviceInfo, &Device::setDeviceInfo);
}

}  // namespace qor::server
