// The livesound command route over a real connection: verification of the
// argument tables, arrival order, replies, and ids that name no entity.

#include "ServerFixture.h"

#include "custom/livesound/LivesoundController.h"
#include "qor/server/entities/All.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"

namespace qor::testing {
namespace {

using qor::server::FtInputSource;
using qor::server::FtPreset;
namespace cmd = qor::server::fbs::cmd;

constexpr auto TIMEOUT = 10s;
constexpr const char* ROUTE = qor::server::LivesoundController::ROUTE;

KspBytes recall(const std::string& preset, const std::string& slot) {
  return table([&](flatbuffers::FlatBufferBuilder& b) {
    return cmd::CreatePresetRecallArgs(b, b.CreateString(preset), b.CreateString(slot));
  });
}

class CommandWireTest : public ServerFixture {};

// The command reference of docs/protocol.md, in its order.
const std::vector<std::string> COMMAND_REFERENCE{
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

TEST_F(CommandWireTest, TheRouteOffersEveryCommandOfTheReferenceInItsOrder) {
  ASSERT_EQ(COMMAND_REFERENCE.size(), 70u);
  const std::vector<std::string>& offered = COMMAND_REFERENCE;
  qor::server::LivesoundController controller;
  EXPECT_EQ(controller.customPaths(), offered);

  // Over the wire every path is known: an argument table that fails
  // verification is refused with 400, never with 404.
  net::KspClient client;
  connect(client);
  for (const auto& path : offered)
    EXPECT_EQ(status(client.call(ROUTE, KspMethod::Custom, path, {}, {9, 9, 9, 9, 9, 9, 9, 9})), 400) << path;
}

TEST_F(CommandWireTest, CommandsRunInArrivalOrderAndReply) {
  auto* preset = create<FtPreset>();
  auto* source = create<FtInputSource>();
  net::KspClient client;
  connect(client);

  // Back to back: the later recall wins because jobs run in arrival order.
  auto first = client.send(ROUTE, KspMethod::Custom, "/presetRecall", {}, recall(preset->strId(), "A"));
  auto second = client.send(ROUTE, KspMethod::Custom, "/presetRecall", {}, recall(preset->strId(), "B"));
  EXPECT_EQ(status(client.waitReply(first, TIMEOUT)), 200);
  EXPECT_EQ(status(client.waitReply(second, TIMEOUT)), 200);
  EXPECT_EQ(read<std::string>([&] { return preset->getActiveSlot(); }), "B");

  auto stored = client.call(ROUTE, KspMethod::Custom, "/presetStore", {}, table([&](flatbuffers::FlatBufferBuilder& b) {
                              return cmd::CreatePresetStoreArgs(b, b.CreateString(preset->strId()),
                                                                b.CreateString("Sound check"), b.CreateString("C"));
                            }));
  EXPECT_EQ(status(stored), 200);
  EXPECT_EQ(read<std::string>([&] { return preset->getStorePresetTitle(); }), "Sound check");
  EXPECT_EQ(read<std::string>([&] { return preset->getStorePresetSlot(); }), "C");

  auto trimmed = client.call(
      ROUTE, KspMethod::Custom, "/inputSourceTrimInDbChanged", {}, table([&](flatbuffers::FlatBufferBuilder& b) {
        return cmd::CreateInputSourceTrimInDbChangedArgs(b, b.CreateString(source->strId()), -6.5);
      }));
  EXPECT_EQ(status(trimmed), 200);
  EXPECT_EQ(read<double>([&] { return source->getTrimInDb(); }), -6.5);
}

TEST_F(CommandWireTest, IncompleteArgumentsAndUnknownItemsChangeNothing) {
  auto* preset = create<FtPreset>();
  net::KspClient client;
  connect(client);

  // Empty payload, a missing required field, garbage: 400 before the loop.
  EXPECT_EQ(status(client.call(ROUTE, KspMethod::Custom, "/presetRecall")), 400);
  EXPECT_EQ(
      status(client.call(ROUTE, KspMethod::Custom, "/presetRecall", {}, table([&](flatbuffers::FlatBufferBuilder& b) {
                           return cmd::CreatePresetRecallArgs(b, b.CreateString(preset->strId()));
                         }))),
      400);
  EXPECT_EQ(status(client.call(ROUTE, KspMethod::Custom, "/presetRecall", {}, {9, 9, 9, 9, 9, 9, 9, 9})), 400);
  EXPECT_EQ(status(client.call(ROUTE, KspMethod::Custom, "/noSuchCommand", {}, recall(preset->strId(), "A"))), 404);

  // An id of the wrong type or of nothing: the job fails before the
  // operation runs, and the host acknowledges with 500.
  EXPECT_EQ(status(client.call(ROUTE, KspMethod::Custom, "/presetRecall", {},
                               recall("3f2c7d2e-5a55-4c39-9a52-6d8c5c3bd0e1", "A"))),
            500);
  auto* source = create<FtInputSource>();
  EXPECT_EQ(status(client.call(ROUTE, KspMethod::Custom, "/presetRecall", {}, recall(source->strId(), "A"))), 500);
  EXPECT_EQ(read<std::string>([&] { return preset->getActiveSlot(); }), "");
}

}  // namespace
}  // namespace qor::testing
