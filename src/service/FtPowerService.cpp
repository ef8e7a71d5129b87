#include "service/FtPowerService.h"

#include "service/GroupRules.h"
#include "service/GroupWalk.h"

namespace qor::server {

template <class V>
void FtPowerService::writeSummed(FtPower* power, bool (*set)(FtPower*, const V&, bool), const V& value, bool external) {
  if (!power) return;
  // The entity's own setter compares only for external writes.
  if (set(power, value, external) && external) recalcParents(power);
}

void FtPowerService::setCountPowered(FtPower* power, const std::int32_t& value, bool external) {
  writeSummed(power, &FtPower::CountPoweredExternalSetter, value, external);
}

void FtPowerService::setCountStandby(FtPower* power, const std::int32_t& value, bool external) {
  writeSummed(power, &FtPower::CountStandbyExternalSetter, value, external);
}

void FtPowerService::setCountECO(FtPower* power, const std::int32_t& value, bool external) {
  writeSummed(power, &FtPower::CountECOExternalSetter, value, external);
}

void FtPowerService::setVoltAmperes(FtPower* power, const double& value, bool external) {
  writeSummed(power, &FtPower::VoltAmperesExternalSetter, value, external);
}

void FtPowerService::setAmperes(FtPower* power, const double& value, bool external) {
  writeSummed(power, &FtPower::AmperesExternalSetter, value, external);
}

void FtPowerService::doRecalc(FtPower* group) {
  if (!group) return;
  std::int32_t powered = 0;
  std::int32_t eco = 0;
  std::int32_t standby = 0;
  double voltAmperes = 0.0;
  double amperes = 0.0;
  for (const FtPower* leaf : groupwalk::leavesOf(group)) {
    powered += leaf->getCountPowered();
    eco += leaf->getCountECO();
    standby += leaf->getCountStandby();
    voltAmperes += leaf->getVoltAmperes();
    amperes += leaf->getAmperes();
  }
  group->setCountPowered(powered, false);
  group->setCountECO(eco, false);
  group->setCountStandby(standby, false);
  group->setVoltAmperes(voltAmperes, false);
  group->setAmperes(amperes, false);
}

}  // namespace qor::server
