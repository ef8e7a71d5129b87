#pragma once
// Delays: the relative delay change of a group.

#include "qor/server/services/FtDelayServiceBase.h"

namespace qor::server {

class FtDelayService : public FtDelayServiceBase {
 public:
  using FtDelayServiceBase::FtDelayServiceBase;

  // Moves every target that reacts on a real amplifier channel by the same
  // delta, narrowed so that none leaves [0, delayInMsMax].
  void setDelayInMsRelative(FtDelay* delay, double delta);
};

}  // namespace qor::server
