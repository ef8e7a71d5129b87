#include "custom/deviceplant/DevicePlant.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/DeviceType.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"

#include <algorithm>

namespace qor::server {

using fennik::server::Uuid;

bool DevicePlant::UuidBytesLess::operator()(const Uuid& a, const Uuid& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

void DevicePlant::registerFactory(const Uuid& typeId, DeviceFactory* factory) {
  if (!factory) return;
  factories_[typeId] = factory;
}

std::vector<DeviceFactory*> DevicePlant::getRegisteredFactories() const {
  std::vector<DeviceFactory*> result;
  result.reserve(factories_.size());
  for (const auto& [id, factory] : factories_) result.push_back(factory);
  return result;
}

DeviceFactory* DevicePlant::factoryFor(const DeviceType* type) const {
  if (!type) return nullptr;
  auto it = factories_.find(type->id());
  return it == factories_.end() ? nullptr : it->second;
}

DeviceFactory* DevicePlant::factoryForDevice(const Device* device) const {
  return device ? factoryFor(device->getType()) : nullptr;
}

Device* DevicePlant::create(DeviceType* type, const Uuid& id) {
  auto* factory = factoryFor(type);
  return factory ? factory->create(type, id) : nullptr;
}

std::unique_ptr<fennik::devices::FennikDevice> DevicePlant::createDriver(DeviceType* type) {
  auto* factory = factoryFor(type);
  return factory ? factory->createDriver(type) : nullptr;
}

void DevicePlant::reconnect(Device* device) {
  if (auto* factory = factoryForDevice(device)) factory->connect(device);
}

Device* DevicePlant::duplicate(Device* device) {
  auto* factory = factoryForDevice(device);
  return factory ? factory->duplicate(device->id()) : nullptr;
}

Device* DevicePlant::createGroup(Device* group, const std::vector<Device*>& members) {
  if (!group) return nullptr;
  auto* factory = factoryForDevice(group);
  return factory ? factory->createGroup(group, members) : group;
}

void DevicePlant::destroy(Device* device) {
  if (auto* factory = factoryForDevice(device)) factory->destroy(device->id());
}

void DevicePlant::load(fennik::server::FileContainer&) { ensureDeviceTypes(); }

bool DevicePlant::ensureDeviceTypes() {
  for (auto* factory : getRegisteredFactories()) {
    const DeviceDescriptor& descriptor = factory->descriptor();
    if (db()->get<DeviceType>(descriptor.id)) continue;
    if (db()->find(descriptor.id)) {
      // Another kind of entity holds the id: the project keeps it, the
      // device type stays missing, and the load goes on.
      fennik::server::getLogger(fennik::server::MODULE_LOGGER)
          ->error("Device type {} ({}) is not added: its id is taken by another entity",
                  fennik::server::UuidToS(descriptor.id), descriptor.model);
      continue;
    }
    auto type = DeviceType::createDefaultInitialized(descriptor.id);
    type->setModel(descriptor.model, false);
    type->setLabel(descriptor.label, false);
    type->setVendor(descriptor.vendor, false);
    switch (descriptor.deviceClass) {
      case DeviceDescriptor::MATRIX:
        type->setImplementation(DeviceTypeImplementation::MATRIX, false);
        break;
      case DeviceDescriptor::AMPLIFIER:
        type->setImplementation(DeviceTypeImplementation::AMPLIFIER, false);
        break;
      case DeviceDescriptor::SPEAKER:
        type->setImplementation(DeviceTypeImplementation::SPEAKER, false);
        break;
      default:
        fennik::server::getLogger(fennik::server::MODULE_LOGGER)->error("Unknown DeviceTypeImplementation is used");
        break;
    }
    db()->add(std::move(type));
  }
  return true;
}

void DevicePlant::loaded() {
  // A snapshot: a factory may add entities while connecting.
  for (Device* device : db()->all<Device>()) {
    if (auto* factory = factoryForDevice(device)) factory->connect(device);
  }
}

}  // namespace qor::server
