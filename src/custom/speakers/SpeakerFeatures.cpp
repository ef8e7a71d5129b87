#include "custom/speakers/SpeakerFeatures.h"

#include "custom/basedevice/FeatureShapes.h"
#include "service/FeatureServices.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/FtConnector.h"
#include "qor/server/entities/FtInputSource.h"
#include "qor/server/entities/FtLabel.h"
#include "qor/server/entities/FtSpeakerSetting.h"
#include "qor/server/services/FtConnectorService.h"

#include "fennik/server/service/ServiceResolver.h"

#include <string>

namespace qor::server {

namespace {

// A band's name on the canvas and in groups: its label, else its number.
std::string bandName(const fennik::common::speakerdb::Band& band, std::size_t index) {
  return band.label.empty() ? "Band " + std::to_string(index + 1) : band.label;
}

}  // namespace

void buildSpeakerFeatures(const fennik::server::ServiceResolver& r, Device* speaker, const ResolvedSpeakerMode& mode) {
  auto labels = serviceOf<FtLabel>(r);
  auto settings = serviceOf<FtSpeakerSetting>(r);
  auto connectors = r.get<FtConnectorService>();
  auto inputs = serviceOf<FtInputSource>(r);
  if (!speaker || !mode.variant || !labels || !settings || !connectors || !inputs) return;

  FtLabel* label = speaker->getLabel();
  FtSpeakerSetting* setting = createDeviceFeature(*settings, speaker);
  settings->setIsGeneric(setting, false, false);
  settings->setSpsFileLoadable(setting, true, false);
  settings->setName(setting, mode.preset->name, false);
  settings->setDescription(setting, speakerModeTitle(*mode.preset, *mode.variant), false);
  speaker->setSpeakerSetting(setting);

  FtConnector* connector = createDeviceFeature(*connectors, speaker);
  connectors->setPlacement(connector, FtConnectorPlacement::SPEAKER, false);
  connectors->setSubject(connector, speaker->id(), false);
  speaker->setConnector(connector);

  const auto& bands = mode.variant->bands;
  for (std::size_t i = 0; i < bands.size(); ++i) {
    const int index = static_cast<int>(i);
    FtLabel* channelLabel = nullptr;
    if (label) {
      channelLabel = createChannelFeature(*labels, label, index, nullptr);
      labels->setName(channelLabel, bandName(bands[i], i), false);
      labels->setShortName(channelLabel, bandName(bands[i], i), false);
    }
    FtSpeakerSetting* band = createChannelFeature(*settings, setting, index, channelLabel);
    settings->setIsGeneric(band, false, false);
    settings->setSpsFileLoadable(band, true, false);
    if (i < mode.chains.size() && mode.chains[i]) {
      settings->setName(band, mode.chains[i]->name, false);
      // Through the hand-written rule, which also sets the band type.
      settings->setSupposedSpeakerDbDspChainId(band, fennik::server::UuidToS(mode.chains[i]->id), false);
    }
    FtConnector* input = createChannelFeature(*connectors, connector, index, channelLabel);
    connectors->setPlacement(input, FtConnectorPlacement::SPEAKER_INPUT, false);
    connectors->setSubject(input, speaker->id(), false);
    connectors->setFilter(input, "{}", false);
  }

  FtInputSource* source = inputs->create();
  inputs->setSource(source, FtSource::DEVICE, false);
  inputs->setIsReactingOnRealAmpChannel(source, false, false);
  inputs->setLabel(source, "", false);
  speaker->setInputSource(source);
}

void removeSpeakerFeatures(const fennik::server::ServiceResolver& r, Device* speaker) {
  if (!speaker) return;
  if (FtSpeakerSetting* setting = speaker->getSpeakerSetting()) {
    speaker->setSpeakerSetting(nullptr);
    serviceOf<FtSpeakerSetting>(r)->destroy(setting);
  }
  if (FtConnector* connector = speaker->getConnector()) {
    speaker->setConnector(nullptr);
    r.get<FtConnectorService>()->destroy(connector);
  }
  if (FtInputSource* source = speaker->getInputSource()) {
    speaker->setInputSource(nullptr);
    serviceOf<FtInputSource>(r)->destroy(source);
  }
  // The band labels go with the bands; the device's own label stays.
  if (FtLabel* label = speaker->getLabel()) {
    auto labels = serviceOf<FtLabel>(r);
    const std::vector<FtLabel*> channels = label->childrens();
    for (FtLabel* channel : channels) labels->destroy(channel);
  }
}

}  // namespace qor::server
