#include "custom/basedevice/DriverConversions.h"

#include "fennik/server/core/Logging.h"

#include <fmt/format.h>

#include <charconv>

namespace qor::server {

namespace {

void unknown(const char* message) { fennik::server::getLogger(fennik::server::MODULE_LOGGER)->error(message); }

bool identityRange(int value, int lo, int hi) { return value >= lo && value <= hi; }

}  // namespace

SampleRate sampleRateFromDriver(int value) {
  switch (value) {
    case 0:
      return SampleRate::SR_48;
    case 1:
      return SampleRate::SR_96;
  }
  unknown("Not aware of this fennik::common::SampleRate");
  return SampleRate::SR_48;
}

int sampleRateToDriver(SampleRate value) {
  switch (value) {
    case SampleRate::SR_48:
      return 0;
    case SampleRate::SR_96:
      return 1;
    default:
      break;
  }
  unknown("Not aware of this qor::server::SampleRate");
  return 0;
}

NetworkMode networkModeFromDriver(int value) {
  switch (value) {
    case 0:
      return NetworkMode::NM_TRANSPARENT;
    case 1:
      return NetworkMode::NM_RSTP;
    case 2:
      return NetworkMode::NM_GLITCHFREE;
    case 3:
      return NetworkMode::NM_RSTPGLITCHFREE;
  }
  unknown("Unknown qor::server::NetworkMode is used");
  return NetworkMode::NM_RSTPGLITCHFREE;
}

int networkModeToDriver(NetworkMode value) {
  switch (value) {
    case NetworkMode::NM_TRANSPARENT:
      return 0;
    case NetworkMode::NM_RSTP:
      return 1;
    case NetworkMode::NM_GLITCHFREE:
      return 2;
    case NetworkMode::NM_RSTPGLITCHFREE:
      return 3;
    default:
      break;
  }
  unknown("Unknown qor::server::NetworkMode is used");
  return 1;
}

NetworkIPMode ipModeFromDriver(int value) {
  if (identityRange(value, 1, 3)) return static_cast<NetworkIPMode>(value);
  unknown("Unknown NetworkIPMode is used");
  return NetworkIPMode::UNKNOWN;
}

int ipModeToDriver(NetworkIPMode value) {
  const int v = static_cast<int>(value);
  if (identityRange(v, 1, 3)) return v;
  unknown("Unknown NetworkIPMode is used");
  return 0;
}

FtGPIOMode gpioModeFromDriver(int value) {
  if (identityRange(value, 0, 2)) return static_cast<FtGPIOMode>(value);
  unknown("Not aware of this qor::server::FtGPIOMode");
  return FtGPIOMode::ANALOG_IN;
}

int gpioModeToDriver(FtGPIOMode value) {
  const int v = static_cast<int>(value);
  if (identityRange(v, 0, 2)) return v;
  unknown("Not aware of this qor::server::FtGPIOMode");
  return 0;
}

FtSignalGeneratorType signalGeneratorTypeFromDriver(int value) {
  switch (value) {
    case 0:
      return FtSignalGeneratorType::SINE;
    case 1:
      return FtSignalGeneratorType::PINK_NOISE;
    case 2:
      return FtSignalGeneratorType::WHITE_NOISE;
  }
  unknown("Got fennik::common::SignalGeneratorType which we don't know about");
  return FtSignalGeneratorType::SINE;
}

int signalGeneratorTypeToDriver(FtSignalGeneratorType value) {
  switch (value) {
    case FtSignalGeneratorType::SINE:
      return 0;
    case FtSignalGeneratorType::PINK_NOISE:
      return 1;
    case FtSignalGeneratorType::WHITE_NOISE:
      return 2;
    default:
      break;
  }
  unknown("Got qor::server::FtSignalGeneratorType which we don't know about");
  return 0;
}

FtSignalGeneratorMode signalGeneratorModeFromDriver(int value) {
  if (identityRange(value, 0, 3)) return static_cast<FtSignalGeneratorMode>(value + 1);
  unknown("Got SignalGeneratorMode which we don't know about");
  return FtSignalGeneratorMode::PRE_SOLO;
}

int signalGeneratorModeToDriver(FtSignalGeneratorMode value) {
  const int v = static_cast<int>(value) - 1;
  if (identityRange(v, 0, 3)) return v;
  unknown("Got FtSignalGeneratorMode which we don't know about");
  return 0;
}

FtAmplifierDriveModeType driveModeFromDriver(int value) {
  if (identityRange(value, 0, 4)) return static_cast<FtAmplifierDriveModeType>(value + 1);
  unknown("Not aware of this fennik::common::AmplifierDriveMode");
  return FtAmplifierDriveModeType::DM_LOWZ;
}

int driveModeToDriver(FtAmplifierDriveModeType value) {
  const int v = static_cast<int>(value) - 1;
  if (identityRange(v, 0, 4)) return v;
  unknown("Not aware of this qor::server::FtAmplifierDriveModeType");
  return 0;
}

FtEqFilterType eqFilterTypeFromDriver(int value) {
  if (identityRange(value, 0, 5) || identityRange(value, 9, 12)) return static_cast<FtEqFilterType>(value);
  unknown("Got EqType we don't know about");
  return FtEqFilterType::PEQ;
}

int eqFilterTypeToDriver(FtEqFilterType value) {
  const int v = static_cast<int>(value);
  if (identityRange(v, 0, 5) || identityRange(v, 9, 12)) return v;
  unknown("Got qor::server::FtEqFilterType we don't know about");
  return 0;
}

FtEqFilterSlopeType eqSlopeTypeFromDriver(int value) {
  if (identityRange(value, 0, 2)) return static_cast<FtEqFilterSlopeType>(value);
  unknown("Got SlopeType we don't know about");
  return FtEqFilterSlopeType::NULL_DB;
}

int eqSlopeTypeToDriver(FtEqFilterSlopeType value) {
  const int v = static_cast<int>(value);
  if (identityRange(v, 0, 2)) return v;
  unknown("Got qor::server::FtEqFilterSlopeType we don't know about");
  return 0;
}

FtInputSourceFamily sourceFamilyFromDriver(int value) {
  if (identityRange(value, 0, 2)) return static_cast<FtInputSourceFamily>(value + 1);
  unknown("Unknown fennik::common::SourceFamily is used");
  return FtInputSourceFamily::UNKNOWN;
}

FtFailoverConfigType failoverTypeFromDriver(int value) {
  if (identityRange(value, 0, 3)) return static_cast<FtFailoverConfigType>(value);
  unknown("Unknown FtFailoverConfigType is used");
  return FtFailoverConfigType::FAILOVER_FALLBACK;
}

int failoverTypeToDriver(FtFailoverConfigType value) {
  const int v = static_cast<int>(value);
  if (identityRange(v, 0, 3)) return v;
  unknown("Unknown FtFailoverConfigType is used");
  return 0;
}

std::pair<double, bool> onlineProgress(int phase, float fraction) {
  const double f = fraction;
  switch (phase) {
    case 1:
      return {0.1 + 0.1 * f, false};
    case 3:
      return {0.2 + 0.75 * f, false};
    case 4:
      return {0.95 + 0.05 * f, false};
    case 5:
      return {1.0, true};
    default:
      return {0.0, false};
  }
}

std::string deviceIdText(int id) { return fmt::format("{:03}", id); }

std::optional<int> parseDeviceId(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

}  // namespace qor::server
