#pragma once
// The device-driver interface. One driver object stands for one physical
// device on the audio network. Drivers talk to their device on their own
// threads and report through the signals below; a callback may be called on
// any thread, so a caller only hands the news on (for the server: posts a job
// to its event loop) and reads the value again with the getters, which may be
// called at any time from any thread.

#include <boost/signals2/connection.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fennik::devices {

using Connection = boost::signals2::connection;

// Groups of values that change together; a change signal names its group and
// the channel (or GPIO, port, flag) index it concerns, -1 for "all of them".
enum class DriverSignal {
  Identify,
  FrontPanelLock,
  FrontPanelLockPin,
  IpAddress,
  DeviceInfo,
  Power,
  Gpio,
  Network,
  Preset,
  SpeakerSetting,
  Gain,
  DriveMode,
  Audio,
  Delay,
  Eq,
  InputRouting,
  Failover,
  Load,
  SignalGenerator,
  Meter,
  State,
  Count
};

// Phases of going online, as reported by the connection-progress signal.
namespace phase {
inline constexpr int OFFLINE = 0;
inline constexpr int CONNECTING = 1;
inline constexpr int TRANSFERRING = 3;
inline constexpr int FINISHING = 4;
inline constexpr int ONLINE = 5;
}  // namespace phase

// States of a firmware update, as reported by the firmware-update signal.
namespace firmware {
inline constexpr int RUNNING = 11;
inline constexpr int FAILED = 12;
inline constexpr int SUCCEEDED = 13;
}  // namespace firmware

// The driver's own enumerations (numbered as on the device).
enum class ChannelType { User = 0, Array = 1, Input = 2 };
enum class Port { Primary = 0, Secondary = 1, Control = 2, Primary2 = 3, Secondary2 = 4 };
inline constexpr int PORT_COUNT = 5;
// Drive modes: 0 low impedance, 1 70 V, 2 100 V, 3 140 V, 4 200 V.
inline constexpr int DRIVE_MODE_COUNT = 5;
// GPIO modes: 0 analog in, 1 digital in, 2 digital out.
// Sample rates: 0 48 kHz, 1 96 kHz. Network modes: 0 transparent, 1 RSTP,
// 2 glitch-free, 3 RSTP glitch-free. IP modes: 1 link-local, 2 DHCP, 3 static.
// Signal generator types: 0 sine, 1 pink noise, 2 white noise; modes: 0 pre
// solo, 1 pre mix, 2 post solo, 3 post mix. Source families: 0 analog, 1 AES,
// 2 network audio. Failover types: 0 failover/fallback, 1 failover without
// fallback, 2 default static, 3 failover static.

enum class DeviceFlag {
  NotReady,
  MainsWarning,
  NetworkFail,
  FanFail,
  PanelUnlocked,
  Dsp96k,
  DanteGlitchfree,
  TelnetEnabled,
  TelnetActive,
  FirmwareUpdate,
  DeviceFault,
  SourceError,
  Gpio1,
  Gpio2,
  Gpio3,
  GpioFuseFail,
  Warning,
  Count
};

enum class ChannelFlag {
  InputFailover,
  Mute,
  ThermalWarning,
  GainReduction,
  Protect,
  LoadMin,
  LoadMax,
  OutputPilotFail,
  PilotMin,
  PilotMax,
  IncorrectSpeakerSetting,
  Warning,
  ErrorHold,
  Count
};

struct PinRange {
  std::uint16_t minimum = 0;
  std::uint16_t maximum = 0;
};

struct Limits {
  double minimum = 0.0;
  double maximum = 0.0;
  int decimals = 0;
};

struct PortState {
  std::string ipAddress;
  std::string macAddress;
  std::string status;
  int linkSpeedMbit = 0;
};

struct EqFilter {
  int type = 0;
  int slope = 0;
  bool bypass = true;
  double freqInHz = 1000.0;
  double freq2InHz = 1000.0;
  double gainInDb = 0.0;
  double quality = 0.7;
  double quality2 = 0.7;
};

struct InputSourceInfo {
  int family = 0;
  std::string label;
};

struct FailoverConfig {
  int failoverTime = 0;
  int fallbackTime = 0;
  int type = 0;
  int timeMinimum = 0;
  int timeMaximum = 0;
};

struct LoadState {
  double impedance = 0.0;
  bool impedanceValid = false;
  double voltage = 0.0;
  double current = 0.0;
  bool pilotActive = false;
  double pilotFrequency = 0.0;
  double pilotLevel = 0.0;
  double thresholdMin = 0.0;
  double thresholdMax = 0.0;
  double thresholdMinEol = 0.0;
  double thresholdMaxEol = 0.0;
};

struct SignalGeneratorState {
  bool active = false;
  double levelInDb = -20.0;
  double frequencyInHz = 1000.0;
  int mode = 0;
  int type = 1;
};

struct MeterState {
  double input = -80.0;
  double output = -80.0;
  double reduction = 0.0;
  bool limit = false;
  double impedance = 0.0;
  bool impedanceValid = false;
  bool impedanceOpen = false;
  bool impedanceShort = false;
};

