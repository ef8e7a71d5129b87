#include "service/FtGPIOService.h"

#include "service/GroupRules.h"

namespace qor::server {

void FtGPIOService::doRecalc(FtGPIO* group) {
  if (group && !group->childrenShareds().empty()) {
    rules::commonEntries(group, &FtGPIO::GpioModesGetter, &FtGPIO::GpioModesExternalSetter);
  }
}

}  // namespace qor::server
