#include "module/LivesoundModule.h"

#include "custom/checks/ProjectCheckService.h"
#include "custom/discovery/DiscoveredDeviceWire.h"
#include "custom/livesound/LivesoundController.h"
#include "custom/panels/PanelKeywords.h"
#include "custom/panels/PanelService.h"
#include "migrations/Migrations.h"
#include "model/GeneratedServices.h"
#include "module/HandWrittenServices.h"
#include "module/SerializerRegistration.h"
#include "wire/GeneratedWire.h"

#include "fennik/devices/AudioNetworkService.h"
#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/ksp/IKspDispatcher.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <boost/lexical_cast.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <stdexcept>

namespace qor::server {

using fennik::server::EntityContext;

LivesoundModule::LivesoundModule(std::shared_ptr<fennik::server::SingletonRegistry> globals)
    : fennik::server::IFennikModule(std::move(globals)),
      moduleId_(boost::lexical_cast<fennik::server::Uuid>(std::string(MODULE_ID))) {}

LivesoundModule::~LivesoundModule() = default;

std::shared_ptr<EntityContext> LivesoundModule::entityContext() const {
  auto context = globals() ? globals()->get<EntityContext>() : nullptr;
  if (!context) throw std::logic_error("LivesoundModule: the host has not registered an EntityContext");
  return context;
}

void LivesoundModule::registerSerializers() {
  auto context = entityContext();
  context->loop()->work([](const std::shared_ptr<EntityContext>& c) {
    registerEntitySerializers(*c->db());
    fennik::server::getLogger(fennik::server::MODULE_LOGGER)
        ->debug("Serializers registered: {}", c->db()->serializerCount());
  });
}

void LivesoundModule::deregisterSerializers() {
  auto context = entityContext();
  context->loop()->work([](const std::shared_ptr<EntityContext>& c) { deregisterEntitySerializers(*c->db()); });
}

void LivesoundModule::registerServices() {
  auto context = entityContext();
  // Panels are driven on the host's device network, when it has one.
  auto network = globals()->get<fennik::devices::SimulatedNetwork>();
  // The project checks ask the host's audio-network service whether it runs.
  auto audioNetwork = globals()->get<fennik::devices::AudioNetworkService>();
  context->loop()->work([network, audioNetwork](const std::shared_ptr<EntityContext>& c) {
    registerLivesoundServices(c);
    if (auto panels = c->services()->get<PanelService>()) panels->attachNetwork(network);
    if (auto checks = c->services()->get<ProjectCheckService>()) checks->attachAudioNetwork(audioNetwork);
  });
}

void LivesoundModule::deregisterServices() {
  auto context = entityContext();
  context->loop()->work([](const std::shared_ptr<EntityContext>& c) { deRegisterLivesoundServices(c); });
}

void LivesoundModule::registerControllers() {
  auto context = entityContext();
  auto dispatcher = globals()->get<fennik::server::IKspDispatcher>();
  if (!dispatcher) throw std::logic_error("LivesoundModule: the host has not registered an IKspDispatcher");
  auto list = wire::makeEntityControllers();
  list.push_back(std::make_shared<DiscoveredDeviceController>());
  list.push_back(std::make_shared<LivesoundController>(LivesoundController::ROUTE));
  controllers_ = std::move(list);
  for (const auto& controller : controllers_) {
    controller->inject(context);
    dispatcher->mount(controller);
  }
  fennik::server::getLogger(fennik::server::MODULE_LOGGER)->info("Controllers mounted: {}", controllers_.size());
}

void LivesoundModule::deregisterControllers() {
  auto dispatcher = globals() ? globals()->get<fennik::server::IKspDispatcher>() : nullptr;
  if (!dispatcher) return;
  for (const auto& controller : controllers_) dispatcher->unmount(controller);
}

void registerLivesoundServices(const std::shared_ptr<EntityContext>& context) {
  addGeneratedServices(context);
  addHandWrittenServices(context);
  // The migrations stay registered when the services are taken back.
  addLivesoundMigrations(context);
  // The keywords panel JSON documents name; the host keeps the list.
  if (context->keywords()) registerLivesoundKeywords(*context->keywords());
  fennik::server::getLogger(fennik::server::MODULE_LOGGER)
      ->info("Live-sound services registered: {}", context->services()->size());
}

void deRegisterLivesoundServices(const std::shared_ptr<EntityContext>& context) {
  removeGeneratedServices(context);
  removeHandWrittenServices(context);
  if (context->keywords()) deregisterLivesoundKeywords(*context->keywords());
}

}  // namespace qor::server
