#pragma once
// Input sources: the signal state a group of inputs shows.

#include "qor/server/services/FtInputSourceServiceBase.h"

namespace qor::server {

class FtInputSourceService : public FtInputSourceServiceBase {
 public:
  using FtInputSourceServiceBase::FtInputSourceServiceBase;

  // A group shows the loudest member's meter and raises each failure state
  // when any member raises it.
  void doRecalc(FtInputSource* group) override;
};

}  // namespace qor::server
