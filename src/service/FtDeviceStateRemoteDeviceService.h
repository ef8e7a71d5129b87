#pragma once
// Remote devices watched by a device state: relative debounce-time change.

#include "qor/server/services/FtDeviceStateRemoteDeviceServiceBase.h"

namespace qor::server {

class FtDeviceStateRemoteDeviceService : public FtDeviceStateRemoteDeviceServiceBase {
 public:
  using FtDeviceStateRemoteDeviceServiceBase::FtDeviceStateRemoteDeviceServiceBase;

  // Moves every target's error debounce time by the same step, narrowed so
  // that none leaves its own [errorDebounceTimeMin, errorDebounceTimeMax].
  void setDebounceTimeRelative(FtDeviceStateRemoteDevice* remote, std::int32_t step);
};

}  // namespace qor::server
