#include "service/FtSignalGeneratorService.h"

#include "service/GroupRules.h"
#include "service/GroupWalk.h"

namespace qor::server {

void FtSignalGeneratorService::setLevelInDbRelative(FtSignalGenerator* generator, double delta) {
  using G = FtSignalGenerator;
  groupwalk::moveRelative(*this, generator, delta, &G::LevelInDbGetter, &G::LevelInDbMinGetter, &G::LevelInDbMaxGetter,
                          &G::LevelInDbSetter, groupwalk::ACCEPT_ALL);
}

void FtSignalGeneratorService::doRecalc(FtSignalGenerator* group) {
  using G = FtSignalGenerator;
  if (!group || group->childrenShareds().empty()) return;
  rules::commonRange(group, &G::LevelInDbMinGetter, &G::LevelInDbMaxGetter, &G::LevelInDbMinExternalSetter,
                     &G::LevelInDbMaxExternalSetter);
  rules::commonRange(group, &G::FrequencyInHzMinGetter, &G::FrequencyInHzMaxGetter, &G::FrequencyInHzMinExternalSetter,
                     &G::FrequencyInHzMaxExternalSetter);
}

}  // namespace qor::server
