#pragma once
// What the project editor asks of the speaker subsystem: making, copying and
// destroying loudspeaker devices, setting a speaker's mode and finding the
// device type of a speaker-database product. The speaker service implements
// it and is found through the service resolver by this interface; while no
// service implements it, speaker types cannot be added (the editor says so
// in the log and changes nothing).

#include "fennik/server/core/Uuid.h"
#include "fennik/server/service/Service.h"

#include <optional>
#include <string>

namespace qor::server {

class Device;
class DeviceType;
class FtSpeakerMode;

class ISpeakerDevices : public fennik::server::Service {
 public:
  using Service::Service;

  // A new loudspeaker of the type with its features and visual item; null on failure.
  virtual Device* createSpeaker(DeviceType* type) = 0;
  virtual Device* duplicateSpeaker(Device* speaker) = 0;
  // Removes the speaker with its features and visual item.
  virtual void destroySpeaker(Device* speaker) = 0;
  // Applies a speaker mode (its id text) to a speaker's mode feature.
  virtual void setSpeakerMode(FtSpeakerMode* mode, const std::string& modeId) = 0;
  // The device type that stands for a speaker-database product.
  virtual std::optional<fennik::server::Uuid> deviceTypeIdByProductId(const std::string& productId) = 0;
};

}  // namespace qor::server
