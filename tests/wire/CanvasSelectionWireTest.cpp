// The canvas commands over a real connection: a client selects two added
// amplifiers, groups them, moves, copies and pastes the group and deletes the
// copy, writing its tables as any FlatBuffers client does (values equal to
// their defaults left out). Bad tables get 400 and unknown ids change nothing.

#include "ModelServerFixture.h"

#include "qor/server/entities/All.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"
#include "service/SessionWindowService.h"

#include <string>
#include <utility>
#include <vector>

namespace qor::testing {
namespace {

namespace cmd = qor::server::fbs::cmd;
using qor::server::Device;
using qor::server::SessionWindow;
using qor::server::VisualItem;
using qor::server::VisualItemSelectionMode;
using Pos = std::pair<int, int>;

constexpr const char* MASTER_ROOT = "c3bca550-a3df-4d37-a8e4-bd545d12b0cb";

class CanvasSelectionWireTest : public ModelServerFixture {
 protected:
  std::optional<net::Message> select(const std::vector<std::string>& items, bool selectThem, bool all = false,
                                     const std::string& window = MASTER_ROOT) {
    return call("/visualItemSelect", table([&](flatbuffers::FlatBufferBuilder& b) {
                  return cmd::CreateVisualItemSelectArgs(b, b.CreateString(window), b.CreateVectorOfStrings(items),
                                                         !selectThem, all);
                }));
  }
  // The current window; on the loop only.
  SessionWindow* window() const {
    return context->services()->get<qor::server::SessionWindowService>()->currentSessionWindow();
  }
  std::vector<std::string> selected() {
    return read<std::vector<std::string>>([&] {
      std::vector<std::string> ids;
      for (VisualItem* item : window()->selectedDesignItems()) ids.push_back(item->strId());
      return ids;
    });
  }
  Pos posOf(const std::string& item) {
    return read<Pos>([&] {
      const VisualItem* i = context->db()->get<VisualItem>(fennik::server::UuidFromS(item));
      return i ? Pos(i->getX(), i->getY()) : Pos(-1, -1);
    });
  }
  std::size_t deviceCount() {
    return read<std::size_t>([&] { return context->db()->all<Device>().size(); });
  }
};

TEST_F(CanvasSelectionWireTest, GroupMoveCopyPasteAndDeleteWithDefaultsLeftOut) {
  auto added = deviceAdd("Amplifier", UuidToS(devicetypes::qa8Descriptor().id), 2);
  ASSERT_EQ(status(added), 200);
  const auto* devices = tableOf<cmd::DeviceAddResult>(added->payload);
  ASSERT_TRUE(devices && devices->devices() && devices->devices()->size() == 2);
  std::vector<std::string> items;
  for (const auto* id : *devices->devices()) {
    items.push_back(read<std::string>(
        [&] { return context->db()->get<Device>(fennik::server::UuidFromS(id->str()))->getVisualItem()->strId(); }));
  }

  // Select both (all = false left out), group them.
  ASSERT_EQ(status(select({}, false, true)), 200);
  EXPECT_TRUE(selected().empty());
  ASSERT_EQ(status(select(items, true)), 200);
  EXPECT_EQ(selected(), items);
  EXPECT_TRUE(read<bool>([&] { return window()->getIsSelectionGroupable(); }));
  ASSERT_EQ(status(call("/visualItemGroupSelected")), 200);
  ASSERT_EQ(selected().size(), 1u);
  const std::string group = selected().front();
  const Pos before = posOf(group);
  const Pos firstAmp = posOf(items[0]);

  // dx = 0 is left out of the table, as a builder without ForceDefaults does.
  ASSERT_EQ(status(call("/visualItemMoveSelected", table([](flatbuffers::FlatBufferBuilder& b) {
                          return cmd::CreateVisualItemMoveSelectedArgs(b, 0, 400);
                        }))),
            200);
  EXPECT_EQ(posOf(group), Pos(before.first, before.second + 400));
  EXPECT_EQ(posOf(items[0]), Pos(firstAmp.first, firstAmp.second + 400));

  // Copy and paste: a new group of two new amplifiers, 32 right and down.
  ASSERT_EQ(status(call("/visualItemCopySelected")), 200);
  ASSERT_EQ(status(call("/visualItemPaste")), 200);
  ASSERT_EQ(selected().size(), 1u);
  const std::string pasted = selected().front();
  EXPECT_NE(pasted, group);
  EXPECT_EQ(posOf(pasted), Pos(before.first + 32, before.second + 400 + 32));
  EXPECT_EQ(deviceCount(), 4u);
  EXPECT_EQ(posOf(group), Pos(before.first, before.second + 400));

  // Deleting the pasted group takes its two amplifiers.
  ASSERT_EQ(status(call("/visualItemDestroySelected")), 200);
  EXPECT_EQ(posOf(pasted), Pos(-1, -1));
  EXPECT_EQ(deviceCount(), 2u);
  EXPECT_EQ(posOf(group), Pos(before.first, before.second + 400));
}

TEST_F(CanvasSelectionWireTest, IncompleteTablesAreRefusedAndUnknownIdsChangeNothing) {
  auto setMode = [&](flatbuffers::Optional<std::int32_t> mode, const std::string& windowId = MASTER_ROOT) {
    return call("/sessionSetSelectionMode", table([&](flatbuffers::FlatBufferBuilder& b) {
                  return cmd::CreateSessionSetSelectionModeArgs(b, b.CreateString(windowId), mode);
                }));
  };
  auto mode = [&] { return read<VisualItemSelectionMode>([&] { return window()->getSelectionMode(); }); };

  // The mode is required, and travels even when it is 0.
  EXPECT_EQ(status(setMode(flatbuffers::nullopt)), 400);
  EXPECT_EQ(status(setMode(0)), 200);
  EXPECT_EQ(mode(), VisualItemSelectionMode::DESIGN);
  EXPECT_EQ(status(setMode(2)), 200);
  EXPECT_EQ(mode(), VisualItemSelectionMode::DEVICE);
  // A window given by its own id works as well as by its root's.
  const std::string windowId = read<std::string>([&] { return window()->strId(); });
  EXPECT_EQ(status(setMode(1, windowId)), 200);
  EXPECT_EQ(mode(), VisualItemSelectionMode::DESIGN);
  EXPECT_EQ(status(setMode(2, "3f2c7d2e-5a55-4c39-9a52-6d8c5c3bd0e1")), 500);
  EXPECT_EQ(mode(), VisualItemSelectionMode::DESIGN);

  // Ids, texts and vectors that a command needs.
  EXPECT_EQ(status(call("/sessionSetSelectionMode")), 400);
  EXPECT_EQ(status(call("/visualItemSelect")), 400);
  EXPECT_EQ(status(call("/visualItemDeviceForSelected")), 400);
  EXPECT_EQ(status(call("/visualItemResize")), 400);
  EXPECT_EQ(status(call("/visualItemChangeLayerMembershipOfSelection")), 400);
  EXPECT_EQ(status(call("/visualItemSetVisibleInLayer", table([](flatbuffers::FlatBufferBuilder& b) {
                          return cmd::CreateVisualItemSetVisibleInLayerArgs(
                              b, b.CreateString("d5fefc2e-670e-48e6-8353-094e236e95b2"));
                        }))),
            400);
  // Nothing to work on: fine with or without a payload.
  for (const char* path : {"/visualItemMoveSelected", "/visualItemRotateSelected", "/visualItemAlignSelected",
                           "/visualItemGroupSelected", "/visualItemPaste", "/visualItemCopySelected"})
    EXPECT_EQ(status(call(path)), 200) << path;

  // One unknown item among known ones: nothing is selected.
  auto added = deviceAdd("Amplifier", UuidToS(devicetypes::qa8Descriptor().id), 1);
  ASSERT_EQ(status(added), 200);
  const std::vector<std::string> before = selected();
  ASSERT_EQ(before.size(), 1u);
  EXPECT_EQ(status(select({}, false, true)), 200);
  EXPECT_EQ(status(select({before[0], "3f2c7d2e-5a55-4c39-9a52-6d8c5c3bd0e1"}, true)), 500);
  EXPECT_TRUE(selected().empty());
}

}  // namespace
}  // namespace qor::testing
