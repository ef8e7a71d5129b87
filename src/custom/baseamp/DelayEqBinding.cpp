// FtDelay and FtEqFilterBank: one parent per channel type the driver offers
// (user and array channels, never inputs), children per channel, and for the
// equaliser each channel's filters.

#include "custom/baseamp/BaseAmplifier.h"
#include "custom/basedevice/DriverConversions.h"

#include "qor/server/entities/FtDelay.h"
#include "qor/server/entities/FtEqFilter.h"
#include "qor/server/entities/FtEqFilterBank.h"
#include "qor/server/services/FtDelayService.h"
#include "qor/server/services/FtEqFilterBankService.h"
#include "qor/server/services/FtEqFilterService.h"

#include <string_view>

namespace qor::server {

using fennik::devices::ChannelType;
using fennik::devices::DriverSignal;
using fennik::server::Uuid;

namespace {

constexpr FtChannelType DELAY_AND_EQ_TYPES[] = {FtChannelType::USER, FtChannelType::ARRAY};

ChannelType driverChannelType(FtChannelType type) { return static_cast<ChannelType>(static_cast<int>(type)); }

}  // namespace

void BaseAmplifier::createFtDelays(Device* device) {
  for (FtChannelType type : DELAY_AND_EQ_TYPES) createFtDelay(device, type);
  connectFtDelays(device);
}

void BaseAmplifier::createFtDelay(Device* device, FtChannelType type) {
  auto delays = service<FtDelayService>();
  Driver* d = device ? driver(device) : nullptr;
  if (!delays || !d || !d->isDelaySupported(driverChannelType(type))) return;
  FtDelay* parent = createChannelShaped(*delays, device, d->getChannelCount(), [](int) { return true; });
  delays->setChannelType(parent, type, false);
  for (FtDelay* child : parent->childrens()) delays->setChannelType(child, type, false);
  device->addDelay(parent);
}

void BaseAmplifier::connectFtDelays(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  if (!d) return;
  auto delays = service<FtDelayService>();
  const Uuid deviceId = device->id();
  Refresh<FtDelay> refresh = [delays](FtDelay& e, Driver& drv) {
    const ChannelType type = driverChannelType(e.getChannelType());
    for (FtDelay* child : e.childrens()) {
      if (!child) continue;
      const int ch = child->getIndex();
      delays->setDelayInMsMax(child, drv.getDelayMax(type), true);
      delays->setDelayInMs(child, drv.getDelay(type, ch), true);
      delays->setIsBypassed(child, drv.getDelayBypass(type, ch), true);
    }
  };
  for (FtDelay* parent : device->delays()) {
    if (!parent) continue;
    refresh(*parent, *d);
    const ChannelType type = driverChannelType(parent->getChannelType());
    onChangesOf<FtDelay>(
        device, parent->childrens(), [this, deviceId, type](FtDelay& e, std::string_view key, bool external) {
          if (external) return;
          const int ch = e.getIndex();
          if (key == FtDelay::FIELD_DELAYINMS) {
            const double ms = e.getDelayInMs();
            toDriver(deviceId, "setDelay", [&](Driver& drv) { drv.setDelay(type, ch, ms); });
          } else if (key == FtDelay::FIELD_ISBYPASSED) {
            const bool bypassed = e.getIsBypassed();
            toDriver(deviceId, "setDelayBypass", [&](Driver& drv) { drv.setDelayBypass(type, ch, bypassed); });
          }
        });
    reportInto<FtDelay>(device, parent, DriverSignal::Delay, refresh);
  }
}

void BaseAmplifier::destroyFtDelays(Device* device) {
  if (!device) return;
  const std::vector<FtDelay*> delays = device->delays();
  for (FtDelay* delay : delays) {
    if (!delay) continue;
    device->removeDelay(delay);
    destroyFeature<FtDelayService>(delay);
  }
}

namespace {

// The ranges a filter takes. They are not kept in the project file, so a
// filter gets them when it is made and again whenever its device connects
// (a reopened project).
void setEqFilterRanges(FtEqFilterService& filters, FtEqFilter* filter, bool external) {
  filters.setFreqInHzMin(filter, 20.0, external);
  filters.setFreqInHzMax(filter, 20000.0, external);
  filters.setFreq2InHzMin(filter, 20.0, external);
  filters.setFreq2InHzMax(filter, 20000.0, external);
  filters.setGainInDbMin(filter, -18.0, external);
  filters.setGainInDbMax(filter, 18.0, external);
  filters.setQualityFactorMin(filter, 0.1, external);
  filters.setQualityFactorMax(filter, 10.0, external);
  filters.setQualityFactor2Min(filter, 0.1, external);
  filters.setQualityFactor2Max(filter, 10.0, external);
}

}  // namespace

FtEqFilter* BaseAmplifier::createFtEqFilter(Device*, FtChannelType) {
  auto filters = service<FtEqFilterService>();
  if (!filters) return nullptr;
  FtEqFilter* filter = filters->create();
  filters->setSource(filter, FtSource::CHANNEL, false);
  setEqFilterRanges(*filters, filter, false);
  return filter;
}

void BaseAmplifier::createFtEqFilterBanks(Device* device) {
  for (FtChannelType type : DELAY_AND_EQ_TYPES) createFtEqFilterBank(device, type);
  connectFtEqFilterBanks(device);
}

void BaseAmplifier::createFtEqFilterBank(Device* device, FtChannelType type) {
  auto banks = service<FtEqFilterBankService>();
  auto filters = service<FtEqFilterService>();
  Driver* d = device ? driver(device) : nullptr;
  if (!banks || !filters || !d) return;
  const int count = d->getEqFilterCount(driverChannelType(type));
  if (count <= 0) return;
  FtEqFilterBank* parent = createChannelShaped(*banks, device, d->getChannelCount(), [](int) { return true; });
  banks->setChannelType(parent, type, false);
  for (FtEqFilterBank* child : parent->childrens()) {
    banks->setChannelType(child, type, false);
    for (int i = 0; i < count; ++i) {
      FtEqFilter* filter = createFtEqFilter(device, type);
      if (!filter) continue;
      filters->setIndex(filter, i, false);
      filters->setIsAvailable(filter, true, false);
      child->addFilter(filter);
    }
  }
  device->addEqFilterBank(parent);
}

void BaseAmplifier::connectFtEqFilterBanks(Device* device) { connectFtEqFilterBank(device); }

void BaseAmplifier::connectFtEqFilterBank(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  if (!d) return;
  auto banks = service<FtEqFilterBankService>();
  auto filters = service<FtEqFilterService>();
  const Uuid deviceId = device->id();
  Refresh<FtEqFilterBank> refresh = [banks, filters](FtEqFilterBank& e, Driver& drv) {
    const ChannelType type = driverChannelType(e.getChannelType());
    for (FtEqFilterBank* child : e.childrens()) {
      if (!child) continue;
      for (FtEqFilter* filter : child->filters()) {
        if (!filter) continue;
        setEqFilterRanges(*filters, filter, true);
        const auto v = drv.getEqFilter(type, child->getIndex(), filter->getIndex());
        filters->setType(filter, eqFilterTypeFromDriver(v.type), true);
        filters->setSlopeType(filter, eqSlopeTypeFromDriver(v.slope), true);
        filters->setBypass(filter, v.bypass, true);
        filters->setFreqInHz(filter, v.freqInHz, true);
        filters->setFreq2InHz(filter, v.freq2InHz, true);
        filters->setGainInDb(filter, v.gainInDb, true);
        filters->setQualityFactor(filter, v.quality, true);
        filters->setQualityFactor2(filter, v.quality2, true);
      }
      // Whether the bank does anything follows from its filters.
      banks->doRecalcActive(child);
    }
  };
  for (FtEqFilterBank* parent : device->eqFilterBanks()) {
    if (!parent) continue;
    refresh(*parent, *d);
    const ChannelType type = driverChannelType(parent->getChannelType());
    // Switching a channel's equaliser on or off (a client, or an A/B preset
    // being loaded) takes its filters in or out; they then reach the device
    // like any other filter change, and the device's report shows the bank
    // active or not again.
    onChangesOf<FtEqFilterBank>(device, parent->childrens(),
                                [filters](FtEqFilterBank& bank, std::string_view key, bool external) {
                                  if (external || !filters || key != FtEqFilterBank::FIELD_ISACTIVE) return;
                                  // A copy: each filter change recomputes the bank's field on the way.
                                  const bool active = bank.getIsActive();
                                  for (FtEqFilter* f : bank.filters()) {
                                    if (f && f->getIsAvailable()) filters->setBypass(f, !active, false);
                                  }
                                });
    for (FtEqFilterBank* child : parent->childrens()) {
      if (!child) continue;
      const int ch = child->getIndex();
      const Uuid bankId = child->id();
      // Any field of a filter sends the whole filter, as the device takes
      // it. One slot serves the bank's filters: a device has hundreds.
      onChangesOf<FtEqFilter>(
          device, child->filters(),
          [this, banks, deviceId, bankId, type, ch](FtEqFilter& f, std::string_view key, bool external) {
            // The fields the device takes as one filter; ranges, consistency
            // flags and relations never reach it.
            if (external ||
                !isField(key, {FtEqFilter::FIELD_TYPE, FtEqFilter::FIELD_SLOPETYPE, FtEqFilter::FIELD_BYPASS,
                               FtEqFilter::FIELD_FREQINHZ, FtEqFilter::FIELD_FREQ2INHZ, FtEqFilter::FIELD_GAININDB,
                               FtEqFilter::FIELD_QUALITYFACTOR, FtEqFilter::FIELD_QUALITYFACTOR2}))
              return;
            const int index = f.getIndex();
            fennik::devices::EqFilter v;
            v.type = eqFilterTypeToDriver(f.getType());
            v.slope = eqSlopeTypeToDriver(f.getSlopeType());
            v.bypass = f.getBypass();
            v.freqInHz = f.getFreqInHz();
            v.freq2InHz = f.getFreq2InHz();
            v.gainInDb = f.getGainInDb();
            v.quality = f.getQualityFactor();
            v.quality2 = f.getQualityFactor2();
            toDriver(deviceId, "setEqFilter", [&](Driver& drv) { drv.setEqFilter(type, ch, index, v); });
            // The bank shows at once whether it does anything, online or not.
            if (banks) banks->doRecalcActive(db()->get<FtEqFilterBank>(bankId));
          });
    }
    reportInto<FtEqFilterBank>(device, parent, DriverSignal::Eq, refresh);
  }
}

void BaseAmplifier::destroyFtEqFilterBanks(Device* device) {
  if (!device) return;
  auto filters = service<FtEqFilterService>();
  const std::vector<FtEqFilterBank*> banks = device->eqFilterBanks();
  for (FtEqFilterBank* bank : banks) {
    if (!bank) continue;
    device->removeEqFilterBank(bank);
    // Filters hang off the channel banks by reference, not as members.
    for (FtEqFilterBank* child : bank->childrens()) {
      if (!child || !filters) continue;
      const std::vector<FtEqFilter*> owned = child->filters();
      for (FtEqFilter* filter : owned) {
        child->removeFilter(filter);
        filters->destroy(filter);
      }
    }
    destroyFeature<FtEqFilterBankService>(bank);
  }
}

}  // namespace qor::server
