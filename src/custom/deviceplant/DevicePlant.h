#pragma once
// The one place through which devices of module-supplied types are created,
// connected, copied, grouped and destroyed: a registry of device factories
// by device-type id, filled at run time by the device-type modules.

#include "custom/deviceplant/DeviceFactory.h"

#include "fennik/server/core/Uuid.h"
#include "fennik/server/service/Service.h"

#include <map>
#include <memory>
#include <vector>

namespace qor::server {

class DevicePlant : public fennik::server::Service {
 public:
  using Service::Service;
  DevicePlant(const DevicePlant&) = default;

  // A null factory is ignored; a second one for the same type replaces the first.
  void registerFactory(const fennik::server::Uuid& typeId, DeviceFactory* factory);
  std::vector<DeviceFactory*> getRegisteredFactories() const;

  Device* create(DeviceType* type, const fennik::server::Uuid& id);
  std::unique_ptr<fennik::devices::FennikDevice> createDriver(DeviceType* type);
  void reconnect(Device* device);
  Device* duplicate(Device* device);
  Device* createGroup(Device* group, const std::vector<Device*>& members);
  void destroy(Device* device);

  void initialize() override {}
  void load(fennik::server::FileContainer& container) override;
  void loaded() override;
  std::string serviceName() const override { return "fennik::server::DevicePlant"; }

  // Makes sure every registered factory's device type is in the database;
  // existing types keep what the project stored. Always true.
  bool ensureDeviceTypes();

 private:
  struct UuidBytesLess {
    bool operator()(const fennik::server::Uuid& a, const fennik::server::Uuid& b) const;
  };

  DeviceFactory* factoryFor(const DeviceType* type) const;
  DeviceFactory* factoryForDevice(const Device* device) const;

  std::map<fennik::server::Uuid, DeviceFactory*, UuidBytesLess> factories_;
};

}  // namespace qor::server
