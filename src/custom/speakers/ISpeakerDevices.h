#pragma once
// What the project editor asks of the speaker subsystem: making, copying and
// destroying loudspeaker devices, setting a speaker's mode, loading SPS files
// into speaker settings and finding the device type of a speaker-database
// product. SpeakerService implements it and is found through the service
// resolver by this interface; while no service implements it, speaker types
// cannot be added (the editor says so in the log and changes nothing).

#include "fennik/server/core/Uuid.h"
#include "fennik/server/service/Service.h"

#include <optional>
#include <string>

namespace qor::server {

class Device;
class DeviceType;
class FtSpeakerSetting;

class ISpeakerDevices : public fennik::server::Service {
 public:
  using Service::Service;

  // A new loudspeaker of the type with its features and (not yet placed)
  // visual item, in the product's first speaker mode; null on failure.
  virtual Device* createSpeaker(DeviceType* type) = 0;
  virtual Device* duplicateSpeaker(Device* speaker) = 0;
  // Removes the speaker with its features and visual item.
  virtual void destroySpeaker(Device* speaker) = 0;
  // Applies a speaker mode (its id text) to a speaker, or to each member of
  // a speaker group.
  virtual void applySpeakerMode(Device* speaker, const std::string& modeId) = 0;
  // Loads a cached SPS file (its cached path or name) into a speaker setting.
  virtual void loadSpsIntoSpeakerSetting(FtSpeakerSetting* setting, const std::string& path) = 0;
  // Writes what the speaker's inputs tell the connector dialogue (filters).
  virtual void updateConnectorFilters(Device* speaker) = 0;
  // Brings every speaker's list of available modes up to date.
  virtual void refreshSpeakers() = 0;
  // The device type that stands for a speaker-database product.
  virtual std::optional<fennik::server::Uuid> deviceTypeIdByProductId(const std::string& productId) = 0;
};

}  // namespace qor::server
