// The checks for values that must differ between devices: device ids, names
// (exact text, letter case counts) and power-on delays (exact values, so
// that amplifiers never switch on at the same moment).

#include "custom/checks/CheckRules.h"
#include "custom/checks/ProjectCheckService.h"

#include "qor/server/entities/FtDeviceInfo.h"
#include "qor/server/entities/FtPower.h"

#include "fennik/server/entity/Database.h"

#include <string_view>

namespace qor::server {

void ProjectCheckService::checkSameDeviceId() {
  const bool found =
      checks::anyValueTwice<std::string_view>(db()->all<Device>(), checks::isSingle, [](const Device& d) {
        const FtDeviceInfo* info = d.getDeviceInfo();
        return info && info->getIsDeviceIdSupported() ? std::optional<std::string_view>(info->getDeviceId())
                                                      : std::nullopt;
      });
  report(ProjectCheckKey::DEVICES_SAME_DEVICEID, "Devices should have different Device IDs", found);
}

void ProjectCheckService::checkSameDeviceName() {
  const bool found =
      checks::anyValueTwice<std::string_view>(db()->all<Device>(), checks::isSingle, [](const Device& d) {
        const FtDeviceInfo* info = d.getDeviceInfo();
        return info ? std::optional<std::string_view>(info->getName()) : std::nullopt;
      });
  report(ProjectCheckKey::DEVICES_SAME_NAME, "Devices should have different Device Names", found);
}

void ProjectCheckService::checkSamePowerOnDelay() {
  const bool found =
      checks::anyValueTwice<double>(db()->all<Device>(), checks::isSingleNetworkDevice, [](const Device& d) {
        const FtPower* power = d.getPower();
        return power && power->getDelayInSecSupported() ? std::optional(power->getDelayInSec()) : std::nullopt;
      });
  report(ProjectCheckKey::DEVICES_SAME_POWERONDELAY, "Devices should have different PowerOn delays", found);
}

}  // namespace qor::server
