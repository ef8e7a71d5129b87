#include "qor/devicediscovery/DiscoveredDevice.h"

namespace qor::server {

using fennik::server::FieldFlag;

fennik::server::Uuid DiscoveredDevice::idFor(const std::string& physicalDeviceId) {
  static const auto space = fennik::server::UuidFromS("5d1f8f0e-2a3b-4c6d-9e7f-0a1b2c3d4e5f");
  return fennik::server::nameUuid(space, physicalDeviceId);
}

const fennik::server::EntityFieldDescriptors& DiscoveredDevice::fieldDescriptors() {
  static const std::vector<FieldFlag> flags{FieldFlag::Interface, FieldFlag::ReadOnlyIf};
  static const fennik::server::EntityFieldDescriptors descriptors{
      {FIELD_PHYSICALDEVICEID, "string", flags},
      {FIELD_DEVICETYPE, "string", flags},
      {FIELD_NAME, "string", flags},
      {FIELD_HASDEVICEID, "bool", flags},
      {FIELD_DEVICEID, "string", flags},
      {FIELD_IPADDRESS, "string", flags},
      {FIELD_FIRMWARE, "string", flags},
      {FIELD_FIRMWAREUPDATEREQUIRED, "bool", flags},
      {FIELD_FINDACTIVE, "bool", flags},
      {FIELD_VISIBLE, "bool", flags},
  };
  return descriptors;
}

}  // namespace qor::server
