#include "custom/deviceplant/DevicePlant.h"

#include "custom/driverstore/DriverStore.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/DeviceType.h"

#include "fennik/server/core/JsonText.h"
#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/project/FileContainer.h"

#include <algorithm>

namespace qor::server {

using fennik::devices::DriverSettings;
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

void DevicePlant::load(fennik::server::FileContainer& container) {
  stored_.clear();
  carried_.clear();
  folder_ = container.path();
  ensureDeviceTypes();
  bindDeviceTypes();
  if (auto it = closed_.find(container.path()); it != closed_.end()) {
    // A closed project put back: what its drivers held when it closed.
    stored_ = std::move(it->second.stored);
    carried_ = std::move(it->second.carried);
    closed_.erase(it);
    return;
  }

  // Read aside and verified as a whole: a damaged entry throws before the
  // plant keeps anything of it.
  struct Probe {
    std::unique_ptr<fennik::devices::FennikDevice> driver;
    DriverSettings base;
  };
  std::map<Uuid, Probe> probes;  // one driver per device type, to check against
  std::map<Uuid, DriverSettings> stored;
  std::map<Uuid, fennik::devices::SettingsJson> carried;
  // The driver to check an entry against, or none when no factory makes
  // the device's type (its entry is then carried as it is).
  auto probeFor = [&](const Uuid& id) -> Probe* {
    const Device* device = db()->get<Device>(id);
    if (!device) throw std::runtime_error("it names no device of the project");
    DeviceType* type = device->getType();
    DeviceFactory* factory = factoryFor(type);
    if (!factory) return nullptr;
    auto it = probes.find(type->id());
    if (it == probes.end()) {
      Probe p;
      p.driver = factory->createDriver(type);
      if (p.driver) p.base = fennik::devices::readDriverSettings(*p.driver);
      it = probes.emplace(type->id(), std::move(p)).first;
    }
    return it->second.driver ? &it->second : nullptr;
  };
  const DriverStore store(DRIVER_FOLDER);
  store.read(
      container,
      [&](const Uuid& id, const simdjson::dom::element& doc) {
        Probe* probe = probeFor(id);
        // A carried entry is kept as a tree: the other way takes it.
        if (!probe) throw std::runtime_error("carried");
        stored[id] = fennik::devices::driverSettingsFromDom(doc, *probe->driver, probe->base);
      },
      [&](const Uuid& id, const fennik::server::Json& doc) {
        Probe* probe = probeFor(id);
        if (!probe) {
          fennik::devices::checkDriverSettingsHeader(doc);
          carried[id] = doc;
          return;
        }
        stored[id] = fennik::devices::driverSettingsFromJson(doc, *probe->driver, probe->base);
      });
  stored_ = std::move(stored);
  carried_ = std::move(carried);
}

void DevicePlant::bindDeviceTypes() {
  // Device types are not stored with the project: a device read from the
  // file knows its type's id only until the type is back in the database.
  for (Device* device : db()->all<Device>()) {
    if (device->getType() || device->typeId().is_nil()) continue;
    if (DeviceType* type = db()->get<DeviceType>(device->typeId())) device->setType(type);
  }
}

const DriverSettings* DevicePlant::storedDriverSettings(const Uuid& deviceId) const {
  auto it = stored_.find(deviceId);
  return it == stored_.end() ? nullptr : &it->second;
}

void DevicePlant::forEachDeviceDriver(const std::function<void(Device*, fennik::devices::FennikDevice*)>& visit) const {
  for (Device* device : db()->all<Device>()) {
    // A group's values are its members': it has no driver of its own.
    if (device->getIsGroup()) continue;
    DeviceFactory* factory = factoryForDevice(device);
    visit(device, factory ? factory->deviceDriver(device->id()) : nullptr);
  }
}

void DevicePlant::save(fennik::server::FileContainer& container) {
  std::vector<DriverStore::TextEntry> entries;
  const std::size_t repairs = fennik::server::json_text::repairs;
  forEachDeviceDriver([&](Device* device, fennik::devices::FennikDevice* driver) {
    if (driver) {
      entries.emplace_back(device->id(),
                           fennik::devices::driverSettingsText(fennik::devices::readDriverSettings(*driver)));
    } else if (auto it = carried_.find(device->id()); it != carried_.end()) {
      entries.emplace_back(device->id(), DriverStore::text(it->second));
    }
  });
  if (const std::size_t repaired = fennik::server::json_text::repairs - repairs)
    fennik::server::getLogger(fennik::server::MODULE_LOGGER)
        ->warn(
            "{} driver setting(s) had no JSON form (a name that is no UTF-8, a number that is none) and "
            "were saved repaired",
            repaired);
  DriverStore(DRIVER_FOLDER).saveTexts(container, entries);
}

void DevicePlant::unload() {
  if (!folder_) return;
  // Read in memory, not written to the folder: a show's thousand entries
  // written as files took a third of closing it, and are needed only when
  // the open that closes it fails.
  Closed kept;
  forEachDeviceDriver([&](Device* device, fennik::devices::FennikDevice* driver) {
    if (driver) {
      kept.stored.emplace(device->id(), fennik::devices::readDriverSettings(*driver));
    } else if (auto it = stored_.find(device->id()); it != stored_.end()) {
      kept.stored.emplace(device->id(), it->second);  // not connected yet
    }
  });
  kept.carried = carried_;
  closed_[*folder_] = std::move(kept);
}

void DevicePlant::loadedFinished() { closed_.clear(); }

void DevicePlant::unloaded() {
  stored_.clear();
  carried_.clear();
  folder_.reset();
}

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
  // The drivers hold them now.
  stored_.clear();
}

}  // namespace qor::server
