#include "service/FtLoadService.h"

#include "service/GroupRules.h"
#include "service/GroupWalk.h"

namespace qor::server {

namespace {

using L = FtLoad;
using Get = const double& (*)(const L*);
using Set = void (*)(L*, const double&);

template <class S>
void move(S& service, L* load, double delta, Get get, Get min, Get max, Set set) {
  groupwalk::moveRelative(service, load, delta, get, min, max, set, groupwalk::ACCEPT_ALL);
}

}  // namespace

void FtLoadService::setOutputPilotFreqRelative(FtLoad* load, double delta) {
  move(*this, load, delta, &L::OutputPilotFreqGetter, &L::OutputPilotFreqMinGetter, &L::OutputPilotFreqMaxGetter,
       &L::OutputPilotFreqSetter);
}

void FtLoadService::setOutputPilotLevelRelative(FtLoad* load, double delta) {
  move(*this, load, delta, &L::OutputPilotLevelGetter, &L::OutputPilotLevelMinGetter, &L::OutputPilotLevelMaxGetter,
       &L::OutputPilotLevelSetter);
}

void FtLoadService::setThresholdMinRelative(FtLoad* load, double delta) {
  move(*this, load, delta, &L::ThresholdMinGetter, &L::ThresholdMinMinGetter, &L::ThresholdMinMaxGetter,
       &L::ThresholdMinSetter);
}

void FtLoadService::setThresholdMaxRelative(FtLoad* load, double delta) {
  move(*this, load, delta, &L::ThresholdMaxGetter, &L::ThresholdMaxMinGetter, &L::ThresholdMaxMaxGetter,
       &L::ThresholdMaxSetter);
}

void FtLoadService::setThresholdMinEOLRelative(FtLoad* load, double delta) {
  move(*this, load, delta, &L::ThresholdMinEOLGetter, &L::ThresholdMinEOLMinGetter, &L::ThresholdMinEOLMaxGetter,
       &L::ThresholdMinEOLSetter);
}

void FtLoadService::setThresholdMaxEOLRelative(FtLoad* load, double delta) {
  move(*this, load, delta, &L::ThresholdMaxEOLGetter, &L::ThresholdMaxEOLMinGetter, &L::ThresholdMaxEOLMaxGetter,
       &L::ThresholdMaxEOLSetter);
}

void FtLoadService::doRecalc(FtLoad* group) {
  if (!group || group->childrenShareds().empty()) return;
  for (auto [get, set] : {std::pair{&L::ImpedanceGetter, &L::ImpedanceExternalSetter},
                          std::pair{&L::VoltageGetter, &L::VoltageExternalSetter},
                          std::pair{&L::CurrentGetter, &L::CurrentExternalSetter},
                          std::pair{&L::ImpedanceEOLGetter, &L::ImpedanceEOLExternalSetter}}) {
    rules::agreedOr(group, get, set, 0.0);
  }
  rules::commonRange(group, &L::ThresholdMinMinGetter, &L::ThresholdMinMaxGetter, &L::ThresholdMinMinExternalSetter,
                     &L::ThresholdMinMaxExternalSetter);
  rules::commonRange(group, &L::ThresholdMaxMinGetter, &L::ThresholdMaxMaxGetter, &L::ThresholdMaxMinExternalSetter,
                     &L::ThresholdMaxMaxExternalSetter);
  rules::commonRange(group, &L::OutputPilotFreqMinGetter, &L::OutputPilotFreqMaxGetter,
                     &L::OutputPilotFreqMinExternalSetter, &L::OutputPilotFreqMaxExternalSetter);
  rules::commonRange(group, &L::OutputPilotLevelMinGetter, &L::OutputPilotLevelMaxGetter,
                     &L::OutputPilotLevelMinExternalSetter, &L::OutputPilotLevelMaxExternalSetter);
}

}  // namespace qor::server
