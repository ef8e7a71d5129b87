#include "service/FtDeviceInfoService.h"

#include "service/GroupRules.h"

namespace qor::server {

void FtDeviceInfoService::doRecalc(FtDeviceInfo* group) {
  using I = FtDeviceInfo;
  if (!group || group->childrenShareds().empty()) return;
  rules::allOf(group, &I::IsFirmwareSupportedGetter, &I::IsFirmwareSupportedExternalSetter);
  rules::allOf(group, &I::IsFirmwareUpdateSupportedGetter, &I::IsFirmwareUpdateSupportedExternalSetter);
  rules::allOf(group, &I::IsFirmwareDetailsSupportedGetter, &I::IsFirmwareDetailsSupportedExternalSetter);
  rules::allOf(group, &I::IsDeviceIdSupportedGetter, &I::IsDeviceIdSupportedExternalSetter);
  rules::agreedOr(group, &I::IpaddressGetter, &I::IpaddressExternalSetter, std::string());
}

}  // namespace qor::server
