#include "Host.h"

#include "DemoProject.h"
#include "qor/devicediscovery/DeviceDiscovery.h"
#include "qor/devicediscovery/SimulatedDiscoverySource.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/net/ProjectRoute.h"
#include "fennik/server/service/ServiceResolver.h"

namespace qor::app {

using namespace fennik::server;

Host::Host(const std::filesystem::path& modulePath, const std::filesystem::path& pluginFolder,
           std::optional<std::vector<std::filesystem::path>> clientFolders) {
  // The host's own routes are mounted; module controllers join them in start().
  module_ = loadModule(modulePath, stack_.globals());
  project_ = std::make_shared<ProjectManager>(stack_.context(), std::string("qorserver ") + QOR_VERSION);
  stack_.dispatcher()->mount(std::make_shared<net::ProjectRoute>(stack_.context(), project_, std::move(clientFolders)));
  getLogger(HOST_LOGGER)->info("Loaded module {} from {}", UuidToS(module_->module().moduleId()), modulePath.string());
  plugins_ = std::make_unique<DevicePlugins>(stack_.globals());
  if (!pluginFolder.empty()) plugins_->load(pluginFolder);
}

Host::~Host() {
  try {
    stop();
  } catch (const std::exception& e) {
    getLogger(HOST_LOGGER)->error("Shutdown failed: {}", e.what());
  }
  startWarming_.reset();
  project_.reset();
  plugins_.reset();
  module_.reset();
  stack_.shutdown();
}

void Host::serve(const net::KspServerOptions& options) {
  stack_.serve(options);
  getLogger(HOST_LOGGER)->info("Serving Ksp at {}", stack_.server()->url());
}

void Host::start() {
  // Taken on the loop thread, so the loop's first jobs find the pages there.
  stack_.context()->loop()->work(
      [this](const std::shared_ptr<EntityContext>&) { startWarming_ = warmHeap(START_WARM_BYTES); });
  auto& module = module_->module();
  module.transition(ModuleState::Create);
  module.registerControllers();
  getLogger(HOST_LOGGER)->info("Module registered: {} services", stack_.context()->services()->size());
  // Device-type plug-ins register with the module's device plant.
  plugins_->create();
  // The devices of the (simulated) network are listed for clients.
  qor::server::addDeviceDiscovery(stack_.context(),
                                  std::make_shared<qor::server::SimulatedDiscoverySource>(plugins_->network()));
  started_ = true;
}

void Host::newProject() { project_->newProject(); }

void Host::stop() {
  if (stack_.server()) {
    stack_.stopServing();
    getLogger(HOST_LOGGER)->info("Network stopped");
  }
  if (project_->isOpen()) project_->close();
  if (started_) {
    qor::server::removeDeviceDiscovery(stack_.context());
    auto& module = module_->module();
    module.deregisterControllers();
    module.transition(ModuleState::Uncreate);
    module.transition(ModuleState::Off);
    plugins_->destroy();
    started_ = false;
    getLogger(HOST_LOGGER)->info("Module deregistered");
  }
}

void Host::startDemo(int perModel) {
  for (const auto& id : plugins_->network()->populateDemo(perModel)) getLogger(HOST_LOGGER)->info("Demo device {}", id);
  buildDemoProject(*stack_.dispatcher(), *plugins_->network());
}

}  // namespace qor::app
