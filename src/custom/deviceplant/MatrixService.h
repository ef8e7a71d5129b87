#pragma once
// Creates and duplicates matrix devices through the device plant.

#include "fennik/server/service/Service.h"

namespace qor::server {

class Device;
class DeviceType;

class MatrixService : public fennik::server::Service {
 public:
  using Service::Service;

  // Null for a null type (the plant is not asked).
  Device* create(DeviceType* type);
  // A new device of the same type whose visual item joins the source's
  // parent item; null when the source has no visual item or no type.
  Device* duplicate(Device* device);

  std::string serviceName() const override { return "fennik::server::MatrixService"; }
};

}  // namespace qor::server
