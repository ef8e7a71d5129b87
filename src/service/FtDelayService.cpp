#include "service/FtDelayService.h"

#include "service/GroupWalk.h"

namespace qor::server {

void FtDelayService::setDelayInMsRelative(FtDelay* delay, double delta) {
  groupwalk::moveRelative(
      *this, delay, delta, [](const FtDelay* d) { return d->getDelayInMs(); }, [](const FtDelay*) { return 0.0; },
      [](const FtDelay* d) { return d->getDelayInMsMax(); }, [](FtDelay* d, double v) { d->setDelayInMs(v, false); },
      [](const FtDelay* d) { return d->getIsReactingOnRealAmpChannel(); });
}

}  // namespace qor::server
