#pragma once
// A device class and its factory in one: the per-model class of a
// device-type module whose devices live on the simulated network. It owns
// one driver per device it serves and builds devices through the base
// class (BaseAmplifier or BaseMatrix) it derives from.

#include "custom/deviceplant/DeviceFactory.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/DeviceType.h"
#include "qor/server/entities/VisualItem.h"
#include "qor/server/services/VisualItemService.h"
#include "service/GroupRecalc.h"

#include "fennik/devices/DeviceModel.h"
#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qor::devicetypes {

using fennik::server::Uuid;
using qor::server::Device;
using qor::server::DeviceType;

template <class Base>
class SimulatedModel : public Base, public qor::server::DeviceFactory {
 public:
  using Driver = fennik::devices::FennikDevice;

  SimulatedModel(std::shared_ptr<fennik::server::Database> db, std::shared_ptr<fennik::server::EntityLoop> loop,
                 std::shared_ptr<fennik::server::ServiceResolver> services,
                 std::shared_ptr<fennik::devices::SimulatedNetwork> network, qor::server::DeviceDescriptor descriptor,
                 fennik::devices::DeviceModel model)
      : Base(std::move(db), std::move(loop), std::move(services)),
        network_(std::move(network)),
        descriptor_(std::move(descriptor)),
        model_(std::move(model)) {}

  ~SimulatedModel() override { releaseAll(); }

  std::string serviceName() const override { return "qor::devicetypes::" + model_.model; }
  const fennik::devices::DeviceModel& model() const { return model_; }

  Driver* driver(Device* device) override {
    if (!device) return nullptr;
    auto it = drivers_.find(device->id());
    return it == drivers_.end() ? nullptr : it->second.get();
  }

  std::vector<Device*> devices() override {
    std::vector<Device*> result;
    for (const auto& [id, drv] : drivers_) {
      if (auto* device = this->db()->template get<Device>(id)) result.push_back(device);
    }
    return result;
  }

  Device* create(DeviceType* type, const Uuid& id) override {
    if (!type) return nullptr;
    if (this->db()->find(id)) {
      log()->error("{}: cannot create a device with id {}, it is taken", model_.model, fennik::server::UuidToS(id));
      return nullptr;
    }
    auto entity = Device::createDefaultInitialized(id);
    Device* device = entity.get();
    this->db()->add(std::move(entity));
    device->setType(type);
    device->setImplementation(type->getImplementation(), false);
    if (auto items = this->template service<qor::server::VisualItemService>()) {
      qor::server::VisualItem* item = items->create();
      item->setWidth(model_.isMatrix ? 160 : 128, false);
      item->setHeight(std::max(64, 16 * model_.channelCount), false);
      device->setVisualItem(item);
    }
    drivers_[id] = network_->createDriver(model_.model);
    this->createAllFeatures(device);
    return device;
  }

  std::unique_ptr<Driver> createDriver(DeviceType*) override { return network_->createDriver(model_.model); }

  void connect(Device* device) override {
    if (!device) return;
    auto& slot = drivers_[device->id()];
    const bool fresh = !slot;
    if (fresh) slot = network_->createDriver(model_.model);
    this->disconnectAllDriverSignals(device);
    // A new driver starts with the design, not with its own defaults.
    if (fresh) this->prepareDriver(device);
    slot->setPhysicalDeviceId(device->getDeviceId());
    this->connectAllFeatures(device);
    // A group's driver stands for no device: what its features show of
    // their own is what the model offers (ranges, what is supported); its
    // values are its members', worked out again after the driver's sync.
    if (device->getIsGroup()) qor::server::recalcGroupFeatures(device, *this->services());
  }

  Driver* deviceDriver(const Uuid& deviceId) override {
    auto it = drivers_.find(deviceId);
    return it == drivers_.end() ? nullptr : it->second.get();
  }

  Device* duplicate(const Uuid& deviceId) override {
    Device* source = this->db()->template get<Device>(deviceId);
    if (!source || !source->getType()) return nullptr;
    Device* copy = create(source->getType(), fennik::server::random_uuid());
    this->copySettings(source, copy);
    return copy;
  }

  // A group's features aggregate the members'. It is bound as an opened
  // project binds it (connect), so a new group shows at once what it shows
  // after a reopen.
  Device* createGroup(Device* group, const std::vector<Device*>& members) override {
    if (!group) return group;
    this->createGroupFeatures(group, members);
    connect(group);
    return group;
  }

  void destroy(const Uuid& deviceId) override {
    Device* device = this->db()->template get<Device>(deviceId);
    if (device) {
      this->disconnectAllDriverSignals(device);
      this->destroyAllFeatures(device);
      if (qor::server::VisualItem* item = device->getVisualItem()) {
        device->setVisualItem(nullptr);
        this->db()->deleteEntity(item);
      }
    }
    drivers_.erase(deviceId);
    if (device) this->db()->deleteEntity(device);
  }

  const qor::server::DeviceDescriptor& descriptor() const override { return descriptor_; }

  void releaseAll() override {
    for (const auto& [id, drv] : drivers_) {
      if (auto* device = this->db()->template get<Device>(id)) this->disconnectAllDriverSignals(device);
    }
    drivers_.clear();
  }

  // The project is gone: so are the devices the drivers stood for.
  void unloaded() override { releaseAll(); }

 protected:
  static std::shared_ptr<spdlog::logger> log() { return fennik::server::getLogger(fennik::server::MODULE_LOGGER); }

  std::shared_ptr<fennik::devices::SimulatedNetwork> network_;
  qor::server::DeviceDescriptor descriptor_;
  fennik::devices::DeviceModel model_;
  std::map<Uuid, std::unique_ptr<Driver>> drivers_;
};

}  // namespace qor::devicetypes
