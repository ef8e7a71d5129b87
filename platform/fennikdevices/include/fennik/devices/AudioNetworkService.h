#pragma once
// The host's audio-network service: it brings up the network interfaces
// over which audio and device control travel. Here it stands on the
// simulated device network: it runs while that network runs (a network
// driven by hand, as tests drive it, counts as running), until someone stops
// the service itself. The host registers it as a singleton beside the
// network; modules only ask whether it runs.

#include <atomic>
#include <memory>

namespace fennik::devices {

class SimulatedNetwork;

class AudioNetworkService {
 public:
  explicit AudioNetworkService(std::shared_ptr<const SimulatedNetwork> network);

  // Safe from any thread.
  bool isServiceRunning() const;
  // Stops and starts the service; the network itself is left alone.
  void stopService() { stopped_ = true; }
  void startService() { stopped_ = false; }

 private:
  std::shared_ptr<const SimulatedNetwork> network_;
  std::atomic<bool> stopped_{false};
};

}  // namespace fennik::devices
