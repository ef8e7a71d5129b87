#pragma once
// GPIOs: the modes a group of GPIOs can switch to.

#include "qor/server/services/FtGPIOServiceBase.h"

namespace qor::server {

class FtGPIOService : public FtGPIOServiceBase {
 public:
  using FtGPIOServiceBase::FtGPIOServiceBase;

  // A group offers the GPIO modes every member offers.
  void doRecalc(FtGPIO* group) override;
};

}  // namespace qor::server
