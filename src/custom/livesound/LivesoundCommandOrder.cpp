// The order in which the livesound route registers its commands: the order of
// the command reference in docs/protocol.md. Commands are declared per
// subsystem in their own files; the controller mounts them in this order.
#include "custom/livesound/LivesoundController.h"

#include <stdexcept>

namespace qor::server {

const std::vector<std::string>& livesoundCommandOrder() {
  static const std::vector<std::string> order{
      "/sessionSetSelectionMode",
      "/deviceCatalogQuery",
      "/discoveredDeviceAdd",
      "/discoveredDeviceAddAll",
      "/discoveredDeviceAddExtended",
      "/deviceAdd",
      "/deviceRemove",
      "/layerAdd",
      "/layerSelect",
      "/visualItemSelect",
      "/visualItemAlignSelected",
      "/visualItemMoveSelected",
      "/visualItemRotateSelected",
      "/visualItemGroupSelected",
      "/visualItemUngroupSelected",
      "/visualItemDestroySelected",
      "/visualItemCopySelected",
      "/visualItemPaste",
      "/visualItemDuplicateSelected",
      "/visualItemDeviceForSelected",
      "/visualItemResize",
      "/visualItemSetVisibleInLayer",
      "/visualItemChangeLayerMembershipOfSelection",
      "/visualHighlight",
      "/speakerSettingClear",
      "/speakerSettingLoadSps",
      "/firmwareLoadFW",
      "/amplifierModeActivate",
      "/speakerModeSetMode",
      "/predictionImport",
      "/presetStore",
      "/presetRecall",
      "/presetAssignDefault",
      "/eqFilterBankFlatten",
      "/abPresetStore",
      "/abPresetLoad",
      "/inputRoutingSelect",
      "/inputRoutingClear",
      "/inputSourceLabelChanged",
      "/inputSourceTrimInDbChanged",
      "/connectorStart",
      "/connectorConnect",
      "/connectorFinish",
      "/ftDeviceStateRemoteDeviceDebounceTimeRelative",
      "/ftAudioLevelRelative",
      "/ftAudioTrimRelative",
      "/ftDelayRelative",
      "/ftSignalGeneratorLevelRelative",
      "/deviceMappingSearch",
      "/deviceMappingLoad",
      "/deviceMappingLoadAutomaticByDeviceId",
      "/deviceMappingClear",
      "/testcaseBarrier",
      "/projectCheckSetIgnore",
      "/speakerDatabaseInstallFile",
      "/deviceGroupEmbed",
      "/setDeviceFind",
      "/startRefreshDiscoveredDevices",
      "/openDanteController",
      "/holdCollectedErrorState",
      "/resetCollectedErrorState",
      "/deviceStateCollectFlag",
      "/channelStateCollectFlag",
      "/ftLoadOutputPilotFreqRelative",
      "/ftLoadOutputPilotLevelRelative",
      "/ftLoadThresholdMinRelative",
      "/ftLoadThresholdMaxRelative",
      "/ftLoadThresholdMinEOLRelative",
      "/ftLoadThresholdMaxEOLRelative",
      "/panelStore",
  };
  return order;
}

void mountInCommandOrder(fennik::server::IFennikController& controller) {
  using fennik::server::KspMethod;
  std::vector<std::pair<std::string, fennik::server::IKspController::Handler>> taken;
  for (const auto& path : livesoundCommandOrder())
    if (auto handler = controller.removeCustomMethod(KspMethod::Custom, path)) taken.emplace_back(path, handler);
  // A command declared without a place in the order is a programming error.
  const auto stray = controller.customPaths();
  if (!stray.empty()) throw std::logic_error("The command " + stray.front() + " has no place in the command order");
  for (auto& [path, handler] : taken) controller.addCustomMethod(KspMethod::Custom, path, std::move(handler));
}

}  // namespace qor::server
