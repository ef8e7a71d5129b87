#include "custom/LivesoundController.h"

#include "qor/server/fbs/LivesoundCommands_generated.h"
#include "qor/server/services/IFtInputSourceService.h"
#include "qor/server/services/IFtPresetService.h"
#include "wire/Command.h"
#include "wire/WireConvert.h"

namespace qor::server {

using wire::addCommand;
using wire::CommandJob;
namespace cmd = fbs::cmd;

LivesoundController::LivesoundController(std::string route) : IFennikController(std::move(route)) {
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

  addCommand<cmd::InputSourceLabelChangedArgs>(
      *this, "/inputSourceLabelChanged",
      {cmd::InputSourceLabelChangedArgs::VT_INPUTSOURCE, cmd::InputSourceLabelChangedArgs::VT_LABEL},
      [](CommandJob& job, const cmd::InputSourceLabelChangedArgs& a) {
        job.service<IFtInputSourceService>().setLabel(job.entity<FtInputSource>(a.inputSource()),
                                                      wire::fromWire(a.label()), false);
      });

  addCommand<cmd::InputSourceTrimInDbChangedArgs>(
      *this, "/inputSourceTrimInDbChanged",
      {cmd::InputSourceTrimInDbChangedArgs::VT_INPUTSOURCE, cmd::InputSourceTrimInDbChangedArgs::VT_TRIMINDB},
      [](CommandJob& job, const cmd::InputSourceTrimInDbChangedArgs& a) {
        job.service<IFtInputSourceService>().setTrimInDb(job.entity<FtInputSource>(a.inputSource()), a.trimInDb(),
                                                         false);
      });
}

}  // namespace qor::server
