#include "service/FtNetworkService.h"

#include "service/GroupRules.h"

namespace qor::server {

void FtNetworkService::doRecalc(FtNetwork* group) {
  using N = FtNetwork;
  if (!group || group->childrenShareds().empty()) return;
  rules::allOf(group, &N::IsNetworkModeSupportedGetter, &N::IsNetworkModeSupportedExternalSetter);
  rules::allOf(group, &N::IsSampleRateSupportedGetter, &N::IsSampleRateSupportedExternalSetter);
  rules::anyOf(group, &N::IsSampleRateReadOnlyGetter, &N::IsSampleRateReadOnlyExternalSetter);
  rules::allOf(group, &N::IsConfigurationSupportedGetter, &N::IsConfigurationSupportedExternalSetter);
  rules::anyOf(group, &N::IsWarningBannerRequiredGetter, &N::IsWarningBannerRequiredExternalSetter);
}

}  // namespace qor::server
