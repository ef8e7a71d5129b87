#include "Host.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/service/NotificationService.h"
#include "fennik/server/service/ServiceResolver.h"
#include "fennik/server/service/SubscriptionService.h"

namespace qor::app {

using namespace fennik::server;

Host::Host(const std::filesystem::path& modulePath, const std::filesystem::path& pluginFolder)
    : globals_(std::make_shared<SingletonRegistry>()), context_(EntityContext::create(JobLoop::Mode::Threaded)) {
  globals_->add(context_);
  globals_->add(context_->notifications());
  globals_->add(context_->subscriptions());
  context_->jobs()->start();
  module_ = loadModule(modulePath, globals_);
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
  plugins_.reset();
  module_.reset();
  context_->jobs()->stop();
}

void Host::start() {
  auto& module = module_->module();
  module.transition(ModuleState::Create);
  module.registerControllers();
  // Device-type plug-ins register with the module's device plant.
  plugins_->create();
  started_ = true;
  getLogger(HOST_LOGGER)->info("Module registered: {} services", context_->services()->size());
}

void Host::newProject() {
  context_->loop()->work([](const std::shared_ptr<EntityContext>& c) {
    c->services()->forEach([](Service& s) { s.initialize(); });
    c->services()->forEach([](Service& s) { s.loaded(); });
    c->services()->forEach([](Service& s) { s.loadedFinished(); });
    getLogger(HOST_LOGGER)->info("New project ready: {} entities", c->db()->size());
  });
  projectOpen_ = true;
}

void Host::stop() {
  if (projectOpen_) {
    context_->loop()->work([](const std::shared_ptr<EntityContext>& c) {
      c->services()->forEach([](Service& s) { s.unload(); });
      c->db()->clear();
      c->services()->forEach([](Service& s) { s.unloaded(); });
    });
    projectOpen_ = false;
    getLogger(HOST_LOGGER)->info("Project closed");
  }
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
