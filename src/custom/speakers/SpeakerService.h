#pragma once
// Loudspeakers in the project: devices of implementation SPEAKER that no
// driver stands behind. Their features describe the product in the speaker
// mode chosen for it (see SpeakerFeatures.h); their speaker settings say
// which DSP chain or SPS file the amplifier channel that drives them loads.

#include "custom/speakers/ISpeakerDevices.h"
#include "custom/speakers/SpeakerModeId.h"

#include <optional>
#include <string>

namespace qor::server {

class FtSpeakerMode;
class SpeakerDatabaseService;

class SpeakerService : public ISpeakerDevices {
 public:
  using ISpeakerDevices::ISpeakerDevices;
  std::string serviceName() const override { return "qor::server::SpeakerService"; }

  // Checks that the speaker databases the project's modes need are installed.
  void load(fennik::server::FileContainer& container) override;
  void loaded() override;

  // A speaker of the type at (x, y), its visual item with the given id and
  // the product's size; null when the type is no product of a database in
  // use or the id is taken.
  Device* createSpeaker(DeviceType* type, int x, int y, const fennik::server::Uuid& itemId);
  Device* createSpeaker(DeviceType* type) override;
  Device* duplicateSpeaker(Device* speaker) override;
  void destroySpeaker(Device* speaker) override;
  void applySpeakerMode(Device* speaker, const std::string& modeId) override;
  void loadSpsIntoSpeakerSetting(FtSpeakerSetting* setting, const std::string& path) override;
  void refreshSpeakers() override;
  std::optional<fennik::server::Uuid> deviceTypeIdByProductId(const std::string& productId) override;

  // Writes each speaker input's filter: the SPS file name and the DSP chain
  // id of the channel setting with the same index ("dspChainId" sixteen
  // zeros for a generic setting), as compact JSON.
  void updateConnectorFilters(Device* speaker) override;

  // The available-modes list of a product: one entry per mode, "key" the
  // mode id and "title" what the user reads.
  std::string availableModesOf(const DeviceType& type) const;

 private:
  std::shared_ptr<SpeakerDatabaseService> databases() const;
  // The product's first mode, resolved; none when the type is no product.
  std::optional<ResolvedSpeakerMode> firstModeOf(const DeviceType& type) const;
};

}  // namespace qor::server
