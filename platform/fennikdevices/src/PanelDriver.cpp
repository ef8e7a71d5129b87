#include "fennik/devices/PanelDriver.h"

#include "NetworkState.h"
#include "fennik/devices/SimulatedDriver.h"
#include "fennik/devices/SimulatedNetwork.h"

#include <optional>
#include <stdexcept>

namespace fennik::devices {

using sim::P;

const char* panelFlagName(PanelFlag flag) {
  switch (flag) {
    case PanelFlag::ControlServerFail:
      return "ControlServer Fail";
    case PanelFlag::Unlocked:
      return "Unlocked";
    case PanelFlag::Awake:
      return "Awake";
    case PanelFlag::Count:
      break;
  }
  return "";
}

std::vector<DeviceModel> simulatedPanelModels() {
  std::vector<DeviceModel> models;
  for (const char* name : {MZD_PANEL_MODEL, RLX_PANEL_MODEL}) {
    DeviceModel m;
    m.model = name;
    m.vendor = "Panel";
    m.channelCount = 0;
    m.firmware = "2.1.0";
    m.inputSources.clear();
    m.failoverTypes.clear();
    m.presetSlots.clear();
    m.frontPanelLockPinSupported = false;
    m.powerOnDelaySupported = false;
    m.sampleRateSupported = false;
    m.networkModeSupported = false;
    m.firmwareUpdateSupported = false;
    m.ports = {true, false, false, false, false};
    m.linkSpeedMbit = 100;
    m.deviceFlags.set(static_cast<std::size_t>(DeviceFlag::NetworkFail));
    m.deviceFlagCollect.set(static_cast<std::size_t>(DeviceFlag::NetworkFail));
    models.push_back(std::move(m));
  }
  return models;
}

namespace {

constexpr const char* PANEL_JSON = "panelJson";
constexpr const char* NAME = "name";
constexpr const char* COLLECTED = "collectedStateFlags";

}  // namespace

// The panel's network session is that of a simulated device of a panel
// model; the panel's own values travel as settings of their own.
PanelDriver::PanelDriver(std::shared_ptr<SimulatedNetwork> network, const std::string& model)
    : network_(std::move(network)), stateChanged_(std::make_shared<boost::signals2::signal<void()>>()) {
  {
    auto& s = network_->state();
    std::lock_guard lock(s.mutex);
    auto it = s.models.find(model);
    if (it == s.models.end()) throw std::invalid_argument("No simulated panel model '" + model + "'");
    core_ = std::make_shared<sim::DriverCore>(it->second);
  }
  device_ = std::make_unique<SimulatedDriver>(network_, core_);
  auto fire = [signal = stateChanged_](auto&&...) { (*signal)(); };
  feeds_.emplace_back(device_->onChanged(DriverSignal::State, fire));
  feeds_.emplace_back(device_->onChanged(DriverSignal::FrontPanelLock, fire));
  feeds_.emplace_back(device_->onChanged(DriverSignal::Power, fire));
  feeds_.emplace_back(device_->onConnectionProgress(fire));
}

PanelDriver::~PanelDriver() = default;

std::string PanelDriver::getModel() const { return device_->getModel(); }
std::string PanelDriver::getPhysicalDeviceId() const { return device_->getPhysicalDeviceId(); }
void PanelDriver::setPhysicalDeviceId(const std::string& id) { device_->setPhysicalDeviceId(id); }
void PanelDriver::goOnline(bool read) { device_->goOnline(read); }
void PanelDriver::goOffline() { device_->goOffline(); }
bool PanelDriver::isOnline() const { return device_->isOnline(); }
Connection PanelDriver::onConnectionProgress(ProgressCallback callback) {
  return device_->onConnectionProgress(std::move(callback));
}
bool PanelDriver::isIdentifyActive() const { return device_->isIdentifyActive(); }
void PanelDriver::setIdentifyActive(bool active) { device_->setIdentifyActive(active); }
int PanelDriver::getIpMode() const { return device_->getIpMode(); }
void PanelDriver::setIpConfiguration(int mode) { device_->setIpConfiguration(mode, {}, {}, {}, 16); }
std::string PanelDriver::getIpAddress() const { return device_->getIpAddress(); }
Connection PanelDriver::onIpAddressChanged(Callback callback) {
  return device_->onChanged(DriverSignal::IpAddress, [callback = std::move(callback)](int) { callback(); });
}
std::string PanelDriver::getFirmware() const { return device_->getFirmware(); }
Connection PanelDriver::onFirmwareChanged(Callback callback) {
  return device_->onChanged(DriverSignal::DeviceInfo, [callback = std::move(callback)](int) { callback(); });
}

bool PanelDriver::getStateFlag(PanelFlag flag) const {
  switch (flag) {
    case PanelFlag::ControlServerFail:
      return device_->getDeviceFlagState(DeviceFlag::NetworkFail);
    case PanelFlag::Unlocked:
      return device_->isOnline() && !device_->getFrontPanelLock();
    case PanelFlag::Awake:
      // Awake while online and powered; a sleeping panel is switched off.
      return device_->isOnline() && device_->getPower();
    case PanelFlag::Count:
      break;
  }
  return false;
}

bool PanelDriver::getCollectedErrorHold() const { return device_->getCollectedErrorHold(); }
void PanelDriver::setCollectedErrorHold(bool hold) { device_->setCollectedErrorHold(hold); }
void PanelDriver::resetCollectedError() { device_->resetCollectedError(); }
Connection PanelDriver::onStateChanged(Callback callback) { return stateChanged_->connect(std::move(callback)); }

namespace {

std::optional<P> keyOf(const std::string& name) {
  if (name == PANEL_JSON) return P::PanelJson;
  if (name == COLLECTED) return P::PanelCollect;
  return std::nullopt;
}

}  // namespace

std::string PanelDriver::getProperty(const std::string& name) const {
  if (name == NAME) return device_->getName();
  const auto key = keyOf(name);
  if (!key) return {};
  auto& s = network_->state();
  std::lock_guard lock(s.mutex);
  return sim::read<std::string>(core_->settings, {*key});
}

void PanelDriver::setProperty(const std::string& name, const std::string& value) {
  if (name == NAME) return device_->setName(value);
  const auto key = keyOf(name);
  if (!key) return;
  auto& s = network_->state();
  std::lock_guard lock(s.mutex);
  s.write(core_, {*key}, sim::Value(value));
}

}  // namespace fennik::devices
