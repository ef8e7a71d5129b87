#include "Host.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/net/EntityLookupRoute.h"
#include "fennik/server/net/ProjectRoute.h"
#include "fennik/server/service/NotificationService.h"
#include "fennik/server/service/ServiceResolver.h"
#include "fennik/server/service/SubscriptionService.h"

namespace qor::app {

using namespace fennik::server;

Host::Host(const std::filesystem::path& modulePath, const std::filesystem::path& pluginFolder)
    : globals_(std::make_shared<SingletonRegistry>()),
      context_(EntityContext::create(JobLoop::Mode::Threaded)),
      dispatcher_(std::make_shared<KspDispatcher>()),
      hub_(std::make_shared<net::SubscriptionHub>(context_)) {
  globals_->add(context_);
  globals_->add(context_->notifications());
  globals_->add(context_->subscriptions());
  globals_->add<IKspDispatcher>(dispatcher_);
  // The host's own routes; module controllers join them in start().
  hub_->start();
  dispatcher_->mount(hub_);
  dispatcher_->mount(std::make_shared<net::EntityLookupRoute>(context_));
  context_->jobs()->start();
  module_ = loadModule(modulePath, globals_);
  project_ = std::make_shared<ProjectManager>(context_, std::string("qorserver ") + QOR_VERSION);
  dispatcher_->mount(std::make_shared<net::ProjectRoute>(context_, project_));
  getLogger(HOST_LOGGER)->info("Loaded module {} from {}", UuidToS(module_->module().moduleId()), modulePath.string());
  plugins_ = std::make_unique<DevicePlugins>(globals_);
  if (!pluginFolder.empty()) plugins_->load(pluginFolder);
}

Host::~Host() {
  try {
    stop();
  } catch (const std::exception& e) {
    getLogger(HOST_LOGGER)->error("Shutdown failed: {}", e.what());
  }
  project_.reset();
  plugins_.reset();
  module_.reset();
  context_->jobs()->stop();
  hub_->stop();
}

void Host::serve(const net::KspServerOptions& options) {
  server_ = std::make_unique<net::KspServer>(options, dispatcher_, hub_);
  server_->start();
  getLogger(HOST_LOGGER)->info("Serving Ksp at {}", server_->url());
}

void Host::start() {
  auto& module = module_->module();
  module.transition(ModuleState::Create);
  module.registerControllers();
  getLogger(HOST_LOGGER)->info("Module registered: {} services", context_->services()->size());
  // Device-type plug-ins register with the module's device plant.
  plugins_->create();
  started_ = true;
}

void Host::newProject() { project_->newProject(); }

void Host::openOrCreate(const std::filesystem::path& file) {
  if (std::filesystem::exists(file)) {
    project_->open(file);
    return;
  }
  project_->newProject();
  project_->saveAs(file);
}

void Host::stop() {
  if (server_) {
    server_->stop();
    server_.reset();
    getLogger(HOST_LOGGER)->info("Network stopped");
  }
  if (project_->isOpen()) project_->close();
  if (started_) {
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
}

}  // namespace qor::app
