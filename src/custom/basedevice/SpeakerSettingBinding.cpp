// FtSpeakerSetting: one per channel; a wanted setting is loaded into the
// driver, and the periodic check asks the device whether it still runs it.

#include "custom/basedevice/BaseDevice.h"
#include "custom/basedevice/FeatureShapes.h"
#include "custom/speakers/SpeakerSettingService.h"

#include "qor/server/entities/FtDeviceInfo.h"
#include "qor/server/entities/FtSpeakerSetting.h"
#include "qor/server/services/FtSpeakerSettingService.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/NotificationService.h"

#include <optional>

namespace qor::server {

using fennik::devices::DriverSignal;
using fennik::server::getLogger;
using fennik::server::MODULE_LOGGER;
using fennik::server::Uuid;

namespace {

// What the driver loads for a channel: the speaker data's conversion (an SPS
// file from the project's cache or a database's DSP chain); without speaker
// services, the chain id as it is.
std::optional<fennik::devices::SpeakerSetting> toSpeakerSetting(const SpeakerSettingService* converter,
                                                                const FtSpeakerSetting& setting) {
  return converter ? converter->toDriverSetting(setting) : SpeakerSettingService::byChainId(setting);
}

}  // namespace

void BaseDevice::createFtSpeakerSetting(Device* device) {
  auto settings = service<FtSpeakerSettingService>();
  Driver* d = device ? driver(device) : nullptr;
  if (!settings || !d) return;
  FtSpeakerSetting* parent = createDeviceFeature(*settings, device);
  for (int i = 0; i < d->getChannelCount(); ++i) {
    FtSpeakerSetting* child = createChannelFeature(*settings, parent, i, tryGetLabelByIndex(device, i));
    settings->setSpsFileLoadable(child, false, false);
    settings->setIsGeneric(child, false, false);
  }
  device->setSpeakerSetting(parent);
  connectFtSpeakerSetting(device);
}

void BaseDevice::connectFtSpeakerSetting(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  FtSpeakerSetting* parent = device ? device->getSpeakerSetting() : nullptr;
  if (!d || !parent) return;
  auto settings = service<FtSpeakerSettingService>();
  const Uuid deviceId = device->id();
  Refresh<FtSpeakerSetting> refresh = [settings](FtSpeakerSetting& e, Driver& drv) {
    for (FtSpeakerSetting* child : e.childrens()) {
      if (child) settings->setIsIncorrect(child, drv.isSpeakerSettingIncorrect(child->getIndex()), true);
    }
  };
  refresh(*parent, *d);
  onChangesOf<FtSpeakerSetting>(device, parent->childrens(),
                                [this, deviceId](FtSpeakerSetting& e, std::string_view key, bool external) {
                                  if (external || !isField(key, {FtSpeakerSetting::FIELD_SUPPOSEDSPEAKERDBDSPCHAINID,
                                                                 FtSpeakerSetting::FIELD_SUPPOSEDSPSFILEPATH}))
                                    return;
                                  loadSettingByFtSpeakerSetting(db()->get<Device>(deviceId), &e);
                                });
  reportInto<FtSpeakerSetting>(device, parent, DriverSignal::SpeakerSetting, refresh);
}

void BaseDevice::destroyFtSpeakerSetting(Device* device) {
  destroySlot<FtSpeakerSettingService>(device, &Device::getSpeakerSetting, &Device::setSpeakerSetting);
}

void BaseDevice::loadSettingByFtSpeakerSetting(Device* device, const FtSpeakerSetting* setting) const {
  if (!device || !setting) return;
  Driver* d = const_cast<BaseDevice*>(this)->driver(device);
  if (!d) return;
  const int channel = setting->getIndex();
  getLogger(MODULE_LOGGER)->debug("Trying to convert dsp chain to speaker setting");
  auto converted = toSpeakerSetting(service<SpeakerSettingService>().get(), *setting);
  // A setting that names nothing (cleared, or its file is gone) is not sent.
  if (!converted) return;
  try {
    getLogger(MODULE_LOGGER)->debug("Trying to load speaker setting");
    d->loadSpeakerSetting(channel, *converted);
  } catch (const std::exception& e) {
    getLogger(MODULE_LOGGER)->error("Driver couldn't load speaker setting: {}", e.what());
    const std::string title = device->getDeviceInfo() ? device->getDeviceInfo()->getName() : std::string();
    loop()->work([&](const std::shared_ptr<fennik::server::EntityContext>& context) {
      if (context->notifications())
        context->notifications()->create(title, "The speaker setting couldn't be loaded.",
                                         fennik::server::NotificationType::Error);
    });
  }
}

void BaseDevice::checkFtSpeakerSetting(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  FtSpeakerSetting* parent = device ? device->getSpeakerSetting() : nullptr;
  if (!d || !parent) return;
  const auto converter = service<SpeakerSettingService>();
  for (FtSpeakerSetting* child : parent->childrens()) {
    if (!child) continue;
    auto converted = toSpeakerSetting(converter.get(), *child);
    if (!converted) continue;
    try {
      d->checkSpeakerSetting(child->getIndex(), *converted);
    } catch (const std::exception& e) {
      getLogger(MODULE_LOGGER)->error("Check speaker setting failed: {}", e.what());
    }
  }
}

}  // namespace qor::server
