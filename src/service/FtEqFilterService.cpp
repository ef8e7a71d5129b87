#include "service/FtEqFilterService.h"

namespace qor::server {

FtEqFilter* FtEqFilterService::create() {
  FtEqFilter* filter = FtEqFilterServiceBase::create();
  filter->setType(FtEqFilterType::PEQ, false);
  filter->setGainInDb(0.0, false);
  filter->setFreqInHz(1000.0, false);
  filter->setFreq2InHz(1000.0, false);
  filter->setQualityFactor(1.0, false);
  filter->setQualityFactor2(1.0, false);
  filter->setBypass(true, false);
  return filter;
}

}  // namespace qor::server
