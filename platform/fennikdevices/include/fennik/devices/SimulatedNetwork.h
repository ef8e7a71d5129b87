#pragma once
// A simulated audio network: virtual amplifiers and matrices that drivers
// find by physical id, take online through the connection phases, and that
// report meters, load impedance and state flags while online. It runs on
// its own thread, or (for tests) only when advance() is called, so a test
// decides exactly how much simulated time passes.
//
// Like a real network it answers later than it is asked: a setting written
// through a driver reaches the device after the network latency and comes
// back as a change report. Devices keep what was written to them, so going
// online reading returns it; a device can drop off the network and return.

#include "fennik/devices/DeviceModel.h"
#include "fennik/devices/FennikDevice.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fennik::devices {

namespace sim {
struct NetworkState;
struct VirtualDevice;
}  // namespace sim

class SimulatedNetwork : public std::enable_shared_from_this<SimulatedNetwork> {
 public:
  enum class Mode { Threaded, Manual };

  // Faults a test or a demo can switch on and off per device (and channel).
  enum class Fault {
    DeviceFault,
    FanFail,
    MainsWarning,
    NetworkFail,
    Thermal,
    LoadOpen,
    LoadShort,
    PilotFail,
    FirmwareUpdateFails,
    SpeakerSettingRejected,
  };

  // What a device tells the network about itself when it is searched for or
  // when that changes; `present` false says it has left the network.
  struct Announcement {
    std::string physicalId;
    std::string model;
    std::string name;
    bool hasDeviceId = true;
    int deviceIntId = 0;
    std::string ipAddress;
    std::string firmware;
    bool present = true;
    bool operator==(const Announcement&) const = default;
  };
  using AnnouncementCallback = std::function<void(const Announcement&)>;

  struct Listing {
    std::string physicalId;
    std::string model;
    std::string name;
    bool reachable = true;
    int sessions = 0;
    bool identifying = false;  // flashing to be found
  };

  static std::shared_ptr<SimulatedNetwork> create(Mode mode);
  ~SimulatedNetwork();
  SimulatedNetwork(const SimulatedNetwork&) = delete;
  SimulatedNetwork& operator=(const SimulatedNetwork&) = delete;

  Mode mode() const;
  // Threaded mode: starts and stops the network thread.
  void start();
  void stop();

  // Manual mode: lets `by` of simulated time pass, running everything due.
  void advance(std::chrono::milliseconds by);
  std::chrono::milliseconds now() const;
  // The time a message takes across the network (default 20 ms).
  void setLatency(std::chrono::milliseconds latency);
  // How many values drivers have been told to write (online or not).
  std::uint64_t writesReceived() const;

  // Models, registered by the device-type modules; registering again replaces.
  void registerModel(const DeviceModel& model);
  std::vector<std::string> models() const;
  std::optional<DeviceModel> model(const std::string& name) const;

  // Adds a virtual device of a registered model and returns its physical id
  // (a generated one when empty). Throws std::invalid_argument for an
  // unknown model or a physical id already in use.
  std::string addDevice(const std::string& model, std::string physicalId = {});
  bool removeDevice(const std::string& physicalId);
  // A device that is unreachable drops its sessions; reachable again, it
  // is found by the drivers that still want it online.
  bool setReachable(const std::string& physicalId, bool reachable);
  bool injectFault(const std::string& physicalId, Fault fault, bool active = true, int channel = -1);
  std::vector<Listing> devices() const;

  // Announcements: every device answers a search after the network latency,
  // and announces itself again whenever its name, device id, address or
  // firmware changes; it announces its leaving when it becomes unreachable
  // or is removed. Callbacks run on the network's thread (or in advance()).
  Connection onAnnouncement(AnnouncementCallback callback);
  void search();
  // Changes made at the device itself (front panel, DHCP, a service
  // engineer); drivers online with it learn them as change reports.
  bool renameDevice(const std::string& physicalId, const std::string& name);
  bool setIpAddress(const std::string& physicalId, const std::string& ipAddress);
  bool setFirmware(const std::string& physicalId, const std::string& version);
  // Adds `perModel` devices of every registered model; returns their ids.
  std::vector<std::string> populateDemo(int perModel);

  // A fresh driver for a registered model, not bound to any device yet.
  // Throws std::invalid_argument for an unknown model.
  std::unique_ptr<FennikDevice> createDriver(const std::string& model);

  sim::NetworkState& state() const { return *state_; }

 private:
  explicit SimulatedNetwork(Mode mode);
  bool changeAtDevice(const std::string& physicalId,
                      std::function<void(sim::NetworkState&, sim::VirtualDevice&)> change);
  std::unique_ptr<sim::NetworkState> state_;
};

}  // namespace fennik::devices
