#pragma once
// Meters: devices report three values at once; a meter group shows the
// hottest of its members.

#include "qor/server/services/FtSupermeterServiceBase.h"

namespace qor::server {

class FtSupermeterService : public FtSupermeterServiceBase {
 public:
  using FtSupermeterServiceBase::FtSupermeterServiceBase;

  // Writes input, output and reduction as a device report; false (and
  // nothing written) when all three are unchanged. Ancestors follow.
  bool setValues(FtSupermeter* meter, double input, double output, double reduction);

  // Recomputes the meter values of every group above the meter, nearest first.
  void recalcAncestors(FtSupermeter* meter) { recalcParents(meter); }

  // Every recalculation of a meter group (members joining or leaving, a
  // member's report) also recomputes its meter values.
  void recalcGroup(FtSupermeter* group) override;
};

}  // namespace qor::server
