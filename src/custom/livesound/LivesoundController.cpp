#include "custom/livesound/LivesoundController.h"

#include "custom/checks/ProjectCheckService.h"
#include "custom/livesound/LivesoundService.h"
#include "custom/prediction/PredictionImportService.h"
#include "custom/presets/AbPresetService.h"
#include "qor/server/entities/All.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"
#include "qor/server/services/IFtInputSourceService.h"
#include "qor/server/services/IFtPresetService.h"
#include "service/FtAudioService.h"
#include "service/FtChannelStateService.h"
#include "service/FtDelayService.h"
#include "service/FtDeviceStateRemoteDeviceService.h"
#include "service/FtDeviceStateService.h"
#include "service/FtEqFilterBankService.h"
#include "service/FtInputRoutingService.h"
#include "service/FtLoadService.h"
#include "service/FtPanelService.h"
#include "service/FtSignalGeneratorService.h"
#include "wire/Command.h"
#include "wire/WireConvert.h"

#include "fennik/server/core/CallSite.h"

namespace qor::server {

using wire::addCommand;
using wire::CommandJob;
namespace cmd = fbs::cmd;

namespace {

// The load commands differ only in the value they move: a load id and a step.
template <class Args>
void addLoadRelative(fennik::server::IFennikController& controller, const std::string& path,
                     void (FtLoadService::*set)(FtLoad*, double),
                     fennik::server::CallSite where = fennik::server::CallSite::current()) {
  addCommand<Args>(
      controller, path, {Args::VT_LOAD},
      [set](CommandJob& job, const Args& a) {
        (job.service<FtLoadService>().*set)(job.entity<FtLoad>(a.load()), a.step());
      },
      where);
}

fennik::server::Uuid uuidArg(const flatbuffers::String* text) {
  try {
    return fennik::server::UuidFromS(text ? text->string_view() : "");
  } catch (const std::invalid_argument&) {
    throw std::runtime_error("Not a uuid: '" + (text ? text->str() : std::string()) + "'");
  }
}

LivesoundVisualHighlightScope highlightScope(std::int32_t value) {
  if (value < static_cast<std::int32_t>(LivesoundVisualHighlightScope::NONE) ||
      value > static_cast<std::int32_t>(LivesoundVisualHighlightScope::CONNECTOR))
    throw std::runtime_error("Unknown highlight scope " + std::to_string(value));
  return static_cast<LivesoundVisualHighlightScope>(value);
}

// A key that names a check; anything else fails the job and changes nothing.
ProjectCheckKey projectCheckKey(std::int32_t value) {
  const auto key = static_cast<ProjectCheckKey>(value);
  if (key == ProjectCheckKey::NONE || !isKnownEnumValue(key))
    throw std::runtime_error("Unknown ProjectCheckKey " + std::to_string(value));
  return key;
}

}  // namespace

LivesoundController::LivesoundController(std::string route) : IFennikController(std::move(route)) {
  addCommand<cmd::LayerAddArgs>(*this, "/layerAdd", {}, [](CommandJob& job, const cmd::LayerAddArgs&) {
    Layer* layer = job.service<LivesoundService>().layerAdd();
    flatbuffers::FlatBufferBuilder b;
    b.Finish(cmd::CreateLayerAddResult(b, b.CreateString(layer->strId())));
    job.result().assign(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
  });

  addCommand<cmd::LayerSelectArgs>(*this, "/layerSelect", {cmd::LayerSelectArgs::VT_LAYER},
                                   [](CommandJob& job, const cmd::LayerSelectArgs& a) {
                                     job.service<LivesoundService>().layerSelect(job.entity<Layer>(a.layer()));
                                   });

  addCommand<cmd::VisualHighlightArgs>(*this, "/visualHighlight",
                                       {cmd::VisualHighlightArgs::VT_DEVICE, cmd::VisualHighlightArgs::VT_FEATURE},
                                       [](CommandJob& job, const cmd::VisualHighlightArgs& a) {
                                         job.service<LivesoundService>().visualHighlight(
                                             uuidArg(a.device()), uuidArg(a.feature()), highlightScope(a.scope()));
                                       });

  addCommand<cmd::PresetStoreArgs>(
      *this, "/presetStore",
      {cmd::PresetStoreArgs::VT_PRESET, cmd::PresetStoreArgs::VT_TITLE, cmd::PresetStoreArgs::VT_SLOT},
      [](CommandJob& job, const cmd::PresetStoreArgs& a) {
        auto* preset = job.entity<FtPreset>(a.preset());
        auto& presets = job.service<IFtPresetService>();
        presets.setStorePresetTitle(preset, wire::fromWire(a.title()), false);
        presets.setStorePresetSlot(preset, wire::fromWire(a.slot()), false);
      });

  addCommand<cmd::PresetRecallArgs>(*this, "/presetRecall",
                                    {cmd::PresetRecallArgs::VT_PRESET, cmd::PresetRecallArgs::VT_SLOT},
                                    [](CommandJob& job, const cmd::PresetRecallArgs& a) {
                                      job.service<IFtPresetService>().setActiveSlot(job.entity<FtPreset>(a.preset()),
                                                                                    wire::fromWire(a.slot()), false);
                                    });

  addCommand<cmd::PresetAssignDefaultArgs>(
      *this, "/presetAssignDefault", {cmd::PresetAssignDefaultArgs::VT_PRESET, cmd::PresetAssignDefaultArgs::VT_SLOT},
      [](CommandJob& job, const cmd::PresetAssignDefaultArgs& a) {
        job.service<IFtPresetService>().setStartUpSlot(job.entity<FtPreset>(a.preset()), wire::fromWire(a.slot()),
                                                       false);
      });

  addCommand<cmd::EqFilterBankFlattenArgs>(
      *this, "/eqFilterBankFlatten", {cmd::EqFilterBankFlattenArgs::VT_EQFILTERBANK},
      [](CommandJob& job, const cmd::EqFilterBankFlattenArgs& a) {
        job.service<FtEqFilterBankService>().flatten(job.entity<FtEqFilterBank>(a.eqFilterBank()), a.bypass());
      });

  // Selecting a source the routing already plays deselects it.
  addCommand<cmd::InputRoutingSelectArgs>(
      *this, "/inputRoutingSelect",
      {cmd::InputRoutingSelectArgs::VT_INPUTROUTING, cmd::InputRoutingSelectArgs::VT_INPUTSOURCE},
      [](CommandJob& job, const cmd::InputRoutingSelectArgs& a) {
        auto* routing = job.entity<FtInputRouting>(a.inputRouting());
        auto* source = job.entity<FtInputSource>(a.inputSource());
        auto& routings = job.service<FtInputRoutingService>();
        if (routings.isSelected(routing, source))
          routings.deSelectInputSource(routing, source);
        else
          routings.selectInputSource(routing, source);
      });

  addCommand<cmd::InputRoutingClearArgs>(
      *this, "/inputRoutingClear", {cmd::InputRoutingClearArgs::VT_INPUTROUTING},
      [](CommandJob& job, const cmd::InputRoutingClearArgs& a) {
        job.service<FtInputRoutingService>().clearInputRouting(job.entity<FtInputRouting>(a.inputRouting()));
      });

  addCommand<cmd::InputSourceLabelChangedArgs>(
      *this, "/inputSourceLabelChanged",
      {cmd::InputSourceLabelChangedArgs::VT_INPUTSOURCE, cmd::InputSourceLabelChangedArgs::VT_LABEL},
      [](CommandJob& job, const cmd::InputSourceLabelChangedArgs& a) {
        job.service<IFtInputSourceService>().setLabel(job.entity<FtInputSource>(a.inputSource()),
                                                      wire::fromWire(a.label()), false);
      });

  addCommand<cmd::InputSourceTrimInDbChangedArgs>(
      *this, "/inputSourceTrimInDbChanged", {cmd::InputSourceTrimInDbChangedArgs::VT_INPUTSOURCE},
      [](CommandJob& job, const cmd::InputSourceTrimInDbChangedArgs& a) {
        job.service<IFtInputSourceService>().setTrimInDb(job.entity<FtInputSource>(a.inputSource()), a.trimInDb(),
                                                         false);
      });

  addCommand<cmd::FtDeviceStateRemoteDeviceDebounceTimeRelativeArgs>(
      *this, "/ftDeviceStateRemoteDeviceDebounceTimeRelative",
      {cmd::FtDeviceStateRemoteDeviceDebounceTimeRelativeArgs::VT_REMOTEDEVICE},
      [](CommandJob& job, const cmd::FtDeviceStateRemoteDeviceDebounceTimeRelativeArgs& a) {
        job.service<FtDeviceStateRemoteDeviceService>().setDebounceTimeRelative(
            job.entity<FtDeviceStateRemoteDevice>(a.remoteDevice()), a.step());
      });

  addCommand<cmd::FtAudioLevelRelativeArgs>(*this, "/ftAudioLevelRelative", {cmd::FtAudioLevelRelativeArgs::VT_AUDIO},
                                            [](CommandJob& job, const cmd::FtAudioLevelRelativeArgs& a) {
                                              job.service<FtAudioService>().setLevelInDbRelative(
                                                  job.entity<FtAudio>(a.audio()), a.step(), false);
                                            });

  addCommand<cmd::FtAudioTrimRelativeArgs>(*this, "/ftAudioTrimRelative", {cmd::FtAudioTrimRelativeArgs::VT_AUDIO},
                                           [](CommandJob& job, const cmd::FtAudioTrimRelativeArgs& a) {
                                             job.service<FtAudioService>().setTrimInDbRelative(
                                                 job.entity<FtAudio>(a.audio()), a.step(), false);
                                           });

  addCommand<cmd::FtDelayRelativeArgs>(*this, "/ftDelayRelative", {cmd::FtDelayRelativeArgs::VT_DELAY},
                                       [](CommandJob& job, const cmd::FtDelayRelativeArgs& a) {
                                         job.service<FtDelayService>().setDelayInMsRelative(
                                             job.entity<FtDelay>(a.delay()), a.step());
                                       });

  addCommand<cmd::FtSignalGeneratorLevelRelativeArgs>(
      *this, "/ftSignalGeneratorLevelRelative", {cmd::FtSignalGeneratorLevelRelativeArgs::VT_SIGNALGENERATOR},
      [](CommandJob& job, const cmd::FtSignalGeneratorLevelRelativeArgs& a) {
        job.service<FtSignalGeneratorService>().setLevelInDbRelative(job.entity<FtSignalGenerator>(a.signalGenerator()),
                                                                     a.step());
      });

  addCommand<cmd::HoldCollectedErrorStateArgs>(
      *this, "/holdCollectedErrorState", {cmd::HoldCollectedErrorStateArgs::VT_DEVICESTATE},
      [](CommandJob& job, const cmd::HoldCollectedErrorStateArgs& a) {
        job.service<FtDeviceStateService>().setHoldCollectedError(job.entity<FtDeviceState>(a.deviceState()), a.hold());
      });

  addCommand<cmd::ResetCollectedErrorStateArgs>(
      *this, "/resetCollectedErrorState", {cmd::ResetCollectedErrorStateArgs::VT_DEVICESTATE},
      [](CommandJob& job, const cmd::ResetCollectedErrorStateArgs& a) {
        job.service<FtDeviceStateService>().resetCollectedError(job.entity<FtDeviceState>(a.deviceState()));
      });

  addCommand<cmd::DeviceStateCollectFlagArgs>(
      *this, "/deviceStateCollectFlag",
      {cmd::DeviceStateCollectFlagArgs::VT_DEVICESTATE, cmd::DeviceStateCollectFlagArgs::VT_FLAG},
      [](CommandJob& job, const cmd::DeviceStateCollectFlagArgs& a) {
        job.service<FtDeviceStateService>().collectFlag(job.entity<FtDeviceState>(a.deviceState()),
                                                        wire::fromWire(a.flag()), a.collect());
      });

  addCommand<cmd::ChannelStateCollectFlagArgs>(
      *this, "/channelStateCollectFlag",
      {cmd::ChannelStateCollectFlagArgs::VT_CHANNELSTATE, cmd::ChannelStateCollectFlagArgs::VT_FLAG},
      [](CommandJob& job, const cmd::ChannelStateCollectFlagArgs& a) {
        job.service<FtChannelStateService>().collectFlag(job.entity<FtChannelState>(a.channelState()),
                                                         wire::fromWire(a.flag()), a.collect());
      });

  addLoadRelative<cmd::FtLoadOutputPilotFreqRelativeArgs>(*this, "/ftLoadOutputPilotFreqRelative",
                                                          &FtLoadService::setOutputPilotFreqRelative);
  addLoadRelative<cmd::FtLoadOutputPilotLevelRelativeArgs>(*this, "/ftLoadOutputPilotLevelRelative",
                                                           &FtLoadService::setOutputPilotLevelRelative);
  addLoadRelative<cmd::FtLoadThresholdMinRelativeArgs>(*this, "/ftLoadThresholdMinRelative",
                                                       &FtLoadService::setThresholdMinRelative);
  addLoadRelative<cmd::FtLoadThresholdMaxRelativeArgs>(*this, "/ftLoadThresholdMaxRelative",
                                                       &FtLoadService::setThresholdMaxRelative);
  addLoadRelative<cmd::FtLoadThresholdMinEOLRelativeArgs>(*this, "/ftLoadThresholdMinEOLRelative",
                                                          &FtLoadService::setThresholdMinEOLRelative);
  addLoadRelative<cmd::FtLoadThresholdMaxEOLRelativeArgs>(*this, "/ftLoadThresholdMaxEOLRelative",
                                                          &FtLoadService::setThresholdMaxEOLRelative);

  addDeviceCommands(*this);
  addCanvasCommands(*this);
  addWiringCommands(*this);
  // --- devices on the network ---
  addCommand<cmd::StartRefreshDiscoveredDevicesArgs>(
      *this, "/startRefreshDiscoveredDevices", {}, [](CommandJob& job, const cmd::StartRefreshDiscoveredDevicesArgs&) {
        job.service<LivesoundService>().startRefreshDiscoveredDevices();
      });
  addCommand<cmd::OpenDanteControllerArgs>(*this, "/openDanteController", {},
                                           [](CommandJob& job, const cmd::OpenDanteControllerArgs&) {
                                             job.service<LivesoundService>().openDanteController();
                                           });
  // Speaker databases: the outcome reaches the user as a notification.
  addCommand<cmd::SpeakerDatabaseInstallFileArgs>(
      *this, "/speakerDatabaseInstallFile", {cmd::SpeakerDatabaseInstallFileArgs::VT_FILE},
      [](CommandJob& job, const cmd::SpeakerDatabaseInstallFileArgs& a) {
        job.service<LivesoundService>().speakerDatabaseInstallFile(
            std::string(reinterpret_cast<const char*>(a.file()->data()), a.file()->size()));
      });
  // --- speaker modes and speaker settings ---
  addCommand<cmd::SpeakerModeSetModeArgs>(
      *this, "/speakerModeSetMode", {cmd::SpeakerModeSetModeArgs::VT_SPEAKERMODE, cmd::SpeakerModeSetModeArgs::VT_MODE},
      [](CommandJob& job, const cmd::SpeakerModeSetModeArgs& a) {
        job.service<LivesoundService>().speakerModeSetMode(job.entity<FtSpeakerMode>(a.speakerMode()),
                                                           wire::fromWire(a.mode()));
      });
  addCommand<cmd::SpeakerSettingLoadSpsArgs>(
      *this, "/speakerSettingLoadSps",
      {cmd::SpeakerSettingLoadSpsArgs::VT_SPEAKERSETTING, cmd::SpeakerSettingLoadSpsArgs::VT_PATH},
      [](CommandJob& job, const cmd::SpeakerSettingLoadSpsArgs& a) {
        job.service<LivesoundService>().speakerSettingLoadSps(job.entity<FtSpeakerSetting>(a.speakerSetting()),
                                                              wire::fromWire(a.path()));
      });
  addCommand<cmd::SpeakerSettingClearArgs>(
      *this, "/speakerSettingClear", {cmd::SpeakerSettingClearArgs::VT_SPEAKERSETTING},
      [](CommandJob& job, const cmd::SpeakerSettingClearArgs& a) {
        job.service<LivesoundService>().speakerSettingClear(job.entity<FtSpeakerSetting>(a.speakerSetting()));
      });
  // --- panels ---
  addCommand<cmd::PanelStoreArgs>(*this, "/panelStore", {cmd::PanelStoreArgs::VT_PANEL, cmd::PanelStoreArgs::VT_JSON},
                                  [](CommandJob& job, const cmd::PanelStoreArgs& a) {
                                    FtPanel* panel = job.entity<FtPanel>(a.panel());
                                    const auto error = job.service<FtPanelService>().store(panel, a.json()->str());
                                    flatbuffers::FlatBufferBuilder b;
                                    if (error) {
                                      job.refuse();
                                      b.Finish(cmd::CreatePanelStoreResult(b, 0, b.CreateString(*error)));
                                    } else {
                                      b.Finish(cmd::CreatePanelStoreResult(b, b.CreateString(panel->getJson())));
                                    }
                                    job.result().assign(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
                                  });
  // --- A/B presets: what went wrong is logged by the service, the reply is 200 ---
  addCommand<cmd::AbPresetStoreArgs>(*this, "/abPresetStore", {cmd::AbPresetStoreArgs::VT_ENTITY},
                                     [](CommandJob& job, const cmd::AbPresetStoreArgs& a) {
                                       job.service<AbPresetService>().store(
                                           job.entity<fennik::server::Entity>(a.entity()), a.slot());
                                     });
  addCommand<cmd::AbPresetLoadArgs>(
      *this, "/abPresetLoad", {cmd::AbPresetLoadArgs::VT_ENTITY}, [](CommandJob& job, const cmd::AbPresetLoadArgs& a) {
        job.service<AbPresetService>().load(job.entity<fennik::server::Entity>(a.entity()), a.slot());
      });
  // --- prediction import: a refused file is answered 200 with the reason (and notified) ---
  addCommand<cmd::PredictionImportArgs>(
      *this, "/predictionImport", {cmd::PredictionImportArgs::VT_FILE},
      [](CommandJob& job, const cmd::PredictionImportArgs& a) {
        const auto outcome = job.service<PredictionImportService>().importFile(a.file()->str());
        flatbuffers::FlatBufferBuilder b;
        std::vector<flatbuffers::Offset<flatbuffers::String>> devices, settings;
        for (const auto* d : outcome.devices) devices.push_back(b.CreateString(d->strId()));
        for (const auto* s : outcome.dspSettings) settings.push_back(b.CreateString(s->strId()));
        b.Finish(cmd::CreatePredictionImportResult(b, outcome.imported,
                                                   outcome.problem.empty() ? 0 : b.CreateString(outcome.problem),
                                                   b.CreateVector(devices), b.CreateVector(settings)));
        job.result().assign(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
      });
  // --- project checks ---
  addCommand<cmd::ProjectCheckSetIgnoreArgs>(
      *this, "/projectCheckSetIgnore", {}, [](CommandJob& job, const cmd::ProjectCheckSetIgnoreArgs& a) {
        auto& checks = job.service<ProjectCheckService>();
        const ProjectCheckKey key = projectCheckKey(a.key());
        checks.projectCheckSetIgnore(key, a.ignored());
        const ProjectCheck* check = checks.getProjectCheck(key);
        flatbuffers::FlatBufferBuilder b;
        b.Finish(cmd::CreateProjectCheckSetIgnoreResult(b, b.CreateString(check->strId())));
        job.result().assign(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
      });
  mountInCommandOrder(*this);
}

}  // namespace qor::server