// A speaker setting as the driver loads it into a channel.
struct SpeakerSetting {
  std::string name;
  std::string dspChainId;
};

// What every driver of a device on the network does, whatever the device
// is: it stands for one physical device (found by its physical id), goes
// online and offline through the connection phases, and identifies.
// Amplifier and matrix drivers (FennikDevice) and panel drivers
// (IPanelDriver) both build on it.
class NetworkDriver {
 public:
  using ProgressCallback = std::function<void(int phase, float fraction)>;

  virtual ~NetworkDriver() = default;

  // Identity.
  virtual std::string getModel() const = 0;
  virtual std::string getPhysicalDeviceId() const = 0;
  virtual void setPhysicalDeviceId(const std::string& id) = 0;

  // Online: read true takes the device's values, false writes the driver's.
  virtual void goOnline(bool read) = 0;
  virtual void goOffline() = 0;
  virtual bool isOnline() const = 0;
  virtual Connection onConnectionProgress(ProgressCallback callback) = 0;

  // Identify.
  virtual bool isIdentifyActive() const = 0;
  virtual void setIdentifyActive(bool active) = 0;
};

class FennikDevice : public NetworkDriver {
 public:
  using IndexCallback = std::function<void(int index)>;
  using FirmwareCallback = std::function<void(int state, float fraction, const std::string& message)>;

  // Change signal of one group of values.
  virtual Connection onChanged(DriverSignal group, IndexCallback callback) = 0;

  // Front panel.
  virtual bool isFrontPanelLockSupported() const = 0;
  virtual bool getFrontPanelLock() const = 0;
  virtual void setFrontPanelLock(bool locked) = 0;
  virtual bool isFrontPanelLockPinSupported() const = 0;
  virtual std::uint16_t getFrontPanelLockPin() const = 0;
  virtual void setFrontPanelLockPin(std::uint16_t pin) = 0;
  virtual PinRange getFrontPanelLockPinRange() const = 0;

  // Addresses.
  virtual bool isIpAddressSupported() const = 0;
  virtual std::string getIpAddress() const = 0;
  virtual bool isMacAddressSupported() const = 0;
  virtual std::string getMacAddress() const = 0;

  // Channels.
  virtual int getChannelCount() const = 0;
  virtual std::string getChannelName(int channel) const = 0;
  virtual std::vector<std::string> getChannelShortNames() const = 0;
  virtual std::string getChannelCustomName(int channel) const = 0;
  virtual void setChannelCustomName(int channel, const std::string& name) = 0;
  virtual Connection onChannelCustomNameChanged(int channel, std::function<void()> callback) = 0;

  // Device info and firmware.
  virtual bool isDeviceIdSupported() const = 0;
  virtual int getDeviceIntId() const = 0;
  // Throws std::out_of_range for an id the device cannot take.
  virtual void setDeviceIntId(int id) = 0;
  virtual std::string getName() const = 0;
  virtual void setName(const std::string& name) = 0;
  virtual bool isFirmwareSupported() const = 0;
  virtual std::string getFirmware() const = 0;
  virtual bool isFirmwareDetailsSupported() const = 0;
  virtual std::string getFirmwareDetails() const = 0;
  virtual bool isFirmwareUpdateSupported() const = 0;
  // Throws std::runtime_error when the device is offline or the file is unusable.
  virtual void startFirmwareUpdate(const std::string& path) = 0;
  virtual Connection onFirmwareUpdateProgress(FirmwareCallback callback) = 0;

  // Power.
  virtual bool isPowerSupported() const = 0;
  virtual bool getPower() const = 0;
  virtual void setPower(bool on) = 0;
  virtual bool isEcoSupported() const = 0;
  virtual bool isPowerOnDelaySupported() const = 0;
  virtual double getPowerOnDelay() const = 0;
  virtual void setPowerOnDelay(double seconds) = 0;
  virtual Limits getPowerOnDelayRange() const = 0;
  virtual bool isBreakerSupported() const = 0;
  virtual double getBreakerCurrent() const = 0;
  virtual void setBreakerCurrent(double amperes) = 0;
  virtual Limits getBreakerRange() const = 0;

  // GPIO.
  virtual int getGpioCount() const = 0;
  virtual int getGpioMode(int gpio) const = 0;
  virtual void setGpioMode(int gpio, int mode) = 0;
  virtual bool getGpoDigital(int gpio) const = 0;
  virtual void setGpoDigital(int gpio, bool on) = 0;

  // Network.
  virtual bool isSampleRateSupported() const = 0;
  virtual int getSampleRate() const = 0;
  virtual void setSampleRate(int rate) = 0;
  virtual bool isNetworkModeSupported() const = 0;
  virtual int getNetworkMode() const = 0;
  virtual void setNetworkMode(int mode) = 0;
  virtual bool isPortSupported(Port port) const = 0;
  virtual PortState getPortState(Port port) const = 0;
  virtual int getIpMode() const = 0;
  virtual void setIpConfiguration(int mode, const std::string& ip, const std::string& gateway, const std::string& dns,
                                  int subnetMaskSize) = 0;

