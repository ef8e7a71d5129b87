#include "service/FtLabelService.h"

#include "service/GroupRules.h"

namespace qor::server {

void FtLabelService::doRecalc(FtLabel* group) {
  if (!group || group->childrenShareds().empty()) return;
  rules::store(group, &FtLabel::ConsistentChannelGetter, &FtLabel::ConsistentChannelExternalSetter,
               group->getShortNameConsistent());
}

}  // namespace qor::server
