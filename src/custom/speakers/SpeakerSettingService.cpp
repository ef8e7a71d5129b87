#include "custom/speakers/SpeakerSettingService.h"

#include "custom/speakers/SpsFileService.h"
#include "service/SpeakerDatabaseService.h"

#include "qor/server/entities/FtSpeakerSetting.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/service/ServiceResolver.h"

namespace qor::server {

std::optional<fennik::devices::SpeakerSetting> SpeakerSettingService::byChainId(const FtSpeakerSetting& setting) {
  if (setting.getSupposedSpeakerDbDspChainId().empty()) return std::nullopt;
  return fennik::devices::SpeakerSetting{setting.getName(), setting.getSupposedSpeakerDbDspChainId()};
}

std::optional<fennik::devices::SpeakerSetting> SpeakerSettingService::toDriverSetting(
    const FtSpeakerSetting& setting) const {
  const std::string& file = setting.getSupposedSpsFilePath();
  const std::string& chainId = setting.getSupposedSpeakerDbDspChainId();
  if (!file.empty() && (setting.getIsGeneric() || chainId.empty())) {
    auto sps = services()->get<SpsFileService>();
    auto loaded = sps ? sps->loadSpeakerSettingFromCache(file) : std::nullopt;
    if (!loaded)
      fennik::server::getLogger(fennik::server::MODULE_LOGGER)
          ->error("Speaker setting {}: Couldn't load sps file {}", setting.strId(), file);
    return loaded;
  }
  if (chainId.empty()) return std::nullopt;
  auto databases = services()->get<SpeakerDatabaseService>();
  try {
    const fennik::server::Uuid id = fennik::server::UuidFromS(chainId);
    if (auto database = databases ? databases->getDatabaseForDspChain(id) : nullptr) {
      if (const auto* chain = database->findDspChain(id)) return database->dspChainToFennikSpeakerSetting(*chain);
    }
  } catch (const std::invalid_argument&) {
    // Not a database's chain id: handed on as it is.
  }
  return byChainId(setting);
}

}  // namespace qor::server
