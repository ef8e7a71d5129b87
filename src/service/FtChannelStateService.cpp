#include "service/FtChannelStateService.h"

#include "service/StateFlags.h"

namespace qor::server {

void FtChannelStateService::collectFlag(FtChannelState* state, const std::string& flagName, bool collect) {
  if (!state) return;
  stateflags::collectFlag(*this, state, flagName, collect);
  recalcParents(state);
}

void FtChannelStateService::doRecalc(FtChannelState* group) {
  if (group && !group->childrenShareds().empty()) stateflags::recalcFlags(group);
}

void FtChannelStateService::afterReport(FtChannelState* state, bool external) {
  if (state && external) recalcParents(state);
}

void FtChannelStateService::setFlagStates(FtChannelState* state, const std::vector<bool>& value, bool external) {
  FtChannelStateServiceBase::setFlagStates(state, value, external);
  afterReport(state, external);
}
void FtChannelStateService::setFlagCollectSupported(FtChannelState* state, const std::vector<bool>& value,
                                                    bool external) {
  FtChannelStateServiceBase::setFlagCollectSupported(state, value, external);
  afterReport(state, external);
}
void FtChannelStateService::setFlagNames(FtChannelState* state, const std::vector<std::string>& value, bool external) {
  FtChannelStateServiceBase::setFlagNames(state, value, external);
  afterReport(state, external);
}

}  // namespace qor::server
