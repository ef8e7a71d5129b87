#pragma once
// Equaliser filters: a new filter is a usable, flat peak filter.

#include "qor/server/services/FtEqFilterServiceBase.h"

namespace qor::server {

class FtEqFilterService : public FtEqFilterServiceBase {
 public:
  using FtEqFilterServiceBase::FtEqFilterServiceBase;

  // A bypassed 0 dB peak filter at 1 kHz with a quality factor of 1.
  FtEqFilter* create() override;
};

}  // namespace qor::server
