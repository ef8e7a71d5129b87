#pragma once
// What a driver keeps for its device while offline: every value a user can
// set (names, levels, mutes, gains, delays, equalisers, routing, ...), read
// and written through the FennikDevice interface alone, so it works for any
// driver. A project stores these settings per device, so that a driver made
// for a reopened project starts with what the design had, and going online
// writing sends the design, not a fresh driver's defaults.
//
// The JSON form is an object {"format": "driver-settings", "version": 1,
// "model": ..., ...} (docs/devices.md lists every key). Reading it checks
// everything against a driver of the same model (its channel count, what it
// supports, its ranges) and throws DriverSettingsError naming the key path
// and what is wrong; nothing is written to any driver by reading.

#include "fennik/devices/FennikDevice.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace simdjson::dom {
class element;
}

namespace fennik::devices {

class DriverSettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct DelaySettings {
  double ms = 0.0;
  bool bypass = false;
};

struct GpioSettings {
  int mode = 0;
  bool output = false;
};

// The part of a load the user sets (pilot tone and thresholds).
struct LoadSettings {
  bool pilotActive = false;
  double pilotFrequency = 0.0;
  double pilotLevel = 0.0;
  double thresholdMin = 0.0;
  double thresholdMax = 0.0;
  double thresholdMinEol = 0.0;
  double thresholdMaxEol = 0.0;
};

inline constexpr int CHANNEL_TYPE_COUNT = 3;
inline constexpr int ROUTING_COUNT = 2;

// Optional members are present only where the model offers the value.
struct ChannelSettings {
  std::string customName;
  std::optional<double> gain;
  std::optional<int> driveMode;
  bool mute = false;
  double level = 0.0;
  std::optional<double> trim;
  std::optional<bool> polarity;
  std::array<std::optional<DelaySettings>, CHANNEL_TYPE_COUNT> delays;  // by ChannelType
  std::array<std::vector<EqFilter>, CHANNEL_TYPE_COUNT> eq;             // by ChannelType
  // Selected input sources: default routing, failover routing (models with sources).
  std::optional<std::array<std::vector<int>, ROUTING_COUNT>> routing;
  LoadSettings load;
  SignalGeneratorState signalGenerator;
  std::vector<bool> flagCollect;  // by ChannelFlag
};

struct DriverSettings {
  std::string model;
  std::string name;
  int deviceIntId = 0;
  std::optional<bool> frontPanelLock;
  std::optional<std::uint16_t> frontPanelLockPin;
  std::optional<bool> power;
  std::optional<double> powerOnDelay;
  std::optional<double> breaker;
  std::optional<int> sampleRate;
  std::optional<int> networkMode;
  std::string startUpPresetSlot;
  std::optional<FailoverConfig> failover;
  std::optional<bool> collectedErrorHold;
  std::vector<bool> deviceFlagCollect;  // by DeviceFlag
  std::vector<GpioSettings> gpios;
  std::vector<ChannelSettings> channels;
};

using SettingsJson = nlohmann::ordered_json;

inline constexpr const char* DRIVER_SETTINGS_FORMAT = "driver-settings";
inline constexpr int DRIVER_SETTINGS_VERSION = 1;

// What the driver holds now.
DriverSettings readDriverSettings(const FennikDevice& driver);
// Hands every value to the driver (only what its model offers). A setter
// that throws is skipped; the returned lines say which and why.
std::vector<std::string> writeDriverSettings(const DriverSettings& settings, FennikDevice& driver);

// The JSON form as compact text (what dumping its tree writes). A value
// that has no JSON text (invalid UTF-8, NaN) is written repaired.
std::string driverSettingsText(const DriverSettings& settings);
// Verifies the document against `like`, a driver of the device's model.
// Missing keys keep the driver's own value (taken from `like`).
DriverSettings driverSettingsFromJson(const SettingsJson& document, const FennikDevice& like);
// The same, starting from `base` (what `like` holds, read once per model).
DriverSettings driverSettingsFromJson(const SettingsJson& document, const FennikDevice& like, DriverSettings base);
// The same from a document parsed by simdjson, read in place: no tree is
// built. Gives what reading the library's tree of the same text gives; a
// caller that wants the library's exact message for a refused document
// reads its tree again (the message may differ in how a number is shown).
DriverSettings driverSettingsFromDom(const simdjson::dom::element& document, const FennikDevice& like,
                                     DriverSettings base);
// The checks that need no driver: the document's format, version and model.
void checkDriverSettingsHeader(const SettingsJson& document);

}  // namespace fennik::devices
