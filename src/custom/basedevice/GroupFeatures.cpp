// Group devices: features that aggregate the members' features.

#include "custom/basedevice/BaseDevice.h"

#include "qor/server/entities/FtAudio.h"
#include "qor/server/entities/FtOnline.h"
#include "qor/server/entities/FtPower.h"
#include "qor/server/services/FtAudioService.h"
#include "qor/server/services/FtOnlineService.h"
#include "qor/server/services/FtPowerService.h"

namespace qor::server {

void BaseDevice::createGroupFeatures(Device* group, const std::vector<Device*>& members) {
  groupSlot<FtOnlineService>(group, members, &Device::getOnline, &Device::setOnline);
  groupSlot<FtPowerService>(group, members, &Device::getPower, &Device::setPower);
  groupSlot<FtAudioService>(group, members, &Device::getAudio, &Device::setAudio);
}

}  // namespace qor::server
