#pragma once
// The host process around the live-sound module: the entity context with its
// loop thread, the singletons the module looks up, the loaded module, and
// the life cycle of the open project.

#include "DevicePlugins.h"

#include "fennik/server/core/HugePageHeap.h"
#include "fennik/server/module/ModuleLoader.h"
#include "fennik/server/net/KspHost.h"
#include "fennik/server/project/ProjectManager.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace qor::app {

class Host {
 public:
  // clientFolders: where clients may open and save projects (see
  // ProjectRoute); without them, anywhere.
  explicit Host(const std::filesystem::path& modulePath, const std::filesystem::path& pluginFolder = {},
                std::optional<std::vector<std::filesystem::path>> clientFolders = std::nullopt);
  ~Host();

  // Registers the module's serializers, services and controllers, and warms
  // the loop thread's heap on a second core (START_WARM_BYTES).
  void start();
  // Starts a new, empty project: every service's initialize, loaded and
  // loadedFinished hooks, in resolver order.
  void newProject();
  // Serves Ksp over WebSocket; throws std::runtime_error when it cannot listen.
  void serve(const fennik::server::net::KspServerOptions& options);
  // Closes the connections, the project and takes the module's registrations back.
  void stop();
  // Puts a few simulated devices of every registered model on the network.
  void startDemo(int perModel);

  const fennik::server::net::KspServer* server() const { return stack_.server(); }
  const std::shared_ptr<fennik::server::KspDispatcher>& dispatcher() const { return stack_.dispatcher(); }

  const std::shared_ptr<fennik::server::EntityContext>& context() const { return stack_.context(); }
  fennik::server::LoadedModule& module() const { return *module_; }
  // New, open, save, save as and close of the one open project.
  fennik::server::ProjectManager& project() const { return *project_; }

 private:
  fennik::server::net::KspHost stack_;
  std::unique_ptr<fennik::server::LoadedModule> module_;
  std::shared_ptr<fennik::server::ProjectManager> project_;
  std::unique_ptr<DevicePlugins> plugins_;
  std::unique_ptr<fennik::server::HeapWarming> startWarming_;
  bool started_ = false;
};

}  // namespace qor::app
