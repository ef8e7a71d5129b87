#include "custom/basedevice/StateFlags.h"

#include "qor/server/entities/FtDeviceState.h"
#include "qor/server/services/FtDeviceStateService.h"

namespace qor::server {

using fennik::devices::ChannelFlag;
using fennik::devices::DeviceFlag;
using fennik::devices::FennikDevice;

const char* stateFlagName(DeviceFlag flag) {
  switch (flag) {
    case DeviceFlag::NotReady:
      return "Device Not Ready";
    case DeviceFlag::MainsWarning:
      return "Mains Warning";
    case DeviceFlag::NetworkFail:
      return "Network Fail";
    case DeviceFlag::FanFail:
      return "Fan Fail";
    case DeviceFlag::PanelUnlocked:
      return "Panel Unlocked";
    case DeviceFlag::Dsp96k:
      return "DSP 96 kHz";
    case DeviceFlag::DanteGlitchfree:
      return "Dante Glitchfree";
    case DeviceFlag::TelnetEnabled:
      return "Telnet Enabled";
    case DeviceFlag::TelnetActive:
      return "Telnet Active";
    case DeviceFlag::FirmwareUpdate:
      return "Firmware Update";
    case DeviceFlag::DeviceFault:
      return "Device Fault";
    case DeviceFlag::SourceError:
      return "Source Error";
    case DeviceFlag::Gpio1:
      return "GPIO 1";
    case DeviceFlag::Gpio2:
      return "GPIO 2";
    case DeviceFlag::Gpio3:
      return "GPIO 3";
    case DeviceFlag::GpioFuseFail:
      return "GPIO Fuse Fail";
    case DeviceFlag::Warning:
      return "Warning";
    case DeviceFlag::Count:
      break;
  }
  return "";
}

const char* stateFlagName(ChannelFlag flag) {
  switch (flag) {
    case ChannelFlag::InputFailover:
      return "Input Failover";
    case ChannelFlag::Mute:
      return "Mute";
    case ChannelFlag::ThermalWarning:
      return "Thermal Warning";
    case ChannelFlag::GainReduction:
      return "Gain Reduction";
    case ChannelFlag::Protect:
      return "Protect";
    case ChannelFlag::LoadMin:
      return "Load: Min / Shorted";
    case ChannelFlag::LoadMax:
      return "Load: Max / Open";
    case ChannelFlag::OutputPilotFail:
      return "Output Pilot Fail";
    case ChannelFlag::PilotMin:
      return "Pilot: Min / Shorted";
    case ChannelFlag::PilotMax:
      return "Pilot: Max / Open";
    case ChannelFlag::IncorrectSpeakerSetting:
      return "Incorrect Speaker Setting";
    case ChannelFlag::Warning:
      return "Warning";
    case ChannelFlag::ErrorHold:
      return "Error / Hold";
    case ChannelFlag::Count:
      break;
  }
  return "";
}

std::vector<DeviceFlag> availableDeviceFlags(const FennikDevice& d) {
  std::vector<DeviceFlag> flags;
  for (int i = 0; i < static_cast<int>(DeviceFlag::Count); ++i) {
    const auto flag = static_cast<DeviceFlag>(i);
    if (d.isDeviceFlagAvailable(flag)) flags.push_back(flag);
  }
  return flags;
}

std::vector<ChannelFlag> availableChannelFlags(const FennikDevice& d) {
  std::vector<ChannelFlag> flags;
  for (int i = 0; i < static_cast<int>(ChannelFlag::Count); ++i) {
    const auto flag = static_cast<ChannelFlag>(i);
    // These two are shown whatever the device says.
    const bool always = flag == ChannelFlag::IncorrectSpeakerSetting || flag == ChannelFlag::ErrorHold;
    if (always || d.isChannelFlagAvailable(flag)) flags.push_back(flag);
  }
  return flags;
}

void initDeviceFlagLists(FtDeviceStateService& states, FtDeviceState& state, const FennikDevice& d) {
  std::vector<std::string> names;
  std::vector<bool> collectSupported;
  for (DeviceFlag flag : availableDeviceFlags(d)) {
    names.emplace_back(stateFlagName(flag));
    collectSupported.push_back(flag != DeviceFlag::DeviceFault && d.isDeviceFlagCollectSupported(flag));
  }
  const std::size_t n = names.size();
  states.setFlagNames(&state, names, false);
  states.setFlagStates(&state, std::vector<bool>(n, false), false);
  states.setFlagStatesConsistent(&state, std::vector<bool>(n, true), false);
  states.setFlagCollectStates(&state, std::vector<bool>(n, false), false);
  states.setFlagCollectStatesConsistent(&state, std::vector<bool>(n, true), false);
  states.setFlagCollectSupported(&state, collectSupported, false);
}

void refreshDeviceFlagLists(FtDeviceStateService& states, FtDeviceState& state, const FennikDevice& d) {
  std::vector<bool> flags;
  std::vector<bool> collect;
  for (DeviceFlag flag : availableDeviceFlags(d)) {
    flags.push_back(d.getDeviceFlagState(flag));
    collect.push_back(d.getDeviceFlagCollect(flag));
  }
  states.setFlagStates(&state, flags, true);
  states.setFlagCollectStates(&state, collect, true);
}

}  // namespace qor::server
