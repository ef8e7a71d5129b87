#pragma once
// The simulated amplifier models: what each can do, and how its device type
// is described to the device plant.

#include "custom/deviceplant/DeviceDescriptor.h"

#include "fennik/devices/DeviceModel.h"
#include "fennik/server/core/Uuid.h"

namespace qor::devicetypes {

inline constexpr const char* AMPLIFIERS_MODULE_ID = "5d0f5a8e-3b1c-4f7e-9a61-2c8d4e7b9f10";
inline constexpr const char* QA4_TYPE_ID = "8a3e2f10-6b4d-4c2a-9e17-5f0c1d2b3a41";
inline constexpr const char* QA8_TYPE_ID = "8a3e2f10-6b4d-4c2a-9e17-5f0c1d2b3a81";

inline fennik::devices::DeviceModel qa4Model() {
  using fennik::devices::ChannelFlag;
  using fennik::devices::DeviceFlag;
  fennik::devices::DeviceModel m;
  m.model = "QA-4";
  m.vendor = "Qor Audio";
  m.channelCount = 4;
  m.gpioCount = 0;
  m.firmware = "2.1.4";
  // Gain is adjustable on the first of each channel pair only.
  m.gainSupported = {true, false, true, false};
  m.gain = {20.0, 38.0, 0};
  m.driveModes = {0, 1, 2};
  m.trimSupported = false;
  m.eqFiltersPerBank = 4;
  m.delayMaxMs = 500.0;
  m.inputSources = {{0, "Analog A"}, {0, "Analog B"}, {2, "Network 1"}, {2, "Network 2"}};
  m.failoverTypes = {0, 1};
  m.outputPilotSupported = false;
  m.nominalImpedance = 8.0;
  m.breakerSupported = false;
  m.ports = {true, true, false, false, false};
  m.linkSpeedMbit = 1000;
  m.deviceFlags.set();
  // Convection cooled, no GPIOs, no remote shell.
  for (auto flag : {DeviceFlag::FanFail, DeviceFlag::Gpio1, DeviceFlag::Gpio2, DeviceFlag::Gpio3,
                    DeviceFlag::GpioFuseFail, DeviceFlag::TelnetEnabled, DeviceFlag::TelnetActive})
    m.deviceFlags.reset(static_cast<std::size_t>(flag));
  m.deviceFlagCollect = m.deviceFlags;
  m.channelFlags.set();
  for (auto flag : {ChannelFlag::OutputPilotFail, ChannelFlag::PilotMin, ChannelFlag::PilotMax})
    m.channelFlags.reset(static_cast<std::size_t>(flag));
  m.channelFlagCollect = m.channelFlags;
  return m;
}

inline fennik::devices::DeviceModel qa8Model() {
  using fennik::devices::DeviceFlag;
  fennik::devices::DeviceModel m;
  m.model = "QA-8";
  m.vendor = "Qor Audio";
  m.channelCount = 8;
  m.gpioCount = 2;
  m.firmware = "3.0.2";
  m.gain = {20.0, 44.0, 1};
  m.driveModes = {0, 1, 2, 3, 4};
  m.eqFiltersPerBank = 8;
  m.delayMaxMs = 1000.0;
  m.inputSources = {{0, "Analog 1"}, {0, "Analog 2"}, {1, "AES 1/2"}, {2, "Network 1"}, {2, "Network 2"}};
  m.failoverTypes = {0, 1, 2, 3};
  m.outputPilotSupported = true;
  m.nominalImpedance = 4.0;
  m.breakerSupported = true;
  m.ecoSupported = true;
  m.ports = {true, true, true, false, false};
  m.linkSpeedMbit = 1000;
  m.deviceFlags.set();
  m.deviceFlags.reset(static_cast<std::size_t>(DeviceFlag::Gpio3));
  m.deviceFlagCollect = m.deviceFlags;
  m.channelFlags.set();
  m.channelFlagCollect = m.channelFlags;
  return m;
}

inline qor::server::DeviceDescriptor qa4Descriptor() {
  return {fennik::server::UuidFromS(QA4_TYPE_ID), "Qor Audio", "QA-4", "QA-4 four-channel amplifier",
          qor::server::DeviceDescriptor::AMPLIFIER};
}

inline qor::server::DeviceDescriptor qa8Descriptor() {
  return {fennik::server::UuidFromS(QA8_TYPE_ID), "Qor Audio", "QA-8", "QA-8 eight-channel amplifier",
          qor::server::DeviceDescriptor::AMPLIFIER};
}

}  // namespace qor::devicetypes
