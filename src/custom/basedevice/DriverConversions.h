#pragma once
// Conversions between the driver's numbered values and the model's
// enumerations. An unknown value is logged and mapped to a default, so a
// device reporting something new never breaks the model.

#include "qor/server/entities/Enums.h"

#include <optional>
#include <string>
#include <utility>

namespace qor::server {

SampleRate sampleRateFromDriver(int value);
int sampleRateToDriver(SampleRate value);
NetworkMode networkModeFromDriver(int value);
int networkModeToDriver(NetworkMode value);
NetworkIPMode ipModeFromDriver(int value);
int ipModeToDriver(NetworkIPMode value);
FtGPIOMode gpioModeFromDriver(int value);
int gpioModeToDriver(FtGPIOMode value);

FtSignalGeneratorType signalGeneratorTypeFromDriver(int value);
int signalGeneratorTypeToDriver(FtSignalGeneratorType value);
FtSignalGeneratorMode signalGeneratorModeFromDriver(int value);
int signalGeneratorModeToDriver(FtSignalGeneratorMode value);
FtAmplifierDriveModeType driveModeFromDriver(int value);
int driveModeToDriver(FtAmplifierDriveModeType value);
FtEqFilterType eqFilterTypeFromDriver(int value);
int eqFilterTypeToDriver(FtEqFilterType value);
FtEqFilterSlopeType eqSlopeTypeFromDriver(int value);
int eqSlopeTypeToDriver(FtEqFilterSlopeType value);
FtInputSourceFamily sourceFamilyFromDriver(int value);
FtFailoverConfigType failoverTypeFromDriver(int value);
int failoverTypeToDriver(FtFailoverConfigType value);

// A connection phase and its fraction (0..1) as the online feature's
// progress and whether the device is online: phase 1 runs 0.1-0.2, phase 3
// 0.2-0.95, phase 4 0.95-1.0, phase 5 is online; any other phase is 0.
std::pair<double, bool> onlineProgress(int phase, float fraction);

// The driver's integer device id as shown: decimal, at least three digits.
std::string deviceIdText(int id);
// A shown device id back to the driver's integer; empty for text that is
// not a decimal number or does not fit.
std::optional<int> parseDeviceId(const std::string& text);

}  // namespace qor::server
