#pragma once
// What an amplifier channel loads for a speaker setting: the cached SPS file
// the setting names, or the DSP chain of a speaker database, as the setting
// the device driver takes.

#include "fennik/devices/FennikDevice.h"
#include "fennik/server/service/Service.h"

#include <optional>

namespace qor::server {

class FtSpeakerSetting;

class SpeakerSettingService : public fennik::server::Service {
 public:
  using Service::Service;
  std::string serviceName() const override { return "qor::server::SpeakerSettingService"; }

  // A generic setting (or one without a chain) loads its cached SPS file; any
  // other its DSP chain, converted by the database that holds it. A chain id
  // that no database in use knows is handed on as it is: the device may
  // know it. None when the setting names neither, or its SPS file is not in
  // the project's cache (logged).
  std::optional<fennik::devices::SpeakerSetting> toDriverSetting(const FtSpeakerSetting& setting) const;

  // The setting by its chain id alone, for servers without speaker data.
  static std::optional<fennik::devices::SpeakerSetting> byChainId(const FtSpeakerSetting& setting);
};

}  // namespace qor::server
