#pragma once
// The module a device-type library hands the host: when the host creates it,
// it registers each of its models with the simulated network, adds the
// model's device class to the services and its factory to the device plant;
// when the host takes it back, it removes its device classes again.

#include "custom/deviceplant/DevicePlant.h"

#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/core/Logging.h"
#include "fennik/server/module/Module.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <boost/lexical_cast.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qor::devicetypes {

class DeviceTypeModule : public fennik::server::IFennikModule {
 public:
  DeviceTypeModule(std::shared_ptr<fennik::server::SingletonRegistry> globals, const char* moduleId)
      : IFennikModule(std::move(globals)),
        moduleId_(boost::lexical_cast<fennik::server::Uuid>(std::string(moduleId))) {}

  // C is the model's device class: a SimulatedModel, distinct per model.
  template <class C>
  void addModel(qor::server::DeviceDescriptor descriptor, fennik::devices::DeviceModel model) {
    Model entry;
    entry.name = model.model;
    entry.add = [descriptor, model](const std::shared_ptr<fennik::server::EntityContext>& context,
                                    const std::shared_ptr<fennik::devices::SimulatedNetwork>& network,
                                    qor::server::DevicePlant& plant) {
      network->registerModel(model);
      auto deviceClass =
          std::make_shared<C>(context->db(), context->loop(), context->services(), network, descriptor, model);
      context->services()->add<C>(deviceClass);
      plant.registerFactory(descriptor.id, deviceClass.get());
    };
    entry.remove = [](const std::shared_ptr<fennik::server::EntityContext>& context) {
      context->services()->remove<C>();
    };
    models_.push_back(std::move(entry));
  }

  const fennik::server::Uuid& moduleId() const override { return moduleId_; }
  void registerSerializers() override {}
  void deregisterSerializers() override {}
  void registerControllers() override {}
  void deregisterControllers() override {}

  void registerServices() override {
    auto context = globals()->get<fennik::server::EntityContext>();
    auto network = globals()->get<fennik::devices::SimulatedNetwork>();
    if (!context || !network) {
      log()->error("Device types {}: the host has no entity context or device network", name());
      return;
    }
    context->loop()->work([&](const std::shared_ptr<fennik::server::EntityContext>& c) {
      auto plant = c->services()->get<qor::server::DevicePlant>();
      if (!plant) {
        log()->error("Device types {}: no device plant; is the live-sound module loaded?", name());
        return;
      }
      for (const auto& model : models_) {
        model.add(c, network, *plant);
        log()->info("Device type {} registered", model.name);
      }
    });
  }

  void deregisterServices() override {
    auto context = globals()->get<fennik::server::EntityContext>();
    if (!context) return;
    context->loop()->work([&](const std::shared_ptr<fennik::server::EntityContext>& c) {
      for (const auto& model : models_) model.remove(c);
    });
  }

 private:
  struct Model {
    std::string name;
    std::function<void(const std::shared_ptr<fennik::server::EntityContext>&,
                       const std::shared_ptr<fennik::devices::SimulatedNetwork>&, qor::server::DevicePlant&)>
        add;
    std::function<void(const std::shared_ptr<fennik::server::EntityContext>&)> remove;
  };

  std::string name() const { return fennik::server::UuidToS(moduleId_); }
  static std::shared_ptr<spdlog::logger> log() { return fennik::server::getLogger(fennik::server::HOST_LOGGER); }

  fennik::server::Uuid moduleId_;
  std::vector<Model> models_;
};

}  // namespace qor::devicetypes
