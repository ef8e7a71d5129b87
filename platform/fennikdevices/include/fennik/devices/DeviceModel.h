#pragma once
// What a simulated device model can do: its channels and GPIOs, and which
// operations it supports on which channel. A model is described by the
// device-type module that owns it and registered with the simulated network.

#include "fennik/devices/FennikDevice.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

namespace fennik::devices {

struct DeviceModel {
  std::string model;
  std::string vendor;
  bool isMatrix = false;
  int channelCount = 4;
  int gpioCount = 0;
  std::string firmware = "1.0.0";

  // Gain per channel; an empty vector means on every channel.
  std::vector<bool> gainSupported;
  Limits gain{20.0, 44.0, 0};
  std::vector<int> driveModes{0};
  bool trimSupported = true;
  bool polaritySupported = true;
  std::array<bool, 3> delaySupported{true, true, false};  // by ChannelType
  double delayMaxMs = 1000.0;
  int eqFiltersPerBank = 4;
  std::vector<InputSourceInfo> inputSources{{0, "Analog 1"}, {2, "Network 1"}};
  std::vector<int> failoverTypes{0, 1};
  bool outputPilotSupported = false;
  double nominalImpedance = 8.0;

  bool frontPanelLockSupported = true;
  bool frontPanelLockPinSupported = true;
  PinRange pinRange{1000, 9999};
  bool powerOnDelaySupported = true;
  Limits powerOnDelay{0.0, 10.0, 1};
  bool breakerSupported = false;
  Limits breaker{6.0, 32.0, 0};
  bool ecoSupported = false;
  bool sampleRateSupported = true;
  bool networkModeSupported = true;
  std::array<bool, PORT_COUNT> ports{true, true, false, false, false};
  int linkSpeedMbit = 1000;
  bool firmwareUpdateSupported = true;

  std::bitset<static_cast<std::size_t>(DeviceFlag::Count)> deviceFlags;
  std::bitset<static_cast<std::size_t>(DeviceFlag::Count)> deviceFlagCollect;
  std::bitset<static_cast<std::size_t>(ChannelFlag::Count)> channelFlags;
  std::bitset<static_cast<std::size_t>(ChannelFlag::Count)> channelFlagCollect;
  bool collectedErrorHoldSupported = true;

  std::vector<std::string> presetSlots{"A", "B", "C", "D"};

  bool isGainSupported(int channel) const {
    if (channel < 0 || channel >= channelCount) return false;
    return gainSupported.empty() || (static_cast<std::size_t>(channel) < gainSupported.size() &&
                                     gainSupported[static_cast<std::size_t>(channel)]);
  }
};

}  // namespace fennik::devices
