#include "custom/discovery/DiscoveredDeviceWire.h"

#include "wire/WireConvert.h"

namespace qor::server {

void DiscoveredDeviceFlatbufferSerializer::build(flatbuffers::FlatBufferBuilder& b, const DiscoveredDevice& e) const {
  auto id = b.CreateString(e.strId());
  auto physicalDeviceId = wire::text(b, e.getPhysicalDeviceId());
  auto deviceType = wire::text(b, e.getDeviceType());
  auto name = wire::text(b, e.getName());
  auto deviceId = wire::text(b, e.getDeviceId());
  auto ipaddress = wire::text(b, e.getIpaddress());
  auto firmware = wire::text(b, e.getFirmware());
  fbs::DiscoveredDeviceBuilder t(b);
  t.add_id(id);
  t.add_physicalDeviceId(physicalDeviceId);
  t.add_deviceType(deviceType);
  t.add_name(name);
  t.add_hasDeviceId(e.getHasDeviceId());
  t.add_deviceId(deviceId);
  t.add_ipaddress(ipaddress);
  t.add_firmware(firmware);
  t.add_firmwareUpdateRequired(e.getFirmwareUpdateRequired());
  t.add_findActive(e.getFindActive());
  t.add_visible(e.getVisible());
  b.Finish(t.Finish());
}

DiscoveredDeviceController::DiscoveredDeviceController(std::string route)
    : EntityController(std::move(route), fields()) {}

const DiscoveredDeviceController::Fields& DiscoveredDeviceController::fields() {
  using T = fbs::DiscoveredDevice;
  constexpr auto RO = wire::Access::ReadOnly;
  static const Fields table{
      {"physicalDeviceId", T::VT_PHYSICALDEVICEID, RO, nullptr},
      {"deviceType", T::VT_DEVICETYPE, RO, nullptr},
      {"name", T::VT_NAME, RO, nullptr},
      {"hasDeviceId", T::VT_HASDEVICEID, RO, nullptr},
      {"deviceId", T::VT_DEVICEID, RO, nullptr},
      {"ipaddress", T::VT_IPADDRESS, RO, nullptr},
      {"firmware", T::VT_FIRMWARE, RO, nullptr},
      {"firmwareUpdateRequired", T::VT_FIRMWAREUPDATEREQUIRED, RO, nullptr},
      {"findActive", T::VT_FINDACTIVE, RO, nullptr},
      {"visible", T::VT_VISIBLE, RO, nullptr},
  };
  return table;
}

}  // namespace qor::server
