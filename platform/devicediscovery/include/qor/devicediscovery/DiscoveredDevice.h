#pragma once
// One device found on the audio network, as the discovery service lists it.
// Discovered devices are not part of the project: they are never saved, and
// the discovery service makes them again for every project that opens.
// Every field is sent to clients and read-only for them.

#include "fennik/server/entity/Entity.h"

#include <memory>
#include <string>
#include <string_view>

namespace qor::server {

class DiscoveredDevice final : public fennik::server::Entity {
 public:
  static constexpr std::string_view CLASS_NAME = "qor::server::DiscoveredDevice";
  static constexpr std::string_view TYPE_NAME = "DiscoveredDevice";

  static constexpr const char* FIELD_PHYSICALDEVICEID = "physicalDeviceId";
  static constexpr const char* FIELD_DEVICETYPE = "deviceType";
  static constexpr const char* FIELD_NAME = "name";
  static constexpr const char* FIELD_HASDEVICEID = "hasDeviceId";
  static constexpr const char* FIELD_DEVICEID = "deviceId";
  static constexpr const char* FIELD_IPADDRESS = "ipaddress";
  static constexpr const char* FIELD_FIRMWARE = "firmware";
  static constexpr const char* FIELD_FIRMWAREUPDATEREQUIRED = "firmwareUpdateRequired";
  static constexpr const char* FIELD_FINDACTIVE = "findActive";
  static constexpr const char* FIELD_VISIBLE = "visible";

  explicit DiscoveredDevice(const fennik::server::Uuid& id) : fennik::server::Entity(id) {}
  static std::shared_ptr<DiscoveredDevice> createDefaultInitialized(const fennik::server::Uuid& id) {
    return std::make_shared<DiscoveredDevice>(id);
  }
  // The entity id of the device with this physical id: the same every time
  // the device is found, so clients can keep it across searches and projects.
  static fennik::server::Uuid idFor(const std::string& physicalDeviceId);

  std::string_view className() const override { return CLASS_NAME; }
  bool isFileFlagSet() const override { return false; }
  bool isInterfaceFlagSet() const override { return true; }
  const fennik::server::EntityFieldDescriptors& getFieldDescriptors() const override { return fieldDescriptors(); }
  static const fennik::server::EntityFieldDescriptors& fieldDescriptors();

  // The identity the device reports on the network; a project device is
  // mapped to it when its deviceId is this text.
  const std::string& getPhysicalDeviceId() const { return physicalDeviceId_; }
  // The model text the device reports.
  const std::string& getDeviceType() const { return deviceType_; }
  const std::string& getName() const { return name_; }
  bool getHasDeviceId() const { return hasDeviceId_; }
  // The device's numeric id in decimal, at least three digits ("007").
  const std::string& getDeviceId() const { return deviceId_; }
  const std::string& getIpaddress() const { return ipaddress_; }
  const std::string& getFirmware() const { return firmware_; }
  bool getFirmwareUpdateRequired() const { return firmwareUpdateRequired_; }
  bool getFindActive() const { return findActive_; }
  // False while a project device is mapped to it.
  bool getVisible() const { return visible_; }

  // With external true an equal value changes nothing; a normal write
  // always stores and announces the value.
  bool setPhysicalDeviceId(const std::string& v, bool external) {
    return writeField(0, FIELD_PHYSICALDEVICEID, physicalDeviceId_, v, external, external);
  }
  bool setDeviceType(const std::string& v, bool external) {
    return writeField(1, FIELD_DEVICETYPE, deviceType_, v, external, external);
  }
  bool setName(const std::string& v, bool external) { return writeField(2, FIELD_NAME, name_, v, external, external); }
  bool setHasDeviceId(bool v, bool external) {
    return writeField(3, FIELD_HASDEVICEID, hasDeviceId_, v, external, external);
  }
  bool setDeviceId(const std::string& v, bool external) {
    return writeField(4, FIELD_DEVICEID, deviceId_, v, external, external);
  }
  bool setIpaddress(const std::string& v, bool external) {
    return writeField(5, FIELD_IPADDRESS, ipaddress_, v, external, external);
  }
  bool setFirmware(const std::string& v, bool external) {
    return writeField(6, FIELD_FIRMWARE, firmware_, v, external, external);
  }
  bool setFirmwareUpdateRequired(bool v, bool external) {
    return writeField(7, FIELD_FIRMWAREUPDATEREQUIRED, firmwareUpdateRequired_, v, external, external);
  }
  bool setFindActive(bool v, bool external) {
    return writeField(8, FIELD_FINDACTIVE, findActive_, v, external, external);
  }
  bool setVisible(bool v, bool external) { return writeField(9, FIELD_VISIBLE, visible_, v, external, external); }

 private:
  std::string physicalDeviceId_;
  std::string deviceType_;
  std::string name_;
  bool hasDeviceId_ = false;
  std::string deviceId_;
  std::string ipaddress_;
  std::string firmware_;
  bool firmwareUpdateRequired_ = false;
  bool findActive_ = false;
  bool visible_ = true;
};

}  // namespace qor::server
