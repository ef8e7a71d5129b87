#pragma once
// Failover configuration: what a group of devices can configure together.

#include "qor/server/services/FtFailoverConfigServiceBase.h"

namespace qor::server {

class FtFailoverConfigService : public FtFailoverConfigServiceBase {
 public:
  using FtFailoverConfigServiceBase::FtFailoverConfigServiceBase;

  // A group supports a failover type only when every member does, and
  // offers the failover and fallback time ranges common to all members.
  void doRecalc(FtFailoverConfig* group) override;
};

}  // namespace qor::server
