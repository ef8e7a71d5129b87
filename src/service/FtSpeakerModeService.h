#pragma once
// Speaker modes: a group offers the modes all its members offer, and a mode
// that is not offered is refused.

#include "qor/server/services/FtSpeakerModeServiceBase.h"

namespace qor::server {

class FtSpeakerModeService : public FtSpeakerModeServiceBase {
 public:
  using FtSpeakerModeServiceBase::FtSpeakerModeServiceBase;

  // A normal write of a mode the entity does not offer (its list of
  // available modes is not empty and has no entry with that "key") is
  // refused and logged; anything else is the ordinary write.
  void setMode(FtSpeakerMode* speakerMode, const std::string& mode, bool external) override;
  // Writes the available modes (a JSON array); the groups above recalculate.
  void setAvailableModes(FtSpeakerMode* speakerMode, const std::string& availableModes, bool external) override;

  // A group's available modes are those every member offers (by "key").
  void doRecalc(FtSpeakerMode* group) override;
};

}  // namespace qor::server