  // Speaker settings. Loading throws std::runtime_error when the device refuses.
  virtual void loadSpeakerSetting(int channel, const SpeakerSetting& setting) = 0;
  virtual void loadDspChain(int channel, const std::string& chainId) = 0;
  virtual void checkSpeakerSetting(int channel, const SpeakerSetting& setting) = 0;
  virtual bool isSpeakerSettingIncorrect(int channel) const = 0;

  // Presets: named slots on the device.
  virtual std::vector<std::string> getPresetSlots() const = 0;
  virtual std::string getActivePresetSlot() const = 0;
  virtual void recallPreset(const std::string& slot) = 0;
  virtual std::string getStartUpPresetSlot() const = 0;
  virtual void setStartUpPresetSlot(const std::string& slot) = 0;
  virtual void storePreset(const std::string& slot, const std::string& title) = 0;

  // Amplifier: gain.
  virtual bool isGainSupported(int channel) const = 0;
  virtual bool isGainReadOnly(int channel) const = 0;
  virtual double getGain(int channel) const = 0;
  virtual void setGain(int channel, double db) = 0;
  virtual Limits getGainLimits(int channel) const = 0;

  // Amplifier: drive mode.
  virtual bool isDriveModeSupported(int channel, int mode) const = 0;
  virtual int getDriveMode(int channel) const = 0;
  virtual void setDriveMode(int channel, int mode) = 0;

  // Amplifier: audio.
  virtual bool getMute(int channel) const = 0;
  virtual void setMute(int channel, bool muted) = 0;
  virtual double getLevel(int channel) const = 0;
  virtual void setLevel(int channel, double db) = 0;
  virtual bool isTrimSupported() const = 0;
  virtual double getTrim(int channel) const = 0;
  virtual void setTrim(int channel, double db) = 0;
  virtual bool isPolaritySupported() const = 0;
  virtual bool getPolarity(int channel) const = 0;
  virtual void setPolarity(int channel, bool inverted) = 0;

  // Amplifier: delays per channel type.
  virtual bool isDelaySupported(ChannelType type) const = 0;
  virtual double getDelayMax(ChannelType type) const = 0;
  virtual double getDelay(ChannelType type, int channel) const = 0;
  virtual void setDelay(ChannelType type, int channel, double ms) = 0;
  virtual bool getDelayBypass(ChannelType type, int channel) const = 0;
  virtual void setDelayBypass(ChannelType type, int channel, bool bypassed) = 0;

  // Amplifier: equaliser filters per channel type and channel.
  virtual int getEqFilterCount(ChannelType type) const = 0;
  virtual EqFilter getEqFilter(ChannelType type, int channel, int filter) const = 0;
  virtual void setEqFilter(ChannelType type, int channel, int filter, const EqFilter& value) = 0;

  // Amplifier: input sources and routing (routing 0 default, 1 failover).
  virtual std::vector<InputSourceInfo> getInputSources() const = 0;
  virtual std::vector<int> getSelectedInputSources(int channel, int routing) const = 0;
  virtual void setSelectedInputSources(int channel, int routing, const std::vector<int>& sources) = 0;

  // Amplifier: failover.
  virtual bool isFailoverTypeSupported(int type) const = 0;
  virtual FailoverConfig getFailoverConfig() const = 0;
  virtual void setFailoverConfig(const FailoverConfig& config) = 0;

  // Amplifier: loads and pilot tones.
  virtual bool isOutputPilotSupported() const = 0;
  virtual LoadState getLoad(int channel) const = 0;
  virtual void setLoad(int channel, const LoadState& settings) = 0;

  // Amplifier: signal generator.
  virtual SignalGeneratorState getSignalGenerator(int channel) const = 0;
  virtual void setSignalGenerator(int channel, const SignalGeneratorState& state) = 0;

  // Amplifier: supermeter.
  virtual MeterState getMeter(int channel) const = 0;

  // Device and channel state flags.
  virtual bool isDeviceFlagAvailable(DeviceFlag flag) const = 0;
  virtual bool isDeviceFlagCollectSupported(DeviceFlag flag) const = 0;
  virtual bool getDeviceFlagState(DeviceFlag flag) const = 0;
  virtual bool getDeviceFlagCollect(DeviceFlag flag) const = 0;
  virtual void setDeviceFlagCollect(DeviceFlag flag, bool collect) = 0;
  virtual bool isChannelFlagAvailable(ChannelFlag flag) const = 0;
  virtual bool isChannelFlagCollectSupported(ChannelFlag flag) const = 0;
  virtual bool getChannelFlagState(int channel, ChannelFlag flag) const = 0;
  virtual bool getChannelFlagCollect(int channel, ChannelFlag flag) const = 0;
  virtual void setChannelFlagCollect(int channel, ChannelFlag flag, bool collect) = 0;
  virtual bool isCollectedErrorHoldSupported() const = 0;
  virtual bool getCollectedErrorHold() const = 0;
  virtual void setCollectedErrorHold(bool hold) = 0;
  virtual void resetCollectedError() = 0;
};

}  // namespace fennik::devices
