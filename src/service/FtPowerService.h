#pragma once
// Power: a group sums its leaf powers' counters and consumption instead of
// aggregating them.

#include "qor/server/services/FtPowerServiceBase.h"

namespace qor::server {

class FtPowerService : public FtPowerServiceBase {
 public:
  using FtPowerServiceBase::FtPowerServiceBase;

  // Normal writes store unconditionally and do nothing else; a device's
  // report stores only a changed value and recalculates every ancestor.
  void setCountPowered(FtPower* power, const std::int32_t& value, bool external) override;
  void setCountStandby(FtPower* power, const std::int32_t& value, bool external) override;
  void setCountECO(FtPower* power, const std::int32_t& value, bool external) override;
  void setVoltAmperes(FtPower* power, const double& value, bool external) override;
  void setAmperes(FtPower* power, const double& value, bool external) override;

  // Sums over the leaf powers under the group, each counted once.
  void doRecalc(FtPower* group) override;

 private:
  template <class V>
  void writeSummed(FtPower* power, bool (*set)(FtPower*, const V&, bool), const V& value, bool external);
};

}  // namespace qor::server
