#pragma once
// The one place through which devices of module-supplied types are created,
// connected, copied, grouped and destroyed: a registry of device factories
// by device-type id, filled at run time by the device-type modules.

#include "custom/deviceplant/DeviceFactory.h"

#include "fennik/devices/DriverSettings.h"
#include "fennik/server/core/Uuid.h"
#include "fennik/server/service/Service.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
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
  // Ensures the device types, then reads the drivers' settings the project
  // keeps (sub-container DRIVER_FOLDER). A damaged entry throws
  // DriverStoreError naming it, before any device has been touched.
  void load(fennik::server::FileContainer& container) override;
  // Connects every device; a fresh driver starts with the stored settings.
  void loaded() override;
  // Keeps every device driver's offline settings with the project.
  void save(fennik::server::FileContainer& container) override;
  // Keeps what the drivers hold, in memory, before the drivers go: should
  // the project be put back (an open of another file that failed), its
  // load takes them instead of its folder's entries, so its devices get the
  // values they had, not those of the last save. The next project's
  // loadedFinished drops them.
  void unload() override;
  void unloaded() override;
  void loadedFinished() override;
  std::string serviceName() const override { return "fennik::server::DevicePlant"; }

  // Makes sure every registered factory's device type is in the database;
  // existing types keep what the project stored. Always true.
  bool ensureDeviceTypes();

  // The sub-container of the project that holds the drivers' settings.
  static constexpr const char* DRIVER_FOLDER = "DevicePlant";
  // What the opened project stored for the device's driver, until the
  // device is connected; null when it stored nothing.
  const fennik::devices::DriverSettings* storedDriverSettings(const fennik::server::Uuid& deviceId) const;

 private:
  struct UuidBytesLess {
    bool operator()(const fennik::server::Uuid& a, const fennik::server::Uuid& b) const;
  };

  DeviceFactory* factoryFor(const DeviceType* type) const;
  DeviceFactory* factoryForDevice(const Device* device) const;
  // Every device that has a driver of its own (a group has none), with its
  // driver, or null while it has none.
  void forEachDeviceDriver(const std::function<void(Device*, fennik::devices::FennikDevice*)>& visit) const;

  void bindDeviceTypes();

  std::map<fennik::server::Uuid, DeviceFactory*, UuidBytesLess> factories_;
  // Verified settings of the opened project's devices, waiting for loaded().
  std::map<fennik::server::Uuid, fennik::devices::DriverSettings> stored_;
  // Entries of devices whose type has no factory here (a plug-in missing on
  // this machine): kept as they were and written back on save.
  std::map<fennik::server::Uuid, fennik::devices::SettingsJson> carried_;
  // The working folder of the loaded project.
  std::optional<std::filesystem::path> folder_;
  // What unload() kept of closed projects, by their working folder (a
  // failed open closes the half-opened one too before the first comes back).
  struct Closed {
    std::map<fennik::server::Uuid, fennik::devices::DriverSettings> stored;
    std::map<fennik::server::Uuid, fennik::devices::SettingsJson> carried;
  };
  std::map<std::filesystem::path, Closed> closed_;
};

}  // namespace qor::server
