#pragma once
// Channel states: the per-channel flags of a device state.

#include "qor/server/services/FtChannelStateServiceBase.h"

#include <string>

namespace qor::server {

class FtChannelStateService : public FtChannelStateServiceBase {
 public:
  using FtChannelStateServiceBase::FtChannelStateServiceBase;

  // Collects (or stops collecting) the named flag; a group passes it on to
  // its members. Unknown names change nothing.
  void collectFlag(FtChannelState* state, const std::string& flagName, bool collect);

  // A group channel's flags follow its members, as for device states.
  void doRecalc(FtChannelState* group) override;

  // Device reports of the flag lists recalculate the ancestors.
  void setFlagStates(FtChannelState* state, const std::vector<bool>& value, bool external) override;
  void setFlagCollectSupported(FtChannelState* state, const std::vector<bool>& value, bool external) override;
  void setFlagNames(FtChannelState* state, const std::vector<std::string>& value, bool external) override;

 private:
  void afterReport(FtChannelState* state, bool external);
};

}  // namespace qor::server
