// LivesoundService: speakers and speaker databases.
#include "custom/livesound/LivesoundLog.h"
#include "custom/livesound/LivesoundService.h"
#include "custom/speakers/ISpeakerDevices.h"
#include "custom/speakers/SpsFileService.h"
#include "service/SpeakerDatabaseService.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/FtDeviceInfo.h"
#include "qor/server/entities/FtSpeakerMode.h"
#include "qor/server/entities/FtSpeakerSetting.h"
#include "qor/server/services/DeviceService.h"
#include "qor/server/services/FtSpeakerSettingService.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/loop/QueuedAccessor.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/NotificationService.h"
#include "fennik/server/service/ServiceResolver.h"

#include <algorithm>

namespace qor::server {

void LivesoundService::speakerDatabaseInstallFile(const std::string& bytes) {
  LIVESOUND_TRACE("speakerDatabaseInstallFile");
  if (bytes.empty()) return;
  auto databases = services()->get<SpeakerDatabaseService>();
  const bool installed = databases && databases->install(bytes);
  if (installed) {
    if (auto speakers = services()->get<ISpeakerDevices>()) speakers->refreshSpeakers();
  }
  loop()->work([&](const std::shared_ptr<fennik::server::EntityContext>& context) {
    if (context->notifications())
      context->notifications()->create(
          "Speaker Database",
          installed ? "The database was installed successfully." : "The database couldn't be installed.",
          fennik::server::NotificationType::Info);
  });
}

void LivesoundService::speakerModeSetMode(FtSpeakerMode* mode, const std::string& modeId) {
  LIVESOUND_TRACE("speakerModeSetMode");
  if (!mode) return;
  auto speakers = services()->get<ISpeakerDevices>();
  if (!speakers) return;
  const auto all = db()->all<Device>();
  auto owner = std::find_if(all.begin(), all.end(), [mode](const Device* d) { return d->getSpeakerMode() == mode; });
  if (owner == all.end()) return;
  Device* device = *owner;
  // The speakers whose features change: the device, or a group's members.
  std::vector<Device*> speakersChanged{device};
  if (device->getIsGroup()) speakersChanged = device->childrenShareds();
  // Groups hold the members' features: they are emptied first and rebuilt
  // around the new ones afterwards.
  std::vector<Device*> groups;
  for (Device* speaker : speakersChanged) {
    for (Device* group : speaker->parents()) {
      if (group && std::find(groups.begin(), groups.end(), group) == groups.end()) groups.push_back(group);
    }
  }
  auto devices = services()->get<DeviceService>();
  // A group's name lives on its device info, which goes with its features.
  std::vector<std::string> names;
  for (Device* group : groups) {
    names.push_back(group->getDeviceInfo() ? group->getDeviceInfo()->getName() : std::string());
    devices->clearGroupFeatures(group);
  }
  for (Device* speaker : speakersChanged) disconnectAllConnectors(speaker);
  for (Device* speaker : speakersChanged) speakers->applySpeakerMode(speaker, modeId);
  for (std::size_t i = 0; i < groups.size(); ++i) {
    if (!db()->get<Device>(groups[i]->id())) continue;
    devices->revalidateGroup(groups[i]);
    if (FtDeviceInfo* info = groups[i]->getDeviceInfo()) info->setName(names[i], false);
  }
}

void LivesoundService::speakerSettingLoadSps(FtSpeakerSetting* setting, const std::string& path) {
  LIVESOUND_TRACE("speakerSettingLoadSps");
  if (!setting) return;
  auto sps = services()->get<SpsFileService>();
  auto speakers = services()->get<ISpeakerDevices>();
  const std::string cached = sps ? sps->storeSpsFileIntoProjectFileAndReturnCachedPath(path) : std::string();
  if (cached.empty() || !speakers) {
    livesound::log()->error("Couldn't load sps file");
    return;
  }
  speakers->loadSpsIntoSpeakerSetting(setting, cached);
}

void LivesoundService::speakerSettingClear(FtSpeakerSetting* setting) {
  LIVESOUND_TRACE("speakerSettingClear");
  if (!setting) return;
  auto settings = services()->get<FtSpeakerSettingService>();
  settings->setSupposedSpsFilePath(setting, "", false);
  settings->setIsGeneric(setting, false, false);
  // Without a chain of its own the channel is told to run none.
  if (setting->getSupposedSpeakerDbDspChainId().empty())
    settings->setSupposedSpeakerDbDspChainId(setting, fennik::server::NIL_UUID_TEXT, false);
  for (Device* device : db()->all<Device>()) {
    const FtSpeakerSetting* own = device->getSpeakerSetting();
    if (!own) continue;
    const auto& channels = own->childrens();
    if (own == setting || std::find(channels.begin(), channels.end(), setting) != channels.end()) {
      if (auto speakers = services()->get<ISpeakerDevices>()) speakers->updateConnectorFilters(device);
    }
  }
}

}  // namespace qor::server
