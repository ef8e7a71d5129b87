#include "service/FtInputSourceService.h"

#include "service/GroupRules.h"

namespace qor::server {

void FtInputSourceService::doRecalc(FtInputSource* group) {
  using S = FtInputSource;
  if (!group || group->childrenShareds().empty()) return;
  rules::maxOf(group, &S::VuGetter, &S::VuExternalSetter);
  rules::anyOf(group, &S::StateDantePrimaryFailGetter, &S::StateDantePrimaryFailExternalSetter);
  rules::anyOf(group, &S::StateDanteSecondaryFailGetter, &S::StateDanteSecondaryFailExternalSetter);
  rules::anyOf(group, &S::StatePilotFailGetter, &S::StatePilotFailExternalSetter);
  rules::anyOf(group, &S::StateInterfaceErrorGetter, &S::StateInterfaceErrorExternalSetter);
  rules::anyOf(group, &S::StateInterfaceLockedGetter, &S::StateInterfaceLockedExternalSetter);
}

}  // namespace qor::server
