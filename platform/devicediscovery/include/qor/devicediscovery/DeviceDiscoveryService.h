#pragma once
// Finds the devices of the audio network through a discovery source and
// keeps one DiscoveredDevice entity per device that answers. The source
// reports on its own thread; its reports are collected and applied on the
// event loop in one job, so a burst of answers (a search of a large network)
// costs the loop one pass, and the entities only ever change on the loop.

#include "qor/devicediscovery/DiscoverySource.h"

#include "fennik/server/service/Service.h"

#include <map>
#include <memory>
#include <string>

namespace qor::server {

class DiscoveredDevice;

class DeviceDiscoveryService : public fennik::server::Service {
 public:
  DeviceDiscoveryService(std::shared_ptr<fennik::server::Database> db, std::shared_ptr<fennik::server::EntityLoop> loop,
                         std::shared_ptr<fennik::server::ServiceResolver> services,
                         std::shared_ptr<DiscoverySource> source);
  ~DeviceDiscoveryService() override;

  // Starts listening to the source, which searches the network once.
  void start();
  void stop();
  // A new search: every device answers again.
  void startRefreshDiscoveredDevices();

  // Closing a project clears the database; the devices still on the network
  // are listed again for the next one.
  void loaded() override;

  // Applies what the source reported since the last call (on the loop; the
  // job posted for a report calls it).
  void applyPending();

  // A device's firmware needs an update when another device of the same
  // model on the network runs a newer version. Versions compare part by part
  // (split at '.'), numerically where both parts are numbers, else as text;
  // a device that reports no firmware never needs an update.
  static bool isOlderFirmware(const std::string& version, const std::string& than);

 private:
  struct Inbox;

  void seen(const FoundDevice& found);
  void lost(const std::string& physicalDeviceId);
  DiscoveredDevice* list(const FoundDevice& found);
  void updateFirmwareRule(const std::string& model);

  std::shared_ptr<DiscoverySource> source_;
  std::shared_ptr<Inbox> inbox_;
  // What the network reported, by physical id (the entities mirror it).
  std::map<std::string, FoundDevice> known_;
};

}  // namespace qor::server
