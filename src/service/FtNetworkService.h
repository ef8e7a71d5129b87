#pragma once
// Network settings: what a group of devices can configure together.

#include "qor/server/services/FtNetworkServiceBase.h"

namespace qor::server {

class FtNetworkService : public FtNetworkServiceBase {
 public:
  using FtNetworkServiceBase::FtNetworkServiceBase;

  // A group supports a network mode, a sample rate or IP configuration only
  // when every member does; its sample rate is read-only when any member's is.
  void doRecalc(FtNetwork* group) override;
};

}  // namespace qor::server
