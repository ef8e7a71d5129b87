#include "module/LivesoundModule.h"

#include "migrations/Migrations.h"
#include "model/GeneratedServices.h"
#include "module/HandWrittenServices.h"
#include "module/SerializerRegistration.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
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
  context->loop()->work([](const std::shared_ptr<EntityContext>& c) { registerLivesoundServices(c); });
}

void LivesoundModule::deregisterServices() {
  auto context = entityContext();
  context->loop()->work([](const std::shared_ptr<EntityContext>& c) { deRegisterLivesoundServices(c); });
}

void LivesoundModule::registerControllers() {
  // The controllers come with the network layer; until then the list is
  // rebuilt empty, which is what registering again must do anyway.
  controllers_.clear();
}

void LivesoundModule::deregisterControllers() {}

void registerLivesoundServices(const std::shared_ptr<EntityContext>& context) {
  addGeneratedServices(context);
  addHandWrittenServices(context);
  // The migrations stay registered when the services are taken back.
  addLivesoundMigrations(context);
  fennik::server::getLogger(fennik::server::MODULE_LOGGER)
      ->info("Live-sound services registered: {}", context->services()->size());
}

void deRegisterLivesoundServices(const std::shared_ptr<EntityContext>& context) {
  removeGeneratedServices(context);
  removeHandWrittenServices(context);
}

}  // namespace qor::server
