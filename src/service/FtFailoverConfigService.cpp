#include "service/FtFailoverConfigService.h"

#include "service/GroupRules.h"

namespace qor::server {

void FtFailoverConfigService::doRecalc(FtFailoverConfig* group) {
  using F = FtFailoverConfig;
  if (!group || group->childrenShareds().empty()) return;
  rules::allOf(group, &F::IsFailoverFallbackSupportedGetter, &F::IsFailoverFallbackSupportedExternalSetter);
  rules::allOf(group, &F::IsFailoverNoFallbackSupportedGetter, &F::IsFailoverNoFallbackSupportedExternalSetter);
  rules::allOf(group, &F::IsDefaultStaticSupportedGetter, &F::IsDefaultStaticSupportedExternalSetter);
  rules::allOf(group, &F::IsFailoverStaticSupportedGetter, &F::IsFailoverStaticSupportedExternalSetter);
  rules::commonRange(group, &F::FailoverTimeMinGetter, &F::FailoverTimeMaxGetter, &F::FailoverTimeMinExternalSetter,
                     &F::FailoverTimeMaxExternalSetter);
  rules::commonRange(group, &F::FallbackTimeMinGetter, &F::FallbackTimeMaxGetter, &F::FallbackTimeMinExternalSetter,
                     &F::FallbackTimeMaxExternalSetter);
}

}  // namespace qor::server
