#pragma once
// Discovery on the simulated device network: its devices' announcements.

#include "qor/devicediscovery/DiscoverySource.h"

#include "fennik/devices/SimulatedNetwork.h"

#include <boost/signals2/connection.hpp>

#include <memory>
#include <mutex>

namespace qor::server {

class SimulatedDiscoverySource final : public DiscoverySource {
 public:
  explicit SimulatedDiscoverySource(std::shared_ptr<fennik::devices::SimulatedNetwork> network);
  ~SimulatedDiscoverySource() override;

  void start(Listener listener) override;
  void stop() override;
  void search() override;

 private:
  // Shared with the network's callback, so stop() can be sure no call is
  // still running when it returns.
  struct Relay {
    std::mutex mutex;
    Listener listener;
    bool active = false;
  };

  std::shared_ptr<fennik::devices::SimulatedNetwork> network_;
  std::shared_ptr<Relay> relay_ = std::make_shared<Relay>();
  boost::signals2::scoped_connection connection_;
};

}  // namespace qor::server
