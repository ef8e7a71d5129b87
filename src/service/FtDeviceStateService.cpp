#include "service/FtDeviceStateService.h"

#include "service/GroupRules.h"
#include "service/StateFlags.h"

#include "fennik/server/service/ServiceResolver.h"
#include "qor/server/services/FtChannelStateService.h"
#include "qor/server/services/FtDeviceStateRemoteDeviceService.h"

namespace qor::server {

using D = FtDeviceState;

void FtDeviceStateService::setHoldCollectedError(FtDeviceState* state, bool hold) {
  if (!state) return;
  setIsCollectedErrorHold(state, hold, false);
  const std::vector<D*> children = state->childrens();
  for (D* child : children) setHoldCollectedError(child, hold);
  doRecalc(state);
}

void FtDeviceStateService::resetCollectedError(FtDeviceState* state) {
  if (!state) return;
  setResetCollectedError(state, !state->getResetCollectedError(), false);
}

void FtDeviceStateService::collectFlag(FtDeviceState* state, const std::string& flagName, bool collect) {
  if (!state) return;
  stateflags::collectFlag(*this, state, flagName, collect);
  recalcParents(state);
}

void FtDeviceStateService::doRecalc(FtDeviceState* group) {
  if (!group || group->childrenShareds().empty()) return;
  stateflags::recalcFlags(group);
  rules::anyOf(group, &D::ErrorGetter, &D::ErrorExternalSetter);
  rules::anyOf(group, &D::ErrorCollectGetter, &D::ErrorCollectExternalSetter);
}

void FtDeviceStateService::destroy(FtDeviceState* state) {
  if (!state) return;
  if (auto channels = services()->get<FtChannelStateService>()) {
    const std::vector<FtChannelState*> channelStates = state->channelStates();
    for (FtChannelState* c : channelStates) {
      state->removeChannelState(c);
      channels->destroy(c);
    }
  }
  if (auto remotes = services()->get<FtDeviceStateRemoteDeviceService>()) {
    const std::vector<FtDeviceStateRemoteDevice*> remoteDevices = state->remoteDevices();
    for (FtDeviceStateRemoteDevice* r : remoteDevices) {
      state->removeRemoteDevice(r);
      remotes->destroy(r);
    }
  }
  FtDeviceStateServiceBase::destroy(state);
}

// A device report of a field the group derives: aggregation alone would not
// run doRecalc, so every ancestor recalculates.
void FtDeviceStateService::afterReport(FtDeviceState* state, bool external) {
  if (state && external) recalcParents(state);
}

void FtDeviceStateService::setFlagStates(FtDeviceState* state, const std::vector<bool>& value, bool external) {
  FtDeviceStateServiceBase::setFlagStates(state, value, external);
  afterReport(state, external);
}
void FtDeviceStateService::setFlagCollectSupported(FtDeviceState* state, const std::vector<bool>& value,
                                                   bool external) {
  FtDeviceStateServiceBase::setFlagCollectSupported(state, value, external);
  afterReport(state, external);
}
void FtDeviceStateService::setFlagNames(FtDeviceState* state, const std::vector<std::string>& value, bool external) {
  FtDeviceStateServiceBase::setFlagNames(state, value, external);
  afterReport(state, external);
}
void FtDeviceStateService::setError(FtDeviceState* state, const bool& value, bool external) {
  FtDeviceStateServiceBase::setError(state, value, external);
  afterReport(state, external);
}
void FtDeviceStateService::setErrorCollect(FtDeviceState* state, const bool& value, bool external) {
  FtDeviceStateServiceBase::setErrorCollect(state, value, external);
  afterReport(state, external);
}

}  // namespace qor::server
