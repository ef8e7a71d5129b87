#pragma once
// Speaker settings: a DSP chain id names the chain of a speaker database that
// an amplifier channel loads; the chain's acoustic role becomes the
// setting's band type.

#include "qor/server/services/FtSpeakerSettingServiceBase.h"

#include <optional>

namespace qor::server {

class FtSpeakerSettingService : public FtSpeakerSettingServiceBase {
 public:
  using FtSpeakerSettingServiceBase::FtSpeakerSettingServiceBase;

  // Writes the chain id, then the band type of the chain the speaker
  // databases in use know by that id (none found: the band type stays).
  void setSupposedSpeakerDbDspChainId(FtSpeakerSetting* setting, const std::string& chainId, bool external) override;
  // The consistent write; null does nothing.
  void setAggregatedSpeakerDbDspChainId(FtSpeakerSetting* setting, const std::string& chainId, bool external) override;

  // The band type of an acoustic role of a speaker database; none (and an
  // error in the log) for a role this server does not know.
  static std::optional<FtSpeakerSettingBandType> bandTypeOf(int acousticRole);
};

}  // namespace qor::server
