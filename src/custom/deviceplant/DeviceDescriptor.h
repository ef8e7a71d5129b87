#pragma once
// How a device-type module describes its device type to the device plant.

#include "fennik/server/core/Uuid.h"

#include <cstdint>
#include <string>
#include <utility>

namespace qor::server {

struct DeviceDescriptor {
  // deviceClass values.
  static constexpr std::int32_t MATRIX = 0;
  static constexpr std::int32_t AMPLIFIER = 1;
  static constexpr std::int32_t SPEAKER = 2;

  DeviceDescriptor() = default;
  DeviceDescriptor(fennik::server::Uuid id, std::string vendor, std::string model, std::string label,
                   std::int32_t deviceClass)
      : id(id), vendor(std::move(vendor)), model(std::move(model)), label(std::move(label)), deviceClass(deviceClass) {}
  DeviceDescriptor(const DeviceDescriptor&) = default;
  DeviceDescriptor& operator=(const DeviceDescriptor&) = default;
  // A moved-from descriptor keeps its id and has empty texts.
  DeviceDescriptor(DeviceDescriptor&& other) noexcept
      : id(other.id),
        vendor(std::exchange(other.vendor, {})),
        model(std::exchange(other.model, {})),
        label(std::exchange(other.label, {})),
        deviceClass(other.deviceClass) {}
  DeviceDescriptor& operator=(DeviceDescriptor&& other) noexcept {
    id = other.id;
    vendor = std::exchange(other.vendor, {});
    model = std::exchange(other.model, {});
    label = std::exchange(other.label, {});
    deviceClass = other.deviceClass;
    return *this;
  }

  fennik::server::Uuid id{};
  std::string vendor;
  std::string model;
  std::string label;
  std::int32_t deviceClass = AMPLIFIER;
};

}  // namespace qor::server
