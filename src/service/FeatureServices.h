#pragma once
// The service of each feature type, for code that works on many feature types
// alike (grouping, destroying a device's features).

#include "fennik/server/service/ServiceResolver.h"
#include "qor/server/services/FtAmplifierDriveModeService.h"
#include "qor/server/services/FtAmplifierGainService.h"
#include "qor/server/services/FtAmplifierModeService.h"
#include "qor/server/services/FtAudioService.h"
#include "qor/server/services/FtChannelStateService.h"
#include "qor/server/services/FtConnectorService.h"
#include "qor/server/services/FtDelayService.h"
#include "qor/server/services/FtDeviceInfoService.h"
#include "qor/server/services/FtDeviceStateService.h"
#include "qor/server/services/FtEqFilterBankService.h"
#include "qor/server/services/FtEqFilterService.h"
#include "qor/server/services/FtFailoverConfigService.h"
#include "qor/server/services/FtGPIOService.h"
#include "qor/server/services/FtInputRoutingService.h"
#include "qor/server/services/FtInputSourceService.h"
#include "qor/server/services/FtLabelService.h"
#include "qor/server/services/FtLoadService.h"
#include "qor/server/services/FtNetworkService.h"
#include "qor/server/services/FtOnlineService.h"
#include "qor/server/services/FtPanelService.h"
#include "qor/server/services/FtPowerService.h"
#include "qor/server/services/FtPresetService.h"
#include "qor/server/services/FtSignalGeneratorService.h"
#include "qor/server/services/FtSpeakerModeService.h"
#include "qor/server/services/FtSpeakerSettingService.h"
#include "qor/server/services/FtSupermeterService.h"

#include <memory>

namespace qor::server {

template <class E>
struct ServiceOf;
template <>
struct ServiceOf<FtAmplifierDriveMode> {
  using type = FtAmplifierDriveModeService;
};
template <>
struct ServiceOf<FtAmplifierGain> {
  using type = FtAmplifierGainService;
};
template <>
struct ServiceOf<FtAmplifierMode> {
  using type = FtAmplifierModeService;
};
template <>
struct ServiceOf<FtAudio> {
  using type = FtAudioService;
};
template <>
struct ServiceOf<FtChannelState> {
  using type = FtChannelStateService;
};
template <>
struct ServiceOf<FtConnector> {
  using type = FtConnectorService;
};
template <>
struct ServiceOf<FtDelay> {
  using type = FtDelayService;
};
template <>
struct ServiceOf<FtDeviceInfo> {
  using type = FtDeviceInfoService;
};
template <>
struct ServiceOf<FtDeviceState> {
  using type = FtDeviceStateService;
};
template <>
struct ServiceOf<FtEqFilterBank> {
  using type = FtEqFilterBankService;
};
template <>
struct ServiceOf<FtEqFilter> {
  using type = FtEqFilterService;
};
template <>
struct ServiceOf<FtFailoverConfig> {
  using type = FtFailoverConfigService;
};
template <>
struct ServiceOf<FtGPIO> {
  using type = FtGPIOService;
};
template <>
struct ServiceOf<FtInputRouting> {
  using type = FtInputRoutingService;
};
template <>
struct ServiceOf<FtInputSource> {
  using type = FtInputSourceService;
};
template <>
struct ServiceOf<FtLabel> {
  using type = FtLabelService;
};
template <>
struct ServiceOf<FtLoad> {
  using type = FtLoadService;
};
template <>
struct ServiceOf<FtNetwork> {
  using type = FtNetworkService;
};
template <>
struct ServiceOf<FtOnline> {
  using type = FtOnlineService;
};
template <>
struct ServiceOf<FtPanel> {
  using type = FtPanelService;
};
template <>
struct ServiceOf<FtPower> {
  using type = FtPowerService;
};
template <>
struct ServiceOf<FtPreset> {
  using type = FtPresetService;
};
template <>
struct ServiceOf<FtSignalGenerator> {
  using type = FtSignalGeneratorService;
};
template <>
struct ServiceOf<FtSpeakerMode> {
  using type = FtSpeakerModeService;
};
template <>
struct ServiceOf<FtSpeakerSetting> {
  using type = FtSpeakerSettingService;
};
template <>
struct ServiceOf<FtSupermeter> {
  using type = FtSupermeterService;
};

template <class E>
using ServiceOfT = typename ServiceOf<E>::type;

// The registered service of feature type E (null when it is missing).
template <class E>
std::shared_ptr<ServiceOfT<E>> serviceOf(const fennik::server::ServiceResolver& resolver) {
  return resolver.get<ServiceOfT<E>>();
}

}  // namespace qor::server
