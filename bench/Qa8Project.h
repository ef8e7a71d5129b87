#pragma once
// A new project with every service of the module and the QA-8 model, on a
// manual simulated network, for the benchmarks that add devices.

#include "amplifiers/AmplifierModels.h"
#include "amplifiers/SimAmplifier.h"
#include "custom/deviceplant/DevicePlant.h"
#include "model/GeneratedServices.h"
#include "module/HandWrittenServices.h"

#include "qor/server/entities/All.h"

#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <memory>

namespace qor::bench {

using fennik::devices::SimulatedNetwork;
using qor::devicetypes::Qa8Amplifier;
using namespace qor::server;

// A new project with every service of the module and the QA-8 model.
struct Project {
  Project()
      : context(fennik::server::EntityContext::create(fennik::server::JobLoop::Mode::Manual)),
        network(SimulatedNetwork::create(SimulatedNetwork::Mode::Manual)) {
    fennik::server::setLogLevel(spdlog::level::warn);
    addGeneratedServices(context);
    addHandWrittenServices(context);
    network->registerModel(qor::devicetypes::qa8Model());
    amps = std::make_shared<Qa8Amplifier>(context->db(), context->loop(), context->services(), network,
                                          qor::devicetypes::qa8Descriptor(), qor::devicetypes::qa8Model());
    context->services()->add<Qa8Amplifier>(amps);
    plant()->registerFactory(qor::devicetypes::qa8Descriptor().id, amps.get());
    plant()->ensureDeviceTypes();
    context->services()->forEach([](fennik::server::Service& s) { s.loaded(); });
    type = context->db()->get<DeviceType>(qor::devicetypes::qa8Descriptor().id);
  }
  ~Project() {
    context->services()->clear();
    context->db()->clear();
  }
  std::shared_ptr<DevicePlant> plant() const { return context->services()->get<DevicePlant>(); }

  std::shared_ptr<fennik::server::EntityContext> context;
  std::shared_ptr<SimulatedNetwork> network;
  std::shared_ptr<Qa8Amplifier> amps;
  DeviceType* type = nullptr;
};

}  // namespace qor::bench
