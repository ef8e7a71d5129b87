// Duplicating an amplifier (its channel settings go to the copy) and
// grouping amplifiers.

#include "custom/baseamp/BaseAmplifier.h"

#include "qor/server/entities/FtAmplifierDriveMode.h"
#include "qor/server/entities/FtAmplifierGain.h"
#include "qor/server/entities/FtDelay.h"
#include "qor/server/entities/FtEqFilter.h"
#include "qor/server/entities/FtEqFilterBank.h"
#include "qor/server/entities/FtFailoverConfig.h"
#include "qor/server/entities/FtSignalGenerator.h"
#include "qor/server/services/FtAmplifierDriveModeService.h"
#include "qor/server/services/FtAmplifierGainService.h"
#include "qor/server/services/FtDelayService.h"
#include "qor/server/services/FtEqFilterService.h"
#include "qor/server/services/FtFailoverConfigService.h"
#include "qor/server/services/FtSignalGeneratorService.h"

namespace qor::server {

namespace {

// Writes a filter's setting only where the copy differs: a new amplifier
// already holds the defaults, most filters of a real system stay at them,
// and every write runs through the bank's aggregates and the driver.
template <class V>
void copyFilterSetting(IFtEqFilterService& filters, FtEqFilter* to, const V& value, const V& current,
                       void (IFtEqFilterService::*set)(FtEqFilter*, const V&, bool)) {
  if (!(value == current)) (filters.*set)(to, value, false);
}

}  // namespace

void BaseAmplifier::copySettings(Device* from, Device* to) {
  BaseDevice::copySettings(from, to);
  if (!from || !to || from == to) return;
  if (auto gains = service<FtAmplifierGainService>()) {
    forMatchingChildren(from->getAmplifierGain(), to->getAmplifierGain(), [&](FtAmplifierGain& a, FtAmplifierGain& b) {
      gains->setGainInDb(&b, a.getGainInDb(), false);
    });
  }
  if (auto modes = service<FtAmplifierDriveModeService>()) {
    forMatchingChildren(
        from->getAmplifierDriveMode(), to->getAmplifierDriveMode(),
        [&](FtAmplifierDriveMode& a, FtAmplifierDriveMode& b) { modes->setMode(&b, a.getMode(), false); });
  }
  // Delays and banks pair up by channel type, then by channel.
  if (auto delays = service<FtDelayService>()) {
    for (FtDelay* a : from->delays()) {
      for (FtDelay* b : to->delays()) {
        if (!a || !b || a->getChannelType() != b->getChannelType()) continue;
        forMatchingChildren(a, b, [&](FtDelay& x, FtDelay& y) {
          delays->setDelayInMs(&y, x.getDelayInMs(), false);
          delays->setIsBypassed(&y, x.getIsBypassed(), false);
        });
      }
    }
  }
  if (auto filters = service<FtEqFilterService>()) {
    for (FtEqFilterBank* a : from->eqFilterBanks()) {
      for (FtEqFilterBank* b : to->eqFilterBanks()) {
        if (!a || !b || a->getChannelType() != b->getChannelType()) continue;
        forMatchingChildren(a, b, [&](FtEqFilterBank& x, FtEqFilterBank& y) {
          for (FtEqFilter* f : x.filters()) {
            for (FtEqFilter* g : y.filters()) {
              if (!f || !g || f->getIndex() != g->getIndex()) continue;
              auto& s = *filters;
              copyFilterSetting(s, g, f->getType(), g->getType(), &FtEqFilterService::setType);
              copyFilterSetting(s, g, f->getSlopeType(), g->getSlopeType(), &FtEqFilterService::setSlopeType);
              copyFilterSetting(s, g, f->getFreqInHz(), g->getFreqInHz(), &FtEqFilterService::setFreqInHz);
              copyFilterSetting(s, g, f->getFreq2InHz(), g->getFreq2InHz(), &FtEqFilterService::setFreq2InHz);
              copyFilterSetting(s, g, f->getGainInDb(), g->getGainInDb(), &FtEqFilterService::setGainInDb);
              copyFilterSetting(s, g, f->getQualityFactor(), g->getQualityFactor(),
                                &FtEqFilterService::setQualityFactor);
              copyFilterSetting(s, g, f->getQualityFactor2(), g->getQualityFactor2(),
                                &FtEqFilterService::setQualityFactor2);
              copyFilterSetting(s, g, f->getBypass(), g->getBypass(), &FtEqFilterService::setBypass);
            }
          }
        });
      }
    }
  }
  auto configs = service<FtFailoverConfigService>();
  if (configs && from->getFailoverConfig() && to->getFailoverConfig()) {
    FtFailoverConfig* a = from->getFailoverConfig();
    FtFailoverConfig* b = to->getFailoverConfig();
    configs->setFailoverTime(b, a->getFailoverTime(), false);
    configs->setFallbackTime(b, a->getFallbackTime(), false);
    configs->setSelectedType(b, a->getSelectedType(), false);
  }
}

void BaseAmplifier::createGroupFeatures(Device* group, const std::vector<Device*>& members) {
  BaseDevice::createGroupFeatures(group, members);
  groupSlot<FtAmplifierGainService>(group, members, &Device::getAmplifierGain, &Device::setAmplifierGain);
  groupSlot<FtAmplifierDriveModeService>(group, members, &Device::getAmplifierDriveMode,
                                         &Device::setAmplifierDriveMode);
  groupSlot<FtSignalGeneratorService>(group, members, &Device::getSignalGenerator, &Device::setSignalGenerator);
}

}  // namespace qor::server
