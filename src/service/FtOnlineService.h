#pragma once
// Online state: how far a group of devices has come online.

#include "qor/server/services/FtOnlineServiceBase.h"

namespace qor::server {

class FtOnlineService : public FtOnlineServiceBase {
 public:
  using FtOnlineServiceBase::FtOnlineServiceBase;

  // A group's progress is the mean of its members' progress; it supports
  // front-panel lock (and its PIN) only when every member does.
  void doRecalc(FtOnline* group) override;
};

}  // namespace qor::server
