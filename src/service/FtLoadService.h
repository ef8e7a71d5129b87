#pragma once
// Loads: relative changes of the pilot tone and the impedance thresholds.

#include "qor/server/services/FtLoadServiceBase.h"

namespace qor::server {

class FtLoadService : public FtLoadServiceBase {
 public:
  using FtLoadServiceBase::FtLoadServiceBase;

  // Each moves its field on every target by the same delta, narrowed so that
  // no target leaves the field's own minimum and maximum.
  void setOutputPilotFreqRelative(FtLoad* load, double delta);
  void setOutputPilotLevelRelative(FtLoad* load, double delta);
  void setThresholdMinRelative(FtLoad* load, double delta);
  void setThresholdMaxRelative(FtLoad* load, double delta);
  void setThresholdMinEOLRelative(FtLoad* load, double delta);
  void setThresholdMaxEOLRelative(FtLoad* load, double delta);

  // A group shows its members' measurements only when they all agree, and
  // the threshold ranges common to all of them.
  void doRecalc(FtLoad* group) override;
};

}  // namespace qor::server
