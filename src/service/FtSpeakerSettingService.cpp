#include "service/FtSpeakerSettingService.h"

#include "service/SpeakerDatabaseService.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/service/ServiceResolver.h"

namespace qor::server {

namespace {

auto logger() { return fennik::server::getLogger(fennik::server::MODULE_LOGGER); }

}  // namespace

std::optional<FtSpeakerSettingBandType> FtSpeakerSettingService::bandTypeOf(int acousticRole) {
  // The roles 0 to 8 of the speaker databases and the band types share their numbers.
  if (acousticRole >= static_cast<int>(FtSpeakerSettingBandType::NOT_APPLICABLE) &&
      acousticRole <= static_cast<int>(FtSpeakerSettingBandType::GRADIENT_REAR))
    return static_cast<FtSpeakerSettingBandType>(acousticRole);
  logger()->error("Unknown fennik::common::speakerdb::SpeakerBandAcousticRole is used! ({}, {}:{})", acousticRole,
                  __FILE__, __LINE__);
  return std::nullopt;
}

void FtSpeakerSettingService::setSupposedSpeakerDbDspChainId(FtSpeakerSetting* setting, const std::string& chainId,
                                                             bool external) {
  logger()->trace("qor::server::FtSpeakerSettingService::setSupposedSpeakerDbDspChainId");
  if (!setting) return;
  FtSpeakerSettingServiceBase::setSupposedSpeakerDbDspChainId(setting, chainId, external);
  if (chainId.empty()) return;
  auto databases = services() ? services()->get<SpeakerDatabaseService>() : nullptr;
  if (!databases) return;
  fennik::server::Uuid id;
  try {
    id = fennik::server::UuidFromS(chainId);
  } catch (const std::invalid_argument&) {
    logger()->warn("Speaker setting {}: '{}' is no DSP chain id", setting->strId(), chainId);
    return;
  }
  const auto* chain = databases->findDspChainById(id);
  if (!chain) return;
  if (auto bandType = bandTypeOf(chain->acousticRole)) setBandType(setting, *bandType, external);
}

void FtSpeakerSettingService::setAggregatedSpeakerDbDspChainId(FtSpeakerSetting* setting, const std::string& chainId,
                                                               bool external) {
  if (!setting) return;
  FtSpeakerSettingServiceBase::setAggregatedSpeakerDbDspChainId(setting, chainId, external);
}

}  // namespace qor::server
