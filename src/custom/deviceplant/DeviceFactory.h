#pragma once
// What a device-type module implements once per device type: making,
// connecting, copying, grouping and destroying devices of that type and
// their drivers. The device plant dispatches to it by device-type id.

#include "custom/deviceplant/DeviceDescriptor.h"

#include "fennik/devices/FennikDevice.h"
#include "fennik/server/core/Uuid.h"

#include <memory>
#include <vector>

namespace qor::server {

class Device;
class DeviceType;

class DeviceFactory {
 public:
  virtual ~DeviceFactory() = default;
  // A new device of this type with entity id `id`, its features and visual
  // item, in the database; null on failure.
  virtual Device* create(DeviceType* type, const fennik::server::Uuid& id) = 0;
  // A fresh, unbound driver of this type; the caller owns it.
  virtual std::unique_ptr<fennik::devices::FennikDevice> createDriver(DeviceType* type) = 0;
  // Binds an existing device (a project just loaded) to a driver and wires its features.
  virtual void connect(Device* device) = 0;
  virtual Device* duplicate(const fennik::server::Uuid& deviceId) = 0;
  virtual Device* createGroup(Device* group, const std::vector<Device*>& members) = 0;
  // Disconnects and destroys the device and its features.
  virtual void destroy(const fennik::server::Uuid& deviceId) = 0;
  // Stays valid while the factory is registered.
  virtual const DeviceDescriptor& descriptor() const = 0;
  // Drops every driver the factory holds, without touching entities: for the
  // factory's own module when a project closes.
  virtual void releaseAll() = 0;
  // The driver bound to one of this factory's devices, or null: the plant
  // reads its offline settings to keep them with the project.
  virtual fennik::devices::FennikDevice* deviceDriver(const fennik::server::Uuid& /*deviceId*/) { return nullptr; }
};

}  // namespace qor::server
