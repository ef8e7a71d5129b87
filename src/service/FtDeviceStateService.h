#pragma once
// Device states: flags, errors and the collected error of a device or a
// device group, and the commands that hold, reset and collect them.

#include "qor/server/services/FtDeviceStateServiceBase.h"

#include <string>

namespace qor::server {

class FtDeviceStateService : public FtDeviceStateServiceBase {
 public:
  using FtDeviceStateServiceBase::FtDeviceStateServiceBase;

  // Holds (or releases) the collected error on the state and every owned member.
  void setHoldCollectedError(FtDeviceState* state, bool hold);
  // Toggles resetCollectedError: every change is the trigger.
  void resetCollectedError(FtDeviceState* state);
  // Collects (or stops collecting) the named flag; a group passes it on to
  // its members. Unknown names change nothing.
  void collectFlag(FtDeviceState* state, const std::string& flagName, bool collect);

  // A group's flags follow its members (see stateflags::recalcFlags); its
  // error and collected error are raised when any member's is.
  void doRecalc(FtDeviceState* group) override;
  // Destroys the state's channel states and remote devices with it.
  void destroy(FtDeviceState* state) override;

  // Device reports of the fields a group derives recalculate the ancestors.
  void setFlagStates(FtDeviceState* state, const std::vector<bool>& value, bool external) override;
  void setFlagCollectSupported(FtDeviceState* state, const std::vector<bool>& value, bool external) override;
  void setFlagNames(FtDeviceState* state, const std::vector<std::string>& value, bool external) override;
  void setError(FtDeviceState* state, const bool& value, bool external) override;
  void setErrorCollect(FtDeviceState* state, const bool& value, bool external) override;

 private:
  void afterReport(FtDeviceState* state, bool external);
};

}  // namespace qor::server
