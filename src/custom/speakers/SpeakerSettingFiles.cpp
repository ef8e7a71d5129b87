// SpeakerService: speaker settings that run SPS files, and what a speaker's
// inputs tell the connector dialogue about them.
#include "custom/speakers/SpeakerService.h"

#include "custom/speakers/SpsFileService.h"
#include "service/FeatureServices.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/DeviceType.h"
#include "qor/server/entities/FtConnector.h"
#include "qor/server/entities/FtSpeakerSetting.h"
#include "qor/server/services/FtConnectorService.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

#include <nlohmann/json.hpp>

namespace qor::server {

namespace {

auto logger() { return fennik::server::getLogger(fennik::server::MODULE_LOGGER); }

// The channel setting of a speaker that belongs to a channel connector.
FtSpeakerSetting* settingWithIndex(const FtSpeakerSetting* parent, int index) {
  for (FtSpeakerSetting* child : parent->childrens()) {
    if (child && child->getIndex() == index) return child;
  }
  return nullptr;
}

}  // namespace

void SpeakerService::updateConnectorFilters(Device* device) {
  if (!device || !device->getConnector() || !device->getType() || !device->getSpeakerSetting() ||
      device->getType()->getImplementation() != DeviceTypeImplementation::SPEAKER)
    return;
  auto connectors = services()->get<FtConnectorService>();
  for (FtConnector* input : device->getConnector()->childrens()) {
    const FtSpeakerSetting* setting = settingWithIndex(device->getSpeakerSetting(), input->getIndex());
    if (!setting) continue;
    nlohmann::json filter =
        nlohmann::json::parse(input->getFilter().empty() ? "{}" : input->getFilter(), nullptr, false);
    // A filter that is not ours to read stays as it is.
    if (!filter.is_object()) continue;
    filter["spsFileName"] = setting->getSupposedSpsFilePath();
    if (setting->getIsGeneric())
      filter["dspChainId"] = nlohmann::json::array({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    else
      filter["dspChainId"] = setting->getSupposedSpeakerDbDspChainId();
    const std::string text = filter.dump();
    if (input->getFilter() != text) connectors->setFilter(input, text, false);
  }
}

void SpeakerService::loadSpsIntoSpeakerSetting(FtSpeakerSetting* setting, const std::string& path) {
  if (!setting || !setting->getSpsFileLoadable() || path.empty()) return;
  auto sps = services()->get<SpsFileService>();
  const std::string name = SpsFileService::cachedName(path);
  if (!sps || !sps->loadSpeakerSettingFromCache(name)) {
    logger()->error("Couldn't load sps file");
    return;
  }
  auto settings = serviceOf<FtSpeakerSetting>(*services());
  // The setting runs the file instead of a database's chain: generic first,
  // so that the amplifier channel, told by the file name, loads the file.
  settings->setIsGeneric(setting, true, false);
  settings->setSupposedSpsFilePath(setting, name, false);

  // Which speaker inputs can take an SPS file now.
  auto connectors = services()->get<FtConnectorService>();
  for (Device* device : db()->all<Device>()) {
    if (device->getIsGroup() || !device->getSpeakerSetting() || !device->getConnector()) continue;
    for (FtConnector* input : device->getConnector()->childrens()) {
      const FtSpeakerSetting* channel = settingWithIndex(device->getSpeakerSetting(), input->getIndex());
      if (!channel) continue;
      const bool loadable = !channel->getIsGeneric() || !channel->getSupposedSpsFilePath().empty();
      if (input->getEnabled() != loadable) connectors->setEnabled(input, loadable, false);
    }
    updateConnectorFilters(device);
  }
}

}  // namespace qor::server
