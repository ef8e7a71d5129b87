#pragma once
// The driver of a simulated device: a FennikDevice that reaches its device
// through the simulated network. Offline it keeps what it is told; online,
// writes travel to the device and come back as change reports.

#include "fennik/devices/FennikDevice.h"

#include <memory>
#include <mutex>

namespace fennik::devices {

class SimulatedNetwork;
namespace sim {
struct DriverCore;
struct Key;
}  // namespace sim

class SimulatedDriver final : public FennikDevice {
 public:
  SimulatedDriver(std::shared_ptr<SimulatedNetwork> network, std::shared_ptr<sim::DriverCore> core);
  ~SimulatedDriver() override;

  std::string getModel() const override;
  std::string getPhysicalDeviceId() const override;
  void setPhysicalDeviceId(const std::string& id) override;
  void goOnline(bool read) override;
  void goOffline() override;
  bool isOnline() const override;
  Connection onConnectionProgress(ProgressCallback callback) override;
  Connection onChanged(DriverSignal group, IndexCallback callback) override;

  bool isIdentifyActive() const override;
  void setIdentifyActive(bool active) override;
  bool isFrontPanelLockSupported() const override;
  bool getFrontPanelLock() const override;
  void setFrontPanelLock(bool locked) override;
  bool isFrontPanelLockPinSupported() const override;
  std::uint16_t getFrontPanelLockPin() const override;
  void setFrontPanelLockPin(std::uint16_t pin) override;
  PinRange getFrontPanelLockPinRange() const override;
  bool isIpAddressSupported() const override;
  std::string getIpAddress() const override;
  bool isMacAddressSupported() const override;
  std::string getMacAddress() const override;

  int getChannelCount() const override;
  std::string getChannelName(int channel) const override;
  std::vector<std::string> getChannelShortNames() const override;
  std::string getChannelCustomName(int channel) const override;
  void setChannelCustomName(int channel, const std::string& name) override;
  Connection onChannelCustomNameChanged(int channel, std::function<void()> callback) override;

  bool isDeviceIdSupported() const override;
  int getDeviceIntId() const override;
  void setDeviceIntId(int id) override;
  std::string getName() const override;
  void setName(const std::string& name) override;
  bool isFirmwareSupported() const override;
  std::string getFirmware() const override;
  bool isFirmwareDetailsSupported() const override;
  std::string getFirmwareDetails() const override;
  bool isFirmwareUpdateSupported() const override;
  void startFirmwareUpdate(const std::string& path) override;
  Connection onFirmwareUpdateProgress(FirmwareCallback callback) override;

  bool isPowerSupported() const override;
  bool getPower() const override;
  void setPower(bool on) override;
  bool isEcoSupported() const override;
  bool isPowerOnDelaySupported() const override;
  double getPowerOnDelay() const override;
  void setPowerOnDelay(double seconds) override;
  Limits getPowerOnDelayRange() const override;
  bool isBreakerSupported() const override;
  double getBreakerCurrent() const override;
  void setBreakerCurrent(double amperes) override;
  Limits getBreakerRange() const override;

  int getGpioCount() const override;
  int getGpioMode(int gpio) const override;
  void setGpioMode(int gpio, int mode) override;
  bool getGpoDigital(int gpio) const override;
  void setGpoDigital(int gpio, bool on) override;

  bool isSampleRateSupported() const override;
  int getSampleRate() const override;
  void setSampleRate(int rate) override;
  bool isNetworkModeSupported() const override;
  int getNetworkMode() const override;
  void setNetworkMode(int mode) override;
  bool isPortSupported(Port port) const override;
  PortState getPortState(Port port) const override;
  int getIpMode() const override;
  void setIpConfiguration(int mode, const std::string& ip, const std::string& gateway, const std::string& dns,
                          int subnetMaskSize) override;

