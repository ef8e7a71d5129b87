#include "service/FtDeviceStateRemoteDeviceService.h"

#include "service/GroupWalk.h"

namespace qor::server {

void FtDeviceStateRemoteDeviceService::setDebounceTimeRelative(FtDeviceStateRemoteDevice* remote, std::int32_t step) {
  using R = FtDeviceStateRemoteDevice;
  groupwalk::moveRelative(*this, remote, step, &R::ErrorDebounceTimeGetter, &R::ErrorDebounceTimeMinGetter,
                          &R::ErrorDebounceTimeMaxGetter, &R::ErrorDebounceTimeSetter, groupwalk::ACCEPT_ALL);
}

}  // namespace qor::server
