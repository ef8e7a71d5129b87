#include "custom/HighlightService.h"

#include "service/SessionService.h"
#include "service/SessionWindowService.h"

#include "qor/server/entities/All.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

#include <deque>
#include <type_traits>
#include <unordered_set>

namespace qor::server {

using fennik::server::Entity;
using fennik::server::Uuid;

namespace {

// An ordered set of entity ids.
class IdSet {
 public:
  bool add(const Entity* e) {
    if (!e || !seen_.insert(e).second) return false;
    ids_.push_back(e->strId());
    return true;
  }
  bool empty() const { return ids_.empty(); }
  std::vector<std::string> take() { return std::move(ids_); }

 private:
  std::unordered_set<const Entity*> seen_;
  std::vector<std::string> ids_;
};

// Calls fn with the feature under its own type; false for anything that is
// not a feature with group and link relations.
template <class... Ts, class Fn>
bool asFeature(Entity* e, Fn&& fn) {
  return ((dynamic_cast<Ts*>(e) ? (fn(static_cast<Ts*>(e)), true) : false) || ...);
}

template <class Fn>
bool withFeature(Entity* e, Fn&& fn) {
  return asFeature<FtLabel, FtDeviceInfo, FtOnline, FtAudio, FtPower, FtSignalGenerator, FtSupermeter, FtDelay,
                   FtPreset, FtSpeakerSetting, FtEqFilterBank, FtEqFilter, FtAmplifierMode, FtAmplifierDriveMode,
                   FtAmplifierGain, FtSpeakerMode, FtInputSource, FtInputRouting, FtFailoverConfig, FtDeviceState,
                   FtChannelState, FtDeviceStateRemoteDevice, FtConnector, FtNetwork, FtGPIO, FtLoad>(e, fn);
}

bool isGroupSource(FtSource s) { return s == FtSource::GROUP || s == FtSource::GROUP_DEVICE; }

class Passes {
 public:
  Passes(const fennik::server::Database& db, bool followLinks) : db_(db), followLinks_(followLinks) {}

  void run(Entity* feature) {
    if (!ids_.add(feature)) return;
    queue_.push_back(feature);
    // Every id added is itself walked, so the passes reach a fixed point.
    while (!queue_.empty()) {
      Entity* current = queue_.front();
      queue_.pop_front();
      withFeature(current, [&](auto* f) { relatedOf(f); });
    }
  }
  std::vector<std::string> take() { return ids_.take(); }
  bool empty() const { return ids_.empty(); }
  void addDevice(const Device* d) { ids_.add(d); }

 private:
  void push(Entity* e) {
    if (ids_.add(e)) queue_.push_back(e);
  }

  template <class F>
  void relatedOf(F* f) {
    // Its channels: the members it owns.
    for (auto* child : f->childrens()) push(child);
    // A group's power also reaches its channel groups.
    if constexpr (std::is_same_v<F, FtPower>) {
      if (isGroupSource(f->getSource())) {
        for (FtPower* member : f->childrenShareds()) {
          if (member && member->getSource() == FtSource::GROUP_CHANNEL) push(member);
        }
      }
    }
    if (followLinks_) {
      for (auto* peer : f->linkeds()) push(peer);
      // The members of a device group's feature, owned or not.
      for (auto* member : f->childrenShareds()) push(member);
    }
    if constexpr (std::is_same_v<F, FtConnector>) wiredTo(f);
  }

  // The connectors wired to this one, in both directions.
  void wiredTo(FtConnector* c) {
    push(c->getSignalSource());
    for (FtConnector* other : db_.all<FtConnector>()) {
      if (other->getSignalSource() == c) push(other);
    }
  }

  const fennik::server::Database& db_;
  bool followLinks_;
  IdSet ids_;
  std::deque<Entity*> queue_;
};

}  // namespace

std::vector<std::string> HighlightService::collect(const Uuid& device, const Uuid& feature,
                                                   LivesoundVisualHighlightScope scope) const {
  using S = LivesoundVisualHighlightScope;
  const bool followLinks = scope == S::ALL || scope == S::FEATURE_LINKED;
  Passes passes(*db(), followLinks);
  if (scope == S::ALL || scope == S::FEATURE || scope == S::FEATURE_LINKED || scope == S::CONNECTOR) {
    Entity* f = db()->find(feature);
    if (f && withFeature(f, [](auto*) {})) passes.run(f);
  }
  if ((passes.empty() && scope != S::NONE) || scope == S::DEVICE) passes.addDevice(db()->get<Device>(device));
  return passes.take();
}

void HighlightService::visualHighlight(const Uuid& device, const Uuid& feature, LivesoundVisualHighlightScope scope) {
  const auto value = static_cast<std::int32_t>(scope);
  if (value < 0 || value > static_cast<std::int32_t>(LivesoundVisualHighlightScope::CONNECTOR)) {
    fennik::server::getLogger(fennik::server::MODULE_LOGGER)->error("Unknown LivesoundVisualHighlightScope is used");
    return;
  }
  std::string joined;
  for (const std::string& id : collect(device, feature, scope)) {
    if (!joined.empty()) joined += ',';
    joined += id;
  }
  auto resolver = services();
  auto sessions = resolver ? resolver->get<SessionService>() : nullptr;
  auto windows = resolver ? resolver->get<SessionWindowService>() : nullptr;
  SessionWindow* window = sessions ? sessions->currentWindow() : nullptr;
  if (window && windows) windows->setVisualHighlightIds(window, joined);
}

}  // namespace qor::server
