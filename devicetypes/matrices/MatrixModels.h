#pragma once
// The simulated matrix model and its device type.

#include "custom/deviceplant/DeviceDescriptor.h"

#include "fennik/devices/DeviceModel.h"
#include "fennik/server/core/Uuid.h"

namespace qor::devicetypes {

inline constexpr const char* MATRICES_MODULE_ID = "5d0f5a8e-3b1c-4f7e-9a61-2c8d4e7b9f20";
inline constexpr const char* QM16_TYPE_ID = "8a3e2f10-6b4d-4c2a-9e17-5f0c1d2b3b16";

inline fennik::devices::DeviceModel qm16Model() {
  using fennik::devices::DeviceFlag;
  fennik::devices::DeviceModel m;
  m.model = "QM-16";
  m.vendor = "Qor Audio";
  m.isMatrix = true;
  m.channelCount = 16;
  m.gpioCount = 2;
  m.firmware = "1.4.0";
  m.gainSupported = std::vector<bool>(16, false);
  m.driveModes = {};
  m.delaySupported = {false, false, false};
  m.eqFiltersPerBank = 0;
  m.inputSources = {};
  m.failoverTypes = {};
  m.powerOnDelaySupported = false;
  m.ports = {true, true, true, true, true};
  m.linkSpeedMbit = 10000;
  for (auto flag : {DeviceFlag::NotReady, DeviceFlag::NetworkFail, DeviceFlag::FanFail, DeviceFlag::PanelUnlocked,
                    DeviceFlag::Dsp96k, DeviceFlag::FirmwareUpdate, DeviceFlag::DeviceFault, DeviceFlag::Gpio1,
                    DeviceFlag::Gpio2, DeviceFlag::Warning})
    m.deviceFlags.set(static_cast<std::size_t>(flag));
  m.deviceFlagCollect = m.deviceFlags;
  return m;
}

inline qor::server::DeviceDescriptor qm16Descriptor() {
  return {fennik::server::UuidFromS(QM16_TYPE_ID), "Qor Audio", "QM-16", "QM-16 sixteen-channel matrix",
          qor::server::DeviceDescriptor::MATRIX};
}

}  // namespace qor::devicetypes
