// The wiring between channel connectors: which wires may be made, which
// amplifier channels they join, and keeping wires consistent when
// connectors go.

#include "service/FtConnectorService.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/DeviceType.h"
#include "qor/server/entities/SessionWindow.h"

#include "fennik/server/entity/Database.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace qor::server {

namespace {

// Union-find over connectors: the wires split them into wired-together sets.
class WiredSets {
 public:
  const FtConnector* root(const FtConnector* c) {
    auto it = up_.find(c);
    if (it == up_.end()) return c;
    const FtConnector* r = root(it->second);
    it->second = r;
    return r;
  }
  void join(const FtConnector* a, const FtConnector* b) {
    const FtConnector* ra = root(a);
    const FtConnector* rb = root(b);
    if (ra != rb) up_[ra] = rb;
  }

 private:
  std::unordered_map<const FtConnector*, const FtConnector*> up_;
};

}  // namespace

bool FtConnectorService::isAmplifier(const Device* d) {
  return d && !d->getIsGroup() && d->getType() &&
         d->getType()->getImplementation() == DeviceTypeImplementation::AMPLIFIER;
}

bool FtConnectorService::isChannelConnector(const FtConnector* c) {
  return c && (c->getPlacement() == FtConnectorPlacement::AMP_OUTPUT ||
               c->getPlacement() == FtConnectorPlacement::SPEAKER_INPUT);
}

Device* FtConnectorService::deviceOf(const FtConnector* connector) const {
  return connector && !connector->getSubject().is_nil() ? db()->get<Device>(connector->getSubject()) : nullptr;
}

bool FtConnectorService::canConnect(const FtConnector* a, const FtConnector* b) const {
  if (!isChannelConnector(a) || !isChannelConnector(b) || a == b || !a->getEnabled() || !b->getEnabled()) return false;
  const Device* da = deviceOf(a);
  const Device* db = deviceOf(b);
  if (!da || !db || da == db || da->getIsGroup() || db->getIsGroup()) return false;
  // A loudspeaker input chosen from an amplifier output is fed by it, and
  // the other way round; between two of a kind the started one feeds.
  const bool aFeeds = !(a->getPlacement() == FtConnectorPlacement::SPEAKER_INPUT &&
                        b->getPlacement() == FtConnectorPlacement::AMP_OUTPUT);
  const FtConnector* source = aFeeds ? a : b;
  const FtConnector* sink = aFeeds ? b : a;
  // No loops: the sink must not already feed the source, however far up.
  std::unordered_set<const FtConnector*> seen;
  for (const FtConnector* s = source; s && seen.insert(s).second; s = s->getSignalSource()) {
    if (s == sink) return false;
  }
  return true;
}

void FtConnectorService::wire(FtConnector* source, FtConnector* sink) {
  if (sink->getSignalSource()) unwire(sink);
  sink->setSignalSource(source);
  connectionChanged_(source, sink, true);
}

void FtConnectorService::unwire(FtConnector* sink) {
  FtConnector* source = sink ? sink->getSignalSource() : nullptr;
  if (!source) return;
  sink->setSignalSource(nullptr);
  connectionChanged_(source, sink, false);
}

void FtConnectorService::releaseAll(FtConnector* connector) {
  unwire(connector);
  for (FtConnector* fed : all()) {
    if (fed->getSignalSource() == connector) unwire(fed);
  }
}

bool FtConnectorService::isWired(const FtConnector* connector) const {
  if (!connector) return false;
  if (connector->getSignalSource()) return true;
  const auto fed = all();
  return std::any_of(fed.begin(), fed.end(),
                     [connector](const FtConnector* c) { return c->getSignalSource() == connector; });
}

boost::signals2::connection FtConnectorService::onConnectionChanged(const ConnectionSlot& slot) {
  return connectionChanged_.connect(slot);
}

FtConnectorService::LinkedAmpChannels FtConnectorService::getLinkedAmpChannels() const {
  WiredSets sets;
  std::vector<const FtConnector*> outputs;
  for (const FtConnector* c : all()) {
    if (const FtConnector* source = c->getSignalSource()) sets.join(c, source);
    if (c->getPlacement() == FtConnectorPlacement::AMP_OUTPUT) outputs.push_back(c);
  }
  // The amplifier channels of each wired-together set.
  std::unordered_map<const FtConnector*, std::vector<AmpChannel>> bySet;
  for (const FtConnector* c : outputs) {
    Device* amp = deviceOf(c);
    if (!isAmplifier(amp)) continue;
    bySet[sets.root(c)].emplace_back(static_cast<std::uint32_t>(c->getIndex()), amp);
  }
  LinkedAmpChannels linked;
  for (const auto& [root, channels] : bySet) {
    if (channels.size() < 2) continue;
    for (const AmpChannel& key : channels) {
      auto& others = linked[key];
      for (const AmpChannel& other : channels) {
        if (other != key) others.insert(other);
      }
    }
  }
  return linked;
}

std::vector<Device*> FtConnectorService::getConnectedDevices(const Device* device) const {
  std::vector<Device*> result;
  if (!device) return result;
  auto note = [&](const FtConnector* other) {
    Device* d = deviceOf(other);
    if (d && d != device && std::find(result.begin(), result.end(), d) == result.end()) result.push_back(d);
  };
  for (const FtConnector* c : all()) {
    const FtConnector* source = c->getSignalSource();
    if (!source) continue;
    if (deviceOf(c) == device) note(source);
    if (deviceOf(source) == device) note(c);
  }
  return result;
}

void FtConnectorService::update() {
  for (FtConnector* c : all()) {
    // A source that is no longer in the project (its pointer is not trusted).
    if (!c->signalSourceId().is_nil() && !db()->get<FtConnector>(c->signalSourceId())) c->setSignalSource(nullptr);
  }
  if (!startedConnector()) {
    connectorFinish();
    return;
  }
  updatePossibleConnections();
}

void FtConnectorService::destroy(FtConnector* connector) {
  if (!connector) return;
  releaseAll(connector);
  auto holds = [connector](const std::vector<FtConnector*>& list) {
    return std::find(list.begin(), list.end(), connector) != list.end();
  };
  for (SessionWindow* window : db()->all<SessionWindow>()) {
    if (holds(window->possibleConnectors())) window->removePossibleConnector(connector);
    if (holds(window->selectedConnectors())) window->removeSelectedConnector(connector);
  }
  if (connector->id() == startedId_) connectorFinish();
  FtConnectorServiceBase::destroy(connector);
}

}  // namespace qor::server
