#pragma once
// Discovered devices on the wire: their table's serializer and the read-only
// route qor::server::DiscoveredDevice (show, index), made with the same
// machinery as the entity types of the project.

#include "qor/devicediscovery/DiscoveredDevice.h"
#include "qor/devicediscovery/DiscoveredDeviceService.h"
#include "qor/server/fbs/DiscoveredDevice_generated.h"
#include "wire/EntityController.h"
#include "wire/FlatbufferSerializer.h"

#include <string>

namespace qor::server {

class DiscoveredDeviceFlatbufferSerializer final : public wire::FlatbufferSerializer<DiscoveredDevice> {
 protected:
  void build(flatbuffers::FlatBufferBuilder& b, const DiscoveredDevice& e) const override;
};

class DiscoveredDeviceController final
    : public wire::EntityController<DiscoveredDevice, fbs::DiscoveredDevice, DiscoveredDeviceService> {
 public:
  explicit DiscoveredDeviceController(std::string route = std::string(DiscoveredDevice::CLASS_NAME));
  static const Fields& fields();
};

}  // namespace qor::server
