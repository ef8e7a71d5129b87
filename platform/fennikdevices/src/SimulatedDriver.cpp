#include "fennik/devices/SimulatedDriver.h"

#include "NetworkState.h"
#include "fennik/devices/SimulatedNetwork.h"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

namespace fennik::devices {

using sim::Key;
using sim::P;

namespace {

std::size_t at(int i) { return static_cast<std::size_t>(i); }

template <class T, class Vector>
T item(const Vector& v, int index) {
  return index >= 0 && at(index) < v.size() ? T(v[at(index)]) : T{};
}

}  // namespace

SimulatedDriver::SimulatedDriver(std::shared_ptr<SimulatedNetwork> network, std::shared_ptr<sim::DriverCore> core)
    : network_(std::move(network)), core_(std::move(core)) {}

SimulatedDriver::~SimulatedDriver() {
  auto& s = network_->state();
  std::lock_guard lock(s.mutex);
  s.disconnect(core_);
}

template <class T>
T SimulatedDriver::get(const Key& key) const {
  auto& s = network_->state();
  std::lock_guard lock(s.mutex);
  return sim::read<T>(core_->settings, key);
}

template <class T>
void SimulatedDriver::set(const Key& key, T value) {
  auto& s = network_->state();
  std::lock_guard lock(s.mutex);
  s.write(core_, key, sim::Value(std::move(value)));
}

std::string SimulatedDriver::getModel() const { return core_->model->model; }

std::string SimulatedDriver::getPhysicalDeviceId() const {
  std::lock_guard lock(network_->state().mutex);
  return core_->physicalId;
}

void SimulatedDriver::setPhysicalDeviceId(const std::string& id) {
  auto& s = network_->state();
  std::lock_guard lock(s.mutex);
  if (core_->physicalId == id) return;
  const bool wanted = core_->wantOnline;
  s.disconnect(core_);
  core_->physicalId = id;
  if (wanted && !id.empty()) {
    core_->wantOnline = true;
    s.startConnecting(core_);
  }
}

void SimulatedDriver::goOnline(bool read) {
  auto& s = network_->state();
  std::lock_guard lock(s.mutex);
  if (core_->wantOnline && core_->read == read) return;
  s.disconnect(core_);
  core_->wantOnline = true;
  core_->read = read;
  s.startConnecting(core_);
}

void SimulatedDriver::goOffline() {
  auto& s = network_->state();
  std::lock_guard lock(s.mutex);
  s.disconnect(core_);
}

bool SimulatedDriver::isOnline() const {
  std::lock_guard lock(network_->state().mutex);
  return core_->online;
}

Connection SimulatedDriver::onConnectionProgress(ProgressCallback callback) {
  return core_->progress.connect(std::move(callback));
}

Connection SimulatedDriver::onChanged(DriverSignal group, IndexCallback callback) {
  if (group == DriverSignal::Count) return {};
  return core_->changed[static_cast<std::size_t>(group)].connect(std::move(callback));
}

bool SimulatedDriver::isIdentifyActive() const { return get<bool>({P::Identify}); }
void SimulatedDriver::setIdentifyActive(bool active) {
  auto& s = network_->state();
  std::lock_guard lock(s.mutex);
  if (core_->online || core_->physicalId.empty()) return s.write(core_, {P::Identify}, sim::Value(active));
  // Identifying needs no session: the request goes to the device by its
  // physical id, so that a device found on the network can flash before it
  // is part of the project.
  s.schedule(s.latencyMs, [&s, id = core_->physicalId, active] {
    if (sim::VirtualDevice* device = s.find(id); device && device->reachable) {
      device->settings[{P::Identify}] = sim::Value(active);
    }
  });
}
bool SimulatedDriver::isFrontPanelLockSupported() const { return core_->model->frontPanelLockSupported; }
bool SimulatedDriver::getFrontPanelLock() const { return get<bool>({P::PanelLock}); }
void SimulatedDriver::setFrontPanelLock(bool locked) { set({P::PanelLock}, locked); }
bool SimulatedDriver::isFrontPanelLockPinSupported() const { return core_->model->frontPanelLockPinSupported; }
std::uint16_t SimulatedDriver::getFrontPanelLockPin() const {
  return static_cast<std::uint16_t>(get<int>({P::PanelPin}));
}
void SimulatedDriver::setFrontPanelLockPin(std::uint16_t pin) { set({P::PanelPin}, static_cast<int>(pin)); }
PinRange SimulatedDriver::getFrontPanelLockPinRange() const { return core_->model->pinRange; }
bool SimulatedDriver::isIpAddressSupported() const { return true; }
std::string SimulatedDriver::getIpAddress() const {
  std::lock_guard lock(network_->state().mutex);
  return core_->measured.ipAddress;
}
bool SimulatedDriver::isMacAddressSupported() const { return true; }
std::string SimulatedDriver::getMacAddress() const {
  std::lock_guard lock(network_->state().mutex);
  return core_->measured.macAddress;
}

int SimulatedDriver::getChannelCount() const { return core_->model->channelCount; }
std::string SimulatedDriver::getChannelName(int channel) const {
  if (channel < 0 || channel >= core_->model->channelCount) return {};
  return fmt::format("Channel {}", static_cast<char>('A' + channel));
}
std::vector<std::string> SimulatedDriver::getChannelShortNames() const {
  std::vector<std::string> names;
  for (int ch = 0; ch < core_->model->channelCount; ++ch) names.emplace_back(1, static_cast<char>('A' + ch));
  return names;
}
std::string SimulatedDriver::getChannelCustomName(int channel) const {
  return get<std::string>({P::CustomName, channel});
}
void SimulatedDriver::setChannelCustomName(int channel, const std::string& name) {
  set({P::CustomName, channel}, name);
}
Connection SimulatedDriver::onChannelCustomNameChanged(int channel, std::function<void()> callback) {
  if (channel < 0 || at(channel) >= core_->customName.size()) return {};
  return core_->customName[at(channel)]->connect(std::move(callback));
}

bool SimulatedDriver::isDeviceIdSupported() const { return true; }
int SimulatedDriver::getDeviceIntId() const { return get<int>({P::DeviceIntId}); }
void SimulatedDriver::setDeviceIntId(int id) {
  if (id < 0 || id > 9999) throw std::out_of_range(fmt::format("Device id {} is outside 0 to 9999", id));
  set({P::DeviceIntId}, id);
}
std::string SimulatedDriver::getName() const { return get<std::string>({P::Name}); }
void SimulatedDriver::setName(const std::string& name) { set({P::Name}, name); }
bool SimulatedDriver::isFirmwareSupported() const { return true; }
std::string SimulatedDriver::getFirmware() const {
  std::lock_guard lock(network_->state().mutex);
  return core_->measured.firmware;
}
bool SimulatedDriver::isFirmwareDetailsSupported() const { return true; }
std::string SimulatedDriver::getFirmwareDetails() const {
  std::lock_guard lock(network_->state().mutex);
  return core_->measured.firmwareDetails;
}
bool SimulatedDriver::isFirmwareUpdateSupported() const { return core_->model->firmwareUpdateSupported; }
void SimulatedDriver::startFirmwareUpdate(const std::string& path) {
  auto& s = network_->state();
  std::lock_guard lock(s.mutex);
  s.startFirmwareUpdate(core_, path);
}
Connection SimulatedDriver::onFirmwareUpdateProgress(FirmwareCallback callback) {
  return core_->firmware.connect(std::move(callback));
}

bool SimulatedDriver::isPowerSupported() const { return true; }
bool SimulatedDriver::getPower() const { return get<bool>({P::Power}); }
void SimulatedDriver::setPower(bool on) { set({P::Power}, on); }
bool SimulatedDriver::isEcoSupported() const { return core_->model->ecoSupported; }
bool SimulatedDriver::isPowerOnDelaySupported() const { return core_->model->powerOnDelaySupported; }
double SimulatedDriver::getPowerOnDelay() const { return get<double>({P::PowerOnDelay}); }
void SimulatedDriver::setPowerOnDelay(double seconds) { set({P::PowerOnDelay}, seconds); }
Limits SimulatedDriver::getPowerOnDelayRange() const { return core_->model->powerOnDelay; }
bool SimulatedDriver::isBreakerSupported() const { return core_->model->breakerSupported; }
double SimulatedDriver::getBreakerCurrent() const { return get<double>({P::Breaker}); }
void SimulatedDriver::setBreakerCurrent(double amperes) { set({P::Breaker}, amperes); }
Limits SimulatedDriver::getBreakerRange() const { return core_->model->breaker; }

int SimulatedDriver::getGpioCount() const { return core_->model->gpioCount; }
int SimulatedDriver::getGpioMode(int gpio) const { return get<int>({P::GpioMode, gpio}); }
void SimulatedDriver::setGpioMode(int gpio, int mode) { set({P::GpioMode, gpio}, mode); }
bool SimulatedDriver::getGpoDigital(int gpio) const { return get<bool>({P::Gpo, gpio}); }
void SimulatedDriver::setGpoDigital(int gpio, bool on) { set({P::Gpo, gpio}, on); }

bool SimulatedDriver::isSampleRateSupported() const { return core_->model->sampleRateSupported; }
int SimulatedDriver::getSampleRate() const { return get<int>({P::SampleRate}); }
void SimulatedDriver::setSampleRate(int rate) { set({P::SampleRate}, rate); }
bool SimulatedDriver::isNetworkModeSupported() const { return core_->model->networkModeSupported; }
int SimulatedDriver::getNetworkMode() const { return get<int>({P::NetworkMode}); }
void SimulatedDriver::setNetworkMode(int mode) { set({P::NetworkMode}, mode); }
bool SimulatedDriver::isPortSupported(Port port) const { return core_->model->ports[at(static_cast<int>(port))]; }
PortState SimulatedDriver::getPortState(Port port) const {
  std::lock_guard lock(network_->state().mutex);
  return core_->measured.ports[at(static_cast<int>(port))];
}
int SimulatedDriver::getIpMode() const { return get<int>({P::IpMode}); }
void SimulatedDriver::setIpConfiguration(int mode, const std::string& ip, const std::string& gateway,
                                         const std::string& dns, int subnetMaskSize) {
  set({P::IpMode}, mode);
  set({P::IpConfiguration}, fmt::format("{}/{} gw {} dns {}", ip, subnetMaskSize, gateway, dns));
}

void SimulatedDriver::loadSpeakerSetting(int channel, const SpeakerSetting& setting) {
  auto& s = network_->state();
  std::lock_guard lock(s.mutex);
  if (sim::VirtualDevice* d = s.find(core_->physicalId);
      d && d->hasFault(SimulatedNetwork::Fault::SpeakerSettingRejected, channel))
    throw std::runtime_error("The device rejected speaker setting '" + setting.name + "'");
  s.write(core_, {P::SpeakerSetting, channel}, sim::Value(setting.dspChainId));
}
void SimulatedDriver::loadDspChain(int channel, const std::string& chainId) {
  loadSpeakerSetting(channel, SpeakerSetting{chainId, chainId});
}
void SimulatedDriver::checkSpeakerSetting(int channel, const SpeakerSetting& setting) {
  auto& s = network_->state();
  std::lock_guard lock(s.mutex);
  if (channel < 0 || channel >= core_->model->channelCount) return;
  // The device compares what it runs with what the project wants.
  const bool incorrect = sim::read<std::string>(core_->settings, {P::SpeakerSetting, channel}) != setting.dspChainId;
  if (core_->measured.speakerIncorrect[at(channel)] != incorrect) {
    core_->measured.speakerIncorrect[at(channel)] = incorrect;
    if (sim::VirtualDevice* d = s.find(core_->physicalId)) d->measured.speakerIncorrect[at(channel)] = incorrect;
    s.schedule(0, [&s, core = core_, channel] { s.emitChanged(core, DriverSignal::SpeakerSetting, channel); });
  }
}
bool SimulatedDriver::isSpeakerSettingIncorrect(int channel) const {
  std::lock_guard lock(network_->state().mutex);
  return item<bool>(core_->measured.speakerIncorrect, channel);
}

std::vector<std::string> SimulatedDriver::getPresetSlots() const { return core_->model->presetSlots; }
std::string SimulatedDriver::getActivePresetSlot() const { return get<std::string>({P::ActivePreset}); }
void SimulatedDriver::recallPreset(const std::string& slot) { set({P::ActivePreset}, slot); }
std::string SimulatedDriver::getStartUpPresetSlot() const { return get<std::string>({P::StartUpPreset}); }
void SimulatedDriver::setStartUpPresetSlot(const std::string& slot) { set({P::StartUpPreset}, slot); }
void SimulatedDriver::storePreset(const std::string& slot, const std::string& /*title*/) {
  set({P::ActivePreset}, slot);
}

bool SimulatedDriver::isGainSupported(int channel) const { return core_->model->isGainSupported(channel); }
bool SimulatedDriver::isGainReadOnly(int channel) const { return !core_->model->isGainSupported(channel); }
double SimulatedDriver::getGain(int channel) const { return get<double>({P::Gain, channel}); }
void SimulatedDriver::setGain(int channel, double db) { set({P::Gain, channel}, db); }
Limits SimulatedDriver::getGainLimits(int) const { return core_->model->gain; }
bool SimulatedDriver::isDriveModeSupported(int channel, int mode) const {
  const auto& modes = core_->model->driveModes;
  return channel >= 0 && channel < core_->model->channelCount &&
         std::find(modes.begin(), modes.end(), mode) != modes.end();
}
int SimulatedDriver::getDriveMode(int channel) const { return get<int>({P::DriveMode, channel}); }
void SimulatedDriver::setDriveMode(int channel, int mode) { set({P::DriveMode, channel}, mode); }
bool SimulatedDriver::getMute(int channel) const { return get<bool>({P::Mute, channel}); }
void SimulatedDriver::setMute(int channel, bool muted) { set({P::Mute, channel}, muted); }
double SimulatedDriver::getLevel(int channel) const { return get<double>({P::Level, channel}); }
void SimulatedDriver::setLevel(int channel, double db) { set({P::Level, channel}, db); }
bool SimulatedDriver::isTrimSupported() const { return core_->model->trimSupported; }
double SimulatedDriver::getTrim(int channel) const { return get<double>({P::Trim, channel}); }
void SimulatedDriver::setTrim(int channel, double db) { set({P::Trim, channel}, db); }
bool SimulatedDriver::isPolaritySupported() const { return core_->model->polaritySupported; }
bool SimulatedDriver::getPolarity(int channel) const { return get<bool>({P::Polarity, channel}); }
void SimulatedDriver::setPolarity(int channel, bool inverted) { set({P::Polarity, channel}, inverted); }
bool SimulatedDriver::isDelaySupported(ChannelType type) const {
  return core_->model->delaySupported[at(static_cast<int>(type))];
}
double SimulatedDriver::getDelayMax(ChannelType) const { return core_->model->delayMaxMs; }
double SimulatedDriver::getDelay(ChannelType type, int channel) const {
  return get<double>({P::Delay, static_cast<int>(type), channel});
}
void SimulatedDriver::setDelay(ChannelType type, int channel, double ms) {
  set({P::Delay, static_cast<int>(type), channel}, ms);
}
bool SimulatedDriver::getDelayBypass(ChannelType type, int channel) const {
  return get<bool>({P::DelayBypass, static_cast<int>(type), channel});
}
void SimulatedDriver::setDelayBypass(ChannelType type, int channel, bool bypassed) {
  set({P::DelayBypass, static_cast<int>(type), channel}, bypassed);
}
int SimulatedDriver::getEqFilterCount(ChannelType type) const {
  return isDelaySupported(type) ? core_->model->eqFiltersPerBank : 0;
}
EqFilter SimulatedDriver::getEqFilter(ChannelType type, int channel, int filter) const {
  return get<EqFilter>({P::Eq, static_cast<int>(type), channel, filter});
}
void SimulatedDriver::setEqFilter(ChannelType type, int channel, int filter, const EqFilter& value) {
  set({P::Eq, static_cast<int>(type), channel, filter}, value);
}
std::vector<InputSourceInfo> SimulatedDriver::getInputSources() const { return core_->model->inputSources; }
std::vector<int> SimulatedDriver::getSelectedInputSources(int channel, int routing) const {
  return get<std::vector<int>>({P::Routing, channel, routing});
}
void SimulatedDriver::setSelectedInputSources(int channel, int routing, const std::vector<int>& sources) {
  set({P::Routing, channel, routing}, sources);
}
bool SimulatedDriver::isFailoverTypeSupported(int type) const {
  const auto& types = core_->model->failoverTypes;
  return std::find(types.begin(), types.end(), type) != types.end();
}
FailoverConfig SimulatedDriver::getFailoverConfig() const { return get<FailoverConfig>({P::Failover}); }
void SimulatedDriver::setFailoverConfig(const FailoverConfig& config) { set({P::Failover}, config); }
bool SimulatedDriver::isOutputPilotSupported() const { return core_->model->outputPilotSupported; }
LoadState SimulatedDriver::getLoad(int channel) const {
  std::lock_guard lock(network_->state().mutex);
  LoadState load = sim::read<LoadState>(core_->settings, {P::LoadSettings, channel});
  const auto measured = item<LoadState>(core_->measured.loads, channel);
  load.impedance = measured.impedance;
  load.impedanceValid = measured.impedanceValid;
  load.voltage = measured.voltage;
  load.current = measured.current;
  return load;
}
void SimulatedDriver::setLoad(int channel, const LoadState& settings) { set({P::LoadSettings, channel}, settings); }
SignalGeneratorState SimulatedDriver::getSignalGenerator(int channel) const {
  return get<SignalGeneratorState>({P::SignalGenerator, channel});
}
void SimulatedDriver::setSignalGenerator(int channel, const SignalGeneratorState& state) {
  set({P::SignalGenerator, channel}, state);
}
MeterState SimulatedDriver::getMeter(int channel) const {
  std::lock_guard lock(network_->state().mutex);
  return item<MeterState>(core_->measured.meters, channel);
}

bool SimulatedDriver::isDeviceFlagAvailable(DeviceFlag flag) const {
  return core_->model->deviceFlags.test(at(static_cast<int>(flag)));
}
bool SimulatedDriver::isDeviceFlagCollectSupported(DeviceFlag flag) const {
  return core_->model->deviceFlagCollect.test(at(static_cast<int>(flag)));
}
bool SimulatedDriver::getDeviceFlagState(DeviceFlag flag) const {
  std::lock_guard lock(network_->state().mutex);
  return core_->measured.deviceFlags.test(at(static_cast<int>(flag)));
}
bool SimulatedDriver::getDeviceFlagCollect(DeviceFlag flag) const {
  return get<bool>({P::DeviceCollect, static_cast<int>(flag)});
}
void SimulatedDriver::setDeviceFlagCollect(DeviceFlag flag, bool collect) {
  set({P::DeviceCollect, static_cast<int>(flag)}, collect);
}
bool SimulatedDriver::isChannelFlagAvailable(ChannelFlag flag) const {
  return core_->model->channelFlags.test(at(static_cast<int>(flag)));
}
bool SimulatedDriver::isChannelFlagCollectSupported(ChannelFlag flag) const {
  return core_->model->channelFlagCollect.test(at(static_cast<int>(flag)));
}
bool SimulatedDriver::getChannelFlagState(int channel, ChannelFlag flag) const {
  std::lock_guard lock(network_->state().mutex);
  if (channel < 0 || at(channel) >= core_->measured.channelFlags.size()) return false;
  return core_->measured.channelFlags[at(channel)].test(at(static_cast<int>(flag)));
}
bool SimulatedDriver::getChannelFlagCollect(int channel, ChannelFlag flag) const {
  return get<bool>({P::ChannelCollect, channel, static_cast<int>(flag)});
}
void SimulatedDriver::setChannelFlagCollect(int channel, ChannelFlag flag, bool collect) {
  set({P::ChannelCollect, channel, static_cast<int>(flag)}, collect);
}
bool SimulatedDriver::isCollectedErrorHoldSupported() const { return core_->model->collectedErrorHoldSupported; }
bool SimulatedDriver::getCollectedErrorHold() const { return get<bool>({P::ErrorHold}); }
void SimulatedDriver::setCollectedErrorHold(bool hold) { set({P::ErrorHold}, hold); }
void SimulatedDriver::resetCollectedError() {
  // Clearing the hold on the device drops the errors it collected.
  const bool hold = getCollectedErrorHold();
  set({P::ErrorHold}, false);
  if (hold) set({P::ErrorHold}, true);
}

}  // namespace fennik::devices
