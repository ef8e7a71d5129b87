#include "service/FtSupermeterService.h"

#include "service/GroupRules.h"

namespace qor::server {

using M = FtSupermeter;

bool FtSupermeterService::setValues(FtSupermeter* meter, double input, double output, double reduction) {
  if (!meter) return false;
  if (meter->getInput() == input && meter->getOutput() == output && meter->getReduction() == reduction) return false;
  meter->setInput(input, true);
  meter->setOutput(output, true);
  meter->setReduction(reduction, true);
  recalcAncestors(meter);
  return true;
}

void FtSupermeterService::recalcGroup(FtSupermeter* group) {
  FtSupermeterServiceBase::recalcGroup(group);
  if (!group || group->childrenShareds().empty()) return;
  rules::maxOf(group, &M::InputGetter, &M::InputExternalSetter);
  rules::maxOf(group, &M::OutputGetter, &M::OutputExternalSetter);
  rules::maxOf(group, &M::ReductionGetter, &M::ReductionExternalSetter);
  rules::anyOf(group, &M::LimitGetter, &M::LimitExternalSetter);
  rules::anyOf(group, &M::LimitPeakGetter, &M::LimitPeakExternalSetter);
  rules::anyOf(group, &M::LimitRMSGetter, &M::LimitRMSExternalSetter);
  rules::anyOf(group, &M::ReductionSupportedGetter, &M::ReductionSupportedExternalSetter);
}

}  // namespace qor::server