  void loadSpeakerSetting(int channel, const SpeakerSetting& setting) override;
  void loadDspChain(int channel, const std::string& chainId) override;
  void checkSpeakerSetting(int channel, const SpeakerSetting& setting) override;
  bool isSpeakerSettingIncorrect(int channel) const override;

  std::vector<std::string> getPresetSlots() const override;
  std::string getActivePresetSlot() const override;
  void recallPreset(const std::string& slot) override;
  std::string getStartUpPresetSlot() const override;
  void setStartUpPresetSlot(const std::string& slot) override;
  void storePreset(const std::string& slot, const std::string& title) override;

  bool isGainSupported(int channel) const override;
  bool isGainReadOnly(int channel) const override;
  double getGain(int channel) const override;
  void setGain(int channel, double db) override;
  Limits getGainLimits(int channel) const override;
  bool isDriveModeSupported(int channel, int mode) const override;
  int getDriveMode(int channel) const override;
  void setDriveMode(int channel, int mode) override;
  bool getMute(int channel) const override;
  void setMute(int channel, bool muted) override;
  double getLevel(int channel) const override;
  void setLevel(int channel, double db) override;
  bool isTrimSupported() const override;
  double getTrim(int channel) const override;
  void setTrim(int channel, double db) override;
  bool isPolaritySupported() const override;
  bool getPolarity(int channel) const override;
  void setPolarity(int channel, bool inverted) override;
  bool isDelaySupported(ChannelType type) const override;
  double getDelayMax(ChannelType type) const override;
  double getDelay(ChannelType type, int channel) const override;
  void setDelay(ChannelType type, int channel, double ms) override;
  bool getDelayBypass(ChannelType type, int channel) const override;
  void setDelayBypass(ChannelType type, int channel, bool bypassed) override;
  int getEqFilterCount(ChannelType type) const override;
  EqFilter getEqFilter(ChannelType type, int channel, int filter) const override;
  void setEqFilter(ChannelType type, int channel, int filter, const EqFilter& value) override;
  std::vector<InputSourceInfo> getInputSources() const override;
  std::vector<int> getSelectedInputSources(int channel, int routing) const override;
  void setSelectedInputSources(int channel, int routing, const std::vector<int>& sources) override;
  bool isFailoverTypeSupported(int type) const override;
  FailoverConfig getFailoverConfig() const override;
  void setFailoverConfig(const FailoverConfig& config) override;
  bool isOutputPilotSupported() const override;
  LoadState getLoad(int channel) const override;
  void setLoad(int channel, const LoadState& settings) override;
  SignalGeneratorState getSignalGenerator(int channel) const override;
  void setSignalGenerator(int channel, const SignalGeneratorState& state) override;
  MeterState getMeter(int channel) const override;

  bool isDeviceFlagAvailable(DeviceFlag flag) const override;
  bool isDeviceFlagCollectSupported(DeviceFlag flag) const override;
  bool getDeviceFlagState(DeviceFlag flag) const override;
  bool getDeviceFlagCollect(DeviceFlag flag) const override;
  void setDeviceFlagCollect(DeviceFlag flag, bool collect) override;
  bool isChannelFlagAvailable(ChannelFlag flag) const override;
  bool isChannelFlagCollectSupported(ChannelFlag flag) const override;
  bool getChannelFlagState(int channel, ChannelFlag flag) const override;
  bool getChannelFlagCollect(int channel, ChannelFlag flag) const override;
  void setChannelFlagCollect(int channel, ChannelFlag flag, bool collect) override;
  bool isCollectedErrorHoldSupported() const override;
  bool getCollectedErrorHold() const override;
  void setCollectedErrorHold(bool hold) override;
  void resetCollectedError() override;

 private:
  template <class T>
  T get(const sim::Key& key) const;
  template <class T>
  void set(const sim::Key& key, T value);

  std::shared_ptr<SimulatedNetwork> network_;
  std::shared_ptr<sim::DriverCore> core_;
};

}  // namespace fennik::devices
