#pragma once
// Where discovered devices come from: a discovery protocol on the audio
// network. The simulated network is one source; a real protocol implements
// the same three calls. A source reports on its own thread(s).

#include <functional>
#include <string>

namespace qor::server {

// What a device reports about itself.
struct FoundDevice {
  std::string physicalDeviceId;
  std::string model;
  std::string name;
  bool hasDeviceId = false;
  int deviceIntId = 0;
  std::string ipAddress;
  std::string firmware;
  bool operator==(const FoundDevice&) const = default;
};

class DiscoverySource {
 public:
  struct Listener {
    // A device answered or changed what it reports (called again for every
    // answer, changed or not).
    std::function<void(const FoundDevice&)> seen;
    // A device left the network.
    std::function<void(const std::string& physicalDeviceId)> lost;
  };

  virtual ~DiscoverySource() = default;
  // Starts listening and searching. The listener may be called on any
  // thread, also while stop() runs, but never after stop() returned.
  virtual void start(Listener listener) = 0;
  virtual void stop() = 0;
  // Asks every device on the network to answer again.
  virtual void search() = 0;
};

}  // namespace qor::server
