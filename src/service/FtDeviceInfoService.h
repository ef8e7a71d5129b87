#pragma once
// Device information: what a group can tell about its members.

#include "qor/server/services/FtDeviceInfoServiceBase.h"

namespace qor::server {

class FtDeviceInfoService : public FtDeviceInfoServiceBase {
 public:
  using FtDeviceInfoServiceBase::FtDeviceInfoServiceBase;

  // A group supports firmware information and updates when every member
  // does, and shows the members' IP address only when they share one.
  void doRecalc(FtDeviceInfo* group) override;
};

}  // namespace qor::server
