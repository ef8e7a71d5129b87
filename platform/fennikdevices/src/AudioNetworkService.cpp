#include "fennik/devices/AudioNetworkService.h"

#include "NetworkState.h"
#include "fennik/devices/SimulatedNetwork.h"

#include <mutex>

namespace fennik::devices {

AudioNetworkService::AudioNetworkService(std::shared_ptr<const SimulatedNetwork> network)
    : network_(std::move(network)) {}

bool AudioNetworkService::isServiceRunning() const {
  if (stopped_ || !network_) return false;
  const sim::NetworkState& state = network_->state();
  if (state.mode == SimulatedNetwork::Mode::Manual) return true;
  std::lock_guard lock(state.mutex);
  return state.running;
}

}  // namespace fennik::devices
