// LivesoundService: a wire mirrored in the features of the two devices it
// joins. The fed side (a loudspeaker input) presents the feeding channel:
// its channel features become groups over the amplifier channel's, so the
// loudspeaker shows what the amplifier channel reports and a change made on
// the loudspeaker drives the amplifier channel (docs/wiring.md).

#include "custom/livesound/LivesoundService.h"
#include "service/FeatureServices.h"
#include "service/FtConnectorService.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/DeviceType.h"
#include "qor/server/entities/FtAudio.h"
#include "qor/server/entities/FtConnector.h"
#include "qor/server/entities/FtDelay.h"
#include "qor/server/entities/FtEqFilter.h"
#include "qor/server/entities/FtEqFilterBank.h"
#include "qor/server/entities/FtFailoverConfig.h"
#include "qor/server/entities/FtLoad.h"
#include "qor/server/entities/FtPower.h"
#include "qor/server/entities/FtSignalGenerator.h"
#include "qor/server/entities/FtSpeakerSetting.h"
#include "qor/server/entities/FtSupermeter.h"

#include "fennik/server/service/ServiceResolver.h"

namespace qor::server {

namespace {

template <class E>
E* channelOf(E* feature, int index) {
  if (!feature) return nullptr;
  for (E* c : feature->childrens()) {
    if (c && c->getIndex() == index) return c;
  }
  return nullptr;
}

// The fed channel becomes (or stops being) a group over the feeding one.
template <class S, class E>
void relate(S& service, E* fed, E* feeding, bool connected) {
  if (!fed || !feeding) return;
  if (connected)
    service.addChild(fed, feeding, false);
  else
    service.removeChild(fed, feeding);
}

class Mirror {
 public:
  Mirror(const fennik::server::ServiceResolver& services, Device* source, int sourceIndex, Device* sink, int sinkIndex,
         bool connected)
      : services_(services),
        source_(source),
        sink_(sink),
        sourceIndex_(sourceIndex),
        sinkIndex_(sinkIndex),
        connected_(connected) {}

  template <class E>
  void single(E* (Device::*slot)() const) {
    auto service = serviceOf<E>(services_);
    if (service)
      relate(*service, channelOf((sink_->*slot)(), sinkIndex_), channelOf((source_->*slot)(), sourceIndex_),
             connected_);
  }

  void delays() {
    auto service = serviceOf<FtDelay>(services_);
    if (!service) return;
    for (FtDelay* fed : sink_->delays()) {
      for (FtDelay* feeding : source_->delays()) {
        if (fed && feeding && fed->getChannelType() == feeding->getChannelType())
          relate(*service, channelOf(fed, sinkIndex_), channelOf(feeding, sourceIndex_), connected_);
      }
    }
  }

  // Banks of one channel type; their filters index by index.
  void banks() {
    auto service = serviceOf<FtEqFilterBank>(services_);
    auto filters = serviceOf<FtEqFilter>(services_);
    if (!service || !filters) return;
    for (FtEqFilterBank* fedBank : sink_->eqFilterBanks()) {
      for (FtEqFilterBank* feedingBank : source_->eqFilterBanks()) {
        if (!fedBank || !feedingBank || fedBank->getChannelType() != feedingBank->getChannelType()) continue;
        FtEqFilterBank* fed = channelOf(fedBank, sinkIndex_);
        FtEqFilterBank* feeding = channelOf(feedingBank, sourceIndex_);
        if (!fed || !feeding) continue;
        relate(*service, fed, feeding, connected_);
        for (FtEqFilter* f : fed->filters()) {
          for (FtEqFilter* g : feeding->filters()) {
            if (f && g && f->getIndex() == g->getIndex()) relate(*filters, f, g, connected_);
          }
        }
      }
    }
  }

  // The amplifier channel loads what the loudspeaker needs; releasing the
  // wire leaves the amplifier with what it has loaded.
  void speakerSetting() {
    auto service = serviceOf<FtSpeakerSetting>(services_);
    const FtSpeakerSetting* speaker = channelOf(sink_->getSpeakerSetting(), sinkIndex_);
    FtSpeakerSetting* amp = channelOf(source_->getSpeakerSetting(), sourceIndex_);
    if (!connected_ || !service || !speaker || !amp) return;
    service->setSupposedSpsFilePath(amp, speaker->getSupposedSpsFilePath(), false);
    service->setSupposedSpeakerDbDspChainId(amp, speaker->getSupposedSpeakerDbDspChainId(), false);
    service->setBandType(amp, speaker->getBandType(), false);
    service->setIsGeneric(amp, speaker->getIsGeneric(), false);
  }

 private:
  const fennik::server::ServiceResolver& services_;
  Device* source_;
  Device* sink_;
  int sourceIndex_;
  int sinkIndex_;
  bool connected_;
};

}  // namespace

void LivesoundService::mirrorConnection(FtConnector* source, FtConnector* sink, bool connected) {
  auto connectors = services()->get<FtConnectorService>();
  Device* feeding = connectors ? connectors->deviceOf(source) : nullptr;
  Device* fed = connectors ? connectors->deviceOf(sink) : nullptr;
  if (!feeding || !fed) return;
  // Two amplifier channels wired together are peers, not one over the
  // other: repairLinked links them.
  if (sink->getPlacement() == FtConnectorPlacement::AMP_OUTPUT) return;
  Mirror m(*services(), feeding, source->getIndex(), fed, sink->getIndex(), connected);
  m.single(&Device::getAudio);
  m.single(&Device::getSignalGenerator);
  m.single(&Device::getPower);
  m.single(&Device::getFailoverConfig);
  m.single(&Device::getSupermeter);
  m.delays();
  m.banks();
  if (FtConnectorService::isAmplifier(feeding)) m.speakerSetting();
  m.single(&Device::getLoad);
}

}  // namespace qor::server
