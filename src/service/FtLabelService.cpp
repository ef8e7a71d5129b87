#include "service/FtLabelService.h"

#include "service/GroupRules.h"

namespace qor::server {

void FtLabelService::doRecalc(FtLabel* group) {
  if (!group || group->childrenShareds().empty()) return;
  rules::store(group, &FtLabel::ConsistentChannelGetter, &FtLabel::ConsistentChannelExternalSetter,
               group->getShortNameConsistent());
}

void FtLabelService::setShortName(FtLabel* label, const std::string& value, bool external) {
  FtLabelServiceBase::setShortName(label, value, external);
  if (label && external) recalcParents(label);
}

}  // namespace qor::server
