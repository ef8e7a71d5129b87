#pragma once
// The host process around the live-sound module: the entity context with its
// loop thread, the singletons the module looks up, the loaded module, and
// the life cycle of the open project.

#include "DevicePlugins.h"

#include "fennik/server/core/SingletonRegistry.h"
#include "fennik/server/module/ModuleLoader.h"
#include "fennik/server/service/EntityContext.h"

#include <filesystem>
#include <memory>

namespace qor::app {

class Host {
 public:
  explicit Host(const std::filesystem::path& modulePath, const std::filesystem::path& pluginFolder = {});
  ~Host();

  // Registers the module's serializers, services and controllers.
  void start();
  // Starts a new, empty project: every service's initialize, loaded and
  // loadedFinished hooks, in resolver order.
  void newProject();
  // Closes the project and takes the module's registrations back.
  void stop();
  // Puts a few simulated devices of every registered model on the network.
  void startDemo(int perModel);

  const std::shared_ptr<fennik::server::EntityContext>& context() const { return context_; }
  fennik::server::LoadedModule& module() const { return *module_; }

 private:
  std::shared_ptr<fennik::server::SingletonRegistry> globals_;
  std::shared_ptr<fennik::server::EntityContext> context_;
  std::unique_ptr<fennik::server::LoadedModule> module_;
  std::unique_ptr<DevicePlugins> plugins_;
  bool started_ = false;
  bool projectOpen_ = false;
};

}  // namespace qor::app
