// LivesoundService: the connector dialogue, the links between amplifier
// channels that wiring makes, and amplifier modes (docs/wiring.md).

#include "custom/livesound/LivesoundLog.h"
#include "custom/livesound/LivesoundService.h"
#include "service/FeatureServices.h"
#include "service/FtConnectorService.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/DeviceType.h"
#include "qor/server/entities/FtAmplifierMode.h"
#include "qor/server/entities/FtAudio.h"
#include "qor/server/entities/FtConnector.h"
#include "qor/server/entities/FtDelay.h"
#include "qor/server/entities/FtEqFilter.h"
#include "qor/server/entities/FtEqFilterBank.h"
#include "qor/server/entities/FtSupermeter.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

#include <boost/signals2/connection.hpp>

#include <algorithm>
#include <cstdint>
#include <set>
#include <type_traits>
#include <vector>

namespace qor::server {

namespace {

// The features of one kind on a device (tag-dispatched on the kind).
template <class E>
std::vector<E*> one(E* e) {
  return e ? std::vector<E*>{e} : std::vector<E*>{};
}
std::vector<FtAudio*> featuresOf(const Device* d, FtAudio*) { return one(d->getAudio()); }
std::vector<FtSupermeter*> featuresOf(const Device* d, FtSupermeter*) { return one(d->getSupermeter()); }
std::vector<FtDelay*> featuresOf(const Device* d, FtDelay*) { return d->delays(); }
std::vector<FtEqFilterBank*> featuresOf(const Device* d, FtEqFilterBank*) { return d->eqFilterBanks(); }

template <class E>
std::vector<E*> featuresOf(const Device* d) {
  return featuresOf(d, static_cast<E*>(nullptr));
}

template <class E>
void unlinkAll(E* e) {
  const std::vector<E*> peers = e->linkeds();
  for (E* peer : peers) {
    if (peer) e->removeLinked(peer);
  }
}

// Pass 1: every channel of this kind on the amplifiers lets go of its peers.
template <class E>
void clearLinks(const std::vector<Device*>& amps) {
  for (Device* amp : amps) {
    for (E* feature : featuresOf<E>(amp)) {
      if (!feature) continue;
      for (E* channel : feature->childrens()) {
        unlinkAll(channel);
        if constexpr (std::is_same_v<E, FtEqFilterBank>) {
          for (FtEqFilter* filter : channel->filters()) unlinkAll(filter);
        }
      }
    }
  }
}

// Pass 2, one key: channel i of amp takes every listed peer channel as a
// linked peer; delays and banks only of the same channel type, banks with
// their filters index by index.
template <class E>
void linkChannel(Device* amp, std::uint32_t i, const std::set<FtConnectorService::AmpChannel>& peers) {
  for (E* feature : featuresOf<E>(amp)) {
    if (!feature) continue;
    for (E* c : feature->childrens()) {
      if (static_cast<std::uint32_t>(c->getIndex()) != i) continue;
      for (const auto& [j, other] : peers) {
        if (!other) continue;
        for (E* otherFeature : featuresOf<E>(other)) {
          if (!otherFeature) continue;
          for (E* d : otherFeature->childrens()) {
            if (static_cast<std::uint32_t>(d->getIndex()) != j) continue;
            if constexpr (!std::is_same_v<E, FtAudio> && !std::is_same_v<E, FtSupermeter>) {
              if (c->getChannelType() != d->getChannelType()) continue;
            }
            c->addLinked(d);
            if constexpr (std::is_same_v<E, FtEqFilterBank>) {
              for (FtEqFilter* f : c->filters()) {
                for (FtEqFilter* g : d->filters()) {
                  if (f && g && f->getIndex() == g->getIndex()) f->addLinked(g);
                }
              }
            }
          }
        }
      }
    }
  }
}

// A channel shows whether it is linked (isLinked), as a device report would.
template <class E>
void markLinked(const fennik::server::ServiceResolver& resolver, const std::vector<Device*>& amps) {
  auto service = serviceOf<E>(resolver);
  if (!service) return;
  for (Device* amp : amps) {
    for (E* feature : featuresOf<E>(amp)) {
      if (!feature) continue;
      for (E* channel : feature->childrens()) {
        const bool linked = !channel->linkeds().empty();
        if (channel->getIsLinked() != linked) service->setIsLinked(channel, linked, true);
      }
    }
  }
}

}  // namespace

void LivesoundService::connectorStart(FtConnector* connector) {
  LIVESOUND_TRACE("connectorStart");
  if (!connector) return;
  if (auto connectors = services()->get<FtConnectorService>()) connectors->connectorStart(connector);
}

void LivesoundService::connectorSelect(FtConnector* connector) {
  LIVESOUND_TRACE("connectorSelect");
  auto connectors = services()->get<FtConnectorService>();
  if (!connector || !connectors) return;
  {
    const boost::signals2::scoped_connection mirror = connectors->onConnectionChanged(
        [this](FtConnector* source, FtConnector* sink, bool connected) { mirrorConnection(source, sink, connected); });
    connectors->connectorSelect(connector);
  }
  repairLinked();
}

void LivesoundService::connectorFinish() {
  LIVESOUND_TRACE("connectorFinish");
  if (auto connectors = services()->get<FtConnectorService>()) connectors->connectorFinish();
}

void LivesoundService::repairLinked() {
  auto connectors = services()->get<FtConnectorService>();
  if (!connectors) return;
  std::vector<Device*> amps;
  for (Device* d : db()->all<Device>()) {
    if (FtConnectorService::isAmplifier(d)) amps.push_back(d);
  }
  clearLinks<FtAudio>(amps);
  clearLinks<FtDelay>(amps);
  clearLinks<FtEqFilterBank>(amps);
  clearLinks<FtSupermeter>(amps);
  for (const auto& [key, peers] : connectors->getLinkedAmpChannels()) {
    const auto& [i, amp] = key;
    if (!amp) continue;
    linkChannel<FtSupermeter>(amp, i, peers);
    linkChannel<FtAudio>(amp, i, peers);
    linkChannel<FtDelay>(amp, i, peers);
    linkChannel<FtEqFilterBank>(amp, i, peers);
  }
  markLinked<FtAudio>(*services(), amps);
  markLinked<FtDelay>(*services(), amps);
  markLinked<FtEqFilterBank>(*services(), amps);
}

void LivesoundService::amplifierModeActivate(FtAmplifierMode* mode, bool active) {
  LIVESOUND_TRACE("amplifierModeActivate");
  if (!mode || mode->getActive() == active || !mode->getEnabled()) return;
  if (auto modes = serviceOf<FtAmplifierMode>(*services())) modes->setActive(mode, active, false);
  Device* device = nullptr;
  for (Device* d : db()->all<Device>()) {
    const FtAmplifierMode* modes = d->getAmplifierMode();
    if (modes && std::find(modes->childrens().begin(), modes->childrens().end(), mode) != modes->childrens().end()) {
      device = d;
      break;
    }
  }
  if (!device) return;
  connectorFinish();
  const FtConnector* own = device->getConnector();
  if (!own) return;
  // The channels the mode covers lose their wiring.
  for (int k = mode->getChannelIndex(); k < mode->getChannelIndex() + mode->getChannelCount(); ++k) {
    const auto& channels = own->childrens();
    auto it = std::find_if(channels.begin(), channels.end(), [k](const FtConnector* c) { return c->getIndex() == k; });
    if (it == channels.end()) continue;
    connectorStart(*it);
    connectorSelect(*it);
    connectorFinish();
  }
}

}  // namespace qor::server
