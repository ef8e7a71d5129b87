#pragma once
// The host process around the live-sound module: the entity context with its
// loop thread, the singletons the module looks up, the loaded module, and
// the life cycle of the open project.

#include "DevicePlugins.h"

#include "fennik/server/core/SingletonRegistry.h"
#include "fennik/server/ksp/IKspDispatcher.h"
#include "fennik/server/module/ModuleLoader.h"
#include "fennik/server/net/KspServer.h"
#include "fennik/server/net/SubscriptionHub.h"
#include "fennik/server/project/ProjectManager.h"
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
  // Opens the project file, or, when there is none yet, starts a new project
  // and saves it there. Throws fennik::server::ProjectError.
  void openOrCreate(const std::filesystem::path& file);
  // Serves Ksp over WebSocket; throws std::runtime_error when it cannot listen.
  void serve(const fennik::server::net::KspServerOptions& options);
  // Closes the connections, the project and takes the module's registrations back.
  void stop();
  // Puts a few simulated devices of every registered model on the network.
  void startDemo(int perModel);

  const fennik::server::net::KspServer* server() const { return server_.get(); }
  const std::shared_ptr<fennik::server::KspDispatcher>& dispatcher() const { return dispatcher_; }

  const std::shared_ptr<fennik::server::EntityContext>& context() const { return context_; }
  fennik::server::LoadedModule& module() const { return *module_; }
  // New, open, save, save as and close of the one open project.
  fennik::server::ProjectManager& project() const { return *project_; }

 private:
  std::shared_ptr<fennik::server::SingletonRegistry> globals_;
  std::shared_ptr<fennik::server::EntityContext> context_;
  std::shared_ptr<fennik::server::KspDispatcher> dispatcher_;
  std::shared_ptr<fennik::server::net::SubscriptionHub> hub_;
  std::unique_ptr<fennik::server::net::KspServer> server_;
  std::unique_ptr<fennik::server::LoadedModule> module_;
  std::shared_ptr<fennik::server::ProjectManager> project_;
  std::unique_ptr<DevicePlugins> plugins_;
  bool started_ = false;
};

}  // namespace qor::app
