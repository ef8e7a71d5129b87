#pragma once
// The three simulated models (QA-4, QA-8, QM-16) in a test server, as the
// device-type plug-ins put them there: registered with the network, one
// device class per model among the services, each the factory of its type.

#include "amplifiers/AmplifierModels.h"
#include "amplifiers/SimAmplifier.h"
#include "custom/deviceplant/DevicePlant.h"
#include "matrices/MatrixModels.h"
#include "matrices/SimMatrix.h"

#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <memory>

namespace qor::testing {

template <class S>
void addSimulatedModel(fennik::server::EntityContext& c,
                       const std::shared_ptr<fennik::devices::SimulatedNetwork>& network,
                       qor::server::DeviceDescriptor descriptor, fennik::devices::DeviceModel model) {
  network->registerModel(model);
  auto s = std::make_shared<S>(c.db(), c.loop(), c.services(), network, descriptor, model);
  c.services()->add<S>(s);
  c.services()->get<qor::server::DevicePlant>()->registerFactory(descriptor.id, s.get());
}

// On the loop: the models, their device types, and a new project that knows them.
inline void addSimulatedModels(fennik::server::EntityContext& c,
                               const std::shared_ptr<fennik::devices::SimulatedNetwork>& network) {
  addSimulatedModel<devicetypes::Qa4Amplifier>(c, network, devicetypes::qa4Descriptor(), devicetypes::qa4Model());
  addSimulatedModel<devicetypes::Qa8Amplifier>(c, network, devicetypes::qa8Descriptor(), devicetypes::qa8Model());
  addSimulatedModel<devicetypes::Qm16Matrix>(c, network, devicetypes::qm16Descriptor(), devicetypes::qm16Model());
  c.services()->get<qor::server::DevicePlant>()->ensureDeviceTypes();
  c.services()->forEach([](fennik::server::Service& s) { s.loaded(); });
}

// On the loop: the project's entities and the models' device classes go.
inline void removeSimulatedModels(fennik::server::EntityContext& c) {
  c.db()->clear();
  c.services()->remove<devicetypes::Qa4Amplifier>();
  c.services()->remove<devicetypes::Qa8Amplifier>();
  c.services()->remove<devicetypes::Qm16Matrix>();
}

}  // namespace qor::testing
