#pragma once
// The device and channel state flags as the model shows them: their names,
// in list order, and which of them a driver offers.

#include "fennik/devices/FennikDevice.h"

#include "qor/server/entities/Forward.h"

#include <vector>

namespace qor::server {

const char* stateFlagName(fennik::devices::DeviceFlag flag);
const char* stateFlagName(fennik::devices::ChannelFlag flag);
// The flags the driver reports available, in list order.
std::vector<fennik::devices::DeviceFlag> availableDeviceFlags(const fennik::devices::FennikDevice& driver);
// As above; "Incorrect Speaker Setting" and "Error / Hold" are always there.
std::vector<fennik::devices::ChannelFlag> availableChannelFlags(const fennik::devices::FennikDevice& driver);

class FtDeviceStateService;
// Builds a device state's parallel flag lists from the flags the driver
// offers: names, states (off), collect states (off), both consistencies
// (on) and collect support ("Device Fault" is never collected).
void initDeviceFlagLists(FtDeviceStateService& service, FtDeviceState& state,
                         const fennik::devices::FennikDevice& driver);
// Reads the driver's flag states and collect states into those lists
// (external writes: they came from the device).
void refreshDeviceFlagLists(FtDeviceStateService& service, FtDeviceState& state,
                            const fennik::devices::FennikDevice& driver);

}  // namespace qor::server
