#include "qor/devicediscovery/SimulatedDiscoverySource.h"

namespace qor::server {

SimulatedDiscoverySource::SimulatedDiscoverySource(std::shared_ptr<fennik::devices::SimulatedNetwork> network)
    : network_(std::move(network)) {}

SimulatedDiscoverySource::~SimulatedDiscoverySource() { stop(); }

void SimulatedDiscoverySource::start(Listener listener) {
  {
    std::lock_guard lock(relay_->mutex);
    relay_->listener = std::move(listener);
    relay_->active = true;
  }
  if (!connection_.connected()) {
    connection_ = network_->onAnnouncement([relay = relay_](const fennik::devices::SimulatedNetwork::Announcement& a) {
      std::lock_guard lock(relay->mutex);
      if (!relay->active) return;
      if (!a.present) {
        if (relay->listener.lost) relay->listener.lost(a.physicalId);
        return;
      }
      FoundDevice found{a.physicalId, a.model, a.name, a.hasDeviceId, a.deviceIntId, a.ipAddress, a.firmware};
      if (relay->listener.seen) relay->listener.seen(found);
    });
  }
  network_->search();
}

void SimulatedDiscoverySource::stop() {
  connection_.disconnect();
  std::lock_guard lock(relay_->mutex);
  relay_->active = false;
  relay_->listener = {};
}

void SimulatedDiscoverySource::search() { network_->search(); }

}  // namespace qor::server
