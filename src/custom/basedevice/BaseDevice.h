#pragma once
// The base of every device class a device-type module builds: creates a
// device's features from its driver, sends what users change to the driver,
// and writes what the driver reports back into the features.
//
// The binding of every feature follows one pattern:
//  1. find the driver and the feature; no feature, nothing to do;
//  2. initial sync: the driver's values go into the feature as external writes;
//  3. entity to driver: the feature's change signals call the driver's
//     setters, except for external writes (they came from the driver);
//  4. driver to entity: the driver's signal only posts a job to the event
//     loop; the job finds the feature (and the driver) again by id, does
//     nothing when it is gone, else reads the driver and writes externally;
//  5. every connection is kept per device, so it can be cut before the
//     driver goes away.

#include "fennik/devices/DriverSettings.h"
#include "fennik/devices/FennikDevice.h"
#include "fennik/server/core/CallSite.h"
#include "fennik/server/core/Uuid.h"
#include "fennik/server/service/Service.h"

#include "qor/server/entities/Enums.h"
#include "qor/server/entities/Forward.h"

#include <boost/signals2/connection.hpp>

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qor::server {

class FtOnlineService;
class FtDeviceStateService;
class FtNetworkService;

// The short name of channel `index` in a bridge mode; positions wrap.
std::string getChannelShortName(int index, std::vector<std::string> names, FtBridgeMode mode);

class BaseDevice : public fennik::server::Service {
 public:
  using Driver = fennik::devices::FennikDevice;

  BaseDevice(std::shared_ptr<fennik::server::Database> db, std::shared_ptr<fennik::server::EntityLoop> loop,
             std::shared_ptr<fennik::server::ServiceResolver> services);
  ~BaseDevice() override;

  // The speaker-setting check runs every 5 s from loaded() until unload().
  // unload() also sets the closing project's connections aside (below).
  void loaded() override;
  void loadedFinished() override;
  void unload() override;

  virtual Driver* driver(Device* device) = 0;
  virtual std::vector<Device*> devices() = 0;

  virtual void disconnectAllDriverSignals(Device* device);
  virtual void destroyAllFeatures(Device* device);
  virtual void createAllFeatures(Device* device);
  virtual void connectAllFeatures(Device* device);

  virtual void createFtLabel(Device* device);
  virtual void createFtPower(Device* device);
  virtual void createFtDeviceInfo(Device* device);
  virtual void createFtOnline(Device* device);
  virtual void createFtPreset(Device* device);
  virtual void createFtConnector(Device* device);
  virtual void createFtDeviceState(Device* device) = 0;
  virtual void createFtGPIO(Device* device);
  virtual void createFtSpeakerSetting(Device* device);
  virtual void createFtNetwork(Device* device);
  virtual void createFtAudio(Device* device) = 0;

  virtual void connectFtLabel(Device* device);
  virtual void connectFtPower(Device* device);
  virtual void connectFtDeviceInfo(Device* device);
  virtual void connectFtOnline(Device* device);
  virtual void connectFtPreset(Device* device);
  virtual void connectFtConnector(Device* device);
  virtual void connectFtDeviceState(Device* device);
  virtual void connectFtGPIO(Device* device);
  virtual void connectFtSpeakerSetting(Device* device);
  virtual void connectFtNetwork(Device* device);
  virtual void connectFtAudio(Device* device) = 0;

  virtual void destroyFtLabel(Device* device);
  virtual void destroyFtPower(Device* device);
  virtual void destroyFtDeviceInfo(Device* device);
  virtual void destroyFtOnline(Device* device);
  virtual void destroyFtPreset(Device* device);
  virtual void destroyFtConnector(Device* device);
  virtual void destroyFtDeviceState(Device* device);
  virtual void destroyFtGPIO(Device* device);
  virtual void destroyFtSpeakerSetting(Device* device);
  virtual void destroyFtNetwork(Device* device);
  virtual void destroyFtAudio(Device* device) = 0;

  virtual void updateFtOnlineByDriver(FtOnlineService* service, FtOnline* online, Driver* driver) = 0;
  virtual void updateDeviceState(FtDeviceStateService* service, FtDeviceState* state, Driver* driver) = 0;
  virtual void initDeviceState(FtDeviceStateService* service, FtDeviceState* state, Driver* driver) = 0;
  virtual void updateEntityAddressesByDriver(FtNetworkService* service, FtNetwork* network, Driver* driver) = 0;
  virtual void updateFtNetworkByDriver(FtNetworkService* service, FtNetwork* network, Driver* driver);
  virtual std::string getLinkSpeedString(int mbit);

  // Copies what a user set on one device to another of the same type (a
  // duplicate): channel names, audio, GPIOs, power-on delay and breaker.
  // Normal writes, so the copy's driver receives them.
  virtual void copySettings(Device* from, Device* to);

  // Gives a group device features that aggregate its members' features
  // (online, power, audio): writing a group feature reaches every member.
  virtual void createGroupFeatures(Device* group, const std::vector<Device*>& members);

  // Readies a fresh driver for a device that already has its features (a
  // project just opened), before the features read it: the driver gets the
  // settings the project stored for it (DevicePlant), then the device's own
  // file fields (fileFieldsIntoSettings), so the initial sync reads the
  // design back instead of a new driver's defaults. A device class calls it
  // in its factory's connect when it made the driver anew.
  void prepareDriver(Device* device);
  // The stored values of the device's features that a driver takes: name
  // and device id, channel names, GPIOs (amplifiers add failover).
  virtual void fileFieldsIntoSettings(Device* device, fennik::devices::DriverSettings& settings);

  // Connections currently kept for a device (for diagnostics and tests).
  std::size_t connectionCount(const fennik::server::Uuid& deviceId) const;

 protected:
  using Connection = boost::signals2::connection;
  template <class E>
  using Refresh = std::function<void(E&, Driver&)>;
  using Subscribe = std::function<Connection(Driver&, std::function<void()>)>;

  FtLabel* tryGetLabelByIndex(Device* device, int index);
  void loadSettingByFtSpeakerSetting(Device* device, const FtSpeakerSetting* setting) const;
  void checkFtSpeakerSetting(Device* device);
  void timerMethodCheckFtSpeakerSetting();

  template <class S>
  std::shared_ptr<S> service() const;
  Driver* driverById(const fennik::server::Uuid& deviceId);
  void keep(Device* device, Connection connection);

  // Calls the driver of the device; a driver that throws is logged, not raised.
  void toDriver(const fennik::server::Uuid& deviceId, const char* what, const std::function<void(Driver&)>& call);

  // Step 4 of the pattern for one feature: on the driver's notification,
  // post a job (keyed per feature and subscription, so bursts coalesce) that
  // finds the feature and the device again and runs `refresh`.
  template <class E>
  void reportInto(Device* device, E* feature, fennik::devices::DriverSignal group, Refresh<E> refresh,
                  fennik::server::CallSite where = fennik::server::CallSite::current());
  template <class E>
  void reportInto(Device* device, E* feature, const Subscribe& subscribe, const fennik::server::Uuid& key,
                  Refresh<E> refresh, fennik::server::CallSite where = fennik::server::CallSite::current());

  // One slot for the changes of many of the device's entities (a feature's
  // channels, a bank's filters): fn(entity, key, external) for every field
  // write (key: the field's name) and relation change of any of them. A
  // slot per entity and field costs a few hundred bytes, and an amplifier
  // would need hundreds. Kept like any connection of the device.
  template <class E, class Range, class Fn>
  void onChangesOf(Device* device, const Range& entities, Fn fn);
  // Whether a change's key names one of the fields.
  static bool isField(std::string_view key, std::initializer_list<std::string_view> fields) {
    for (std::string_view field : fields) {
      if (key == field) return true;
    }
    return false;
  }

  // Calls f for each pair of children of the two parents with equal index.
  template <class E, class F>
  static void forMatchingChildren(E* from, E* to, F f) {
    if (!from || !to) return;
    for (E* a : from->childrens()) {
      for (E* b : to->childrens()) {
        if (a && b && a->getIndex() == b->getIndex()) f(*a, *b);
      }
    }
  }

  // A device-level parent with one child per channel that `include` accepts.
  template <class S, class Include>
  auto* createChannelShaped(S& service, Device* device, int channels, Include include);
  // Destroys a feature (and the members it owns) through its service.
  template <class S, class E>
  void destroyFeature(E* feature) {
    if (!feature) return;
    if (auto s = service<S>()) s->destroy(feature);
  }
  // Takes the feature in one of the device's slots, detaches and destroys it.
  template <class S, class E>
  void destroySlot(Device* device, E* (Device::*get)() const, void (Device::*set)(E*)) {
    E* feature = device ? (device->*get)() : nullptr;
    if (!feature) return;
    (device->*set)(nullptr);
    destroyFeature<S>(feature);
  }
  // The group's feature in one slot (made when missing, source GROUP_DEVICE)
  // with the members' features of that slot as its shared members.
  template <class S, class E>
  void groupSlot(Device* group, const std::vector<Device*>& members, E* (Device::*get)() const,
                 void (Device::*set)(E*)) {
    auto svc = service<S>();
    if (!group || !svc) return;
    E* feature = (group->*get)();
    if (!feature) {
      feature = svc->create();
      svc->setSource(feature, FtSource::GROUP_DEVICE, false);
      svc->setIsGroup(feature, true, false);
      (group->*set)(feature);
    }
    for (Device* member : members) {
      if (member && member != group) svc->addChild(feature, (member->*get)(), false);
    }
  }

  // The notification amplifiers and matrices add to the online wiring: a
  // new IP address re-reads the online values.
  void reportOnlineAddresses(Device* device);

  // Initial values of the online feature; amplifiers also send the MAC address.
  void writeOnlineFromDriver(FtOnlineService* service, FtOnline* online, Driver* driver, bool withMacAddress);
  // Which device flags the device collects: a user's change of the device
  // state's collect list goes to the driver, flag by flag.
  void sendDeviceFlagCollect(Device* device);
  // Mute, level, trim and polarity of every FtAudio channel, both ways.
  void bindChannelAudio(Device* device);
  // The addresses and states of every port the device has.
  void writePortAddresses(FtNetworkService* service, FtNetwork* network, Driver* driver);
  static std::string jobLabel(const fennik::server::CallSite& where);

 private:
  void armCheckTimer();
  void cancelCheckTimer();
  void disconnectRetiredInSlices();

  std::map<fennik::server::Uuid, std::vector<Connection>> connections_;
  // A closing project's connections, by device object: disconnecting a
  // show's few hundred thousand one by one took a tenth of opening the next
  // show. A project put back after a failed open disconnects its own as its
  // devices connect again; otherwise they are disconnected after the next
  // project has loaded, in the background (disconnectRetiredInSlices).
  std::map<const Device*, std::vector<Connection>> retired_;
  fennik::server::Uuid checkTimer_{};
  bool checking_ = false;
  // Expires with this object, so jobs posted by drivers find out it is gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace qor::server

#include "custom/basedevice/BaseDevice.inl"
