#include "service/FtOnlineService.h"

#include "service/GroupRules.h"

namespace qor::server {

void FtOnlineService::doRecalc(FtOnline* group) {
  using O = FtOnline;
  if (!group || group->childrenShareds().empty()) return;
  double sum = 0.0;
  std::size_t count = 0;
  rules::forEachMember(group, [&](O* m) {
    sum += m->getProgress();
    ++count;
  });
  rules::store(group, &O::ProgressGetter, &O::ProgressExternalSetter, sum / static_cast<double>(count));
  rules::allOf(group, &O::FrontPanelLockSupportedGetter, &O::FrontPanelLockSupportedExternalSetter);
  rules::allOf(group, &O::FrontPanelLockPinSupportedGetter, &O::FrontPanelLockPinSupportedExternalSetter);
}

}  // namespace qor::server
