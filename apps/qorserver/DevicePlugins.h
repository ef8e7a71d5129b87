#pragma once
// The device-type modules in the plug-in folder and the simulated device
// network they put their models on. The host loads the plug-ins after the
// live-sound module (they register with its device plant) and takes them
// back after it.

#include "fennik/devices/AudioNetworkService.h"
#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/core/SingletonRegistry.h"
#include "fennik/server/module/ModuleLoader.h"

#include <filesystem>
#include <memory>
#include <vector>

namespace qor::app {

class DevicePlugins {
 public:
  // Starts the network thread and registers the network and the audio-network
  // service on it as host singletons.
  explicit DevicePlugins(const std::shared_ptr<fennik::server::SingletonRegistry>& globals);
  ~DevicePlugins();

  // Loads every shared library in the folder, in name order; one that
  // cannot be loaded is logged and skipped. A missing folder loads nothing.
  void load(const std::filesystem::path& folder);
  // Registers (Create) and takes back (Uncreate) every loaded plug-in.
  void create();
  void destroy();

  std::size_t size() const { return modules_.size(); }
  const std::shared_ptr<fennik::devices::SimulatedNetwork>& network() const { return network_; }

 private:
  std::shared_ptr<fennik::server::SingletonRegistry> globals_;
  std::shared_ptr<fennik::devices::SimulatedNetwork> network_;
  std::vector<std::unique_ptr<fennik::server::LoadedModule>> modules_;
  bool created_ = false;
};

}  // namespace qor::app
