#pragma once
// The driver of a wall panel. A panel is a control device whose user
// interface is a JSON document (the panel JSON, property "panelJson"); it
// reports three state flags, its address and its firmware. One driver
// stands for one panel on the network, found by its physical id; like the
// device drivers it reports on its own thread, so a caller only hands the
// news on and reads the values again with the getters.

#include "fennik/devices/DeviceModel.h"
#include "fennik/devices/FennikDevice.h"

#include <boost/signals2/signal.hpp>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fennik::devices {

class SimulatedNetwork;
namespace sim {
struct DriverCore;
}

// The panel's state flags, in list order.
enum class PanelFlag { ControlServerFail, Unlocked, Awake, Count };
// "ControlServer Fail", "Unlocked", "Awake".
const char* panelFlagName(PanelFlag flag);

// The wall panels of the simulated network: "MZD" (a landscape panel) and
// "RLX-1" (a portrait one). No channels; they lose their control server
// (the network-fail fault), lock their front panel, identify and report
// address and firmware. Whoever drives panels registers them.
inline constexpr const char* MZD_PANEL_MODEL = "MZD";
inline constexpr const char* RLX_PANEL_MODEL = "RLX-1";
std::vector<DeviceModel> simulatedPanelModels();

// Identity, online and identify are those of every network driver.
class IPanelDriver : public NetworkDriver {
 public:
  using Callback = std::function<void()>;

  // IP modes as for devices: 1 link-local, 2 DHCP, 3 static.
  virtual int getIpMode() const = 0;
  virtual void setIpConfiguration(int mode) = 0;
  virtual std::string getIpAddress() const = 0;
  virtual Connection onIpAddressChanged(Callback callback) = 0;
  virtual std::string getFirmware() const = 0;
  virtual Connection onFirmwareChanged(Callback callback) = 0;

  virtual bool getStateFlag(PanelFlag flag) const = 0;
  virtual bool getCollectedErrorHold() const = 0;
  virtual void setCollectedErrorHold(bool hold) = 0;
  virtual void resetCollectedError() = 0;
  virtual Connection onStateChanged(Callback callback) = 0;

  // Named values: "panelJson" (the panel JSON text), "name", and
  // "collectedStateFlags" (the flag names collected into the error state,
  // comma-separated). Unknown names read as empty and are kept as given.
  virtual std::string getProperty(const std::string& name) const = 0;
  virtual void setProperty(const std::string& name, const std::string& value) = 0;
};

// A panel on the simulated network: a device of a registered panel model
// (no channels; the panel JSON is its setting).
class PanelDriver final : public IPanelDriver {
 public:
  // Throws std::invalid_argument for a model the network does not know.
  PanelDriver(std::shared_ptr<SimulatedNetwork> network, const std::string& model);
  ~PanelDriver() override;
  PanelDriver(const PanelDriver&) = delete;
  PanelDriver& operator=(const PanelDriver&) = delete;

  std::string getModel() const override;
  std::string getPhysicalDeviceId() const override;
  void setPhysicalDeviceId(const std::string& id) override;
  void goOnline(bool read) override;
  void goOffline() override;
  bool isOnline() const override;
  Connection onConnectionProgress(ProgressCallback callback) override;
  bool isIdentifyActive() const override;
  void setIdentifyActive(bool active) override;
  int getIpMode() const override;
  void setIpConfiguration(int mode) override;
  std::string getIpAddress() const override;
  Connection onIpAddressChanged(Callback callback) override;
  std::string getFirmware() const override;
  Connection onFirmwareChanged(Callback callback) override;
  bool getStateFlag(PanelFlag flag) const override;
  bool getCollectedErrorHold() const override;
  void setCollectedErrorHold(bool hold) override;
  void resetCollectedError() override;
  Connection onStateChanged(Callback callback) override;
  std::string getProperty(const std::string& name) const override;
  void setProperty(const std::string& name, const std::string& value) override;

 private:
  std::shared_ptr<SimulatedNetwork> network_;
  std::shared_ptr<sim::DriverCore> core_;
  std::unique_ptr<FennikDevice> device_;
  // Fired (on the network's thread) when a flag may have changed.
  std::shared_ptr<boost::signals2::signal<void()>> stateChanged_;
  std::vector<boost::signals2::scoped_connection> feeds_;
};

}  // namespace fennik::devices
