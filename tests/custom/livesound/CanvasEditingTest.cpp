// Editing the canvas as a user does it: selecting, grouping, copying and
// pasting, duplicating, deleting, and moving items between layers.

#include "custom/LogCapture.h"
#include "custom/livesound/ProjectFixture.h"

#include <algorithm>
#include <set>
#include <utility>

namespace qor::server::testing {
namespace {

using Pos = std::pair<int, int>;

constexpr const char* CLIPBOARD_WORKSPACE = "60D538C9-71E2-47C2-833D-741C18B2FF80";

class CanvasEditingTest : public ProjectFixture {
 protected:
  // An amplifier whose item lies at (x, y) (multiples of 8), selected alone.
  Device* amp(int x, int y) { return livesound().deviceAdd(qa8(), x, y, false); }

  static Pos pos(const VisualItem* item) { return {item->getX(), item->getY()}; }
  static Pos shifted(const VisualItem* item, int by) { return {item->getX() + by, item->getY() + by}; }

  SessionWindow* window() const { return service<SessionWindowService>()->currentSessionWindow(); }
  bool groupable() const { return window()->getIsSelectionGroupable(); }
  bool exists(const fennik::server::Uuid& id) const { return db().find(id) != nullptr; }

  Device* deviceOf(const VisualItem* item) const {
    for (Device* d : db().all<Device>()) {
      if (d->getVisualItem() == item) return d;
    }
    return nullptr;
  }
  Device* named(const std::string& name) const {
    for (Device* d : db().all<Device>()) {
      if (!d->getIsGroup() && nameOf(d) == name) return d;
    }
    return nullptr;
  }
  std::set<std::string> memberNames(const VisualItem* group) const {
    std::set<std::string> names;
    for (const VisualItem* child : group->childrens()) {
      const Device* d = deviceOf(child);
      names.insert(d ? nameOf(d) : "(no device)");
    }
    return names;
  }

  // Selects the items (in this order) alone and groups them.
  VisualItem* group(const std::vector<VisualItem*>& items) {
    livesound().visualItemDeselectAll();
    livesound().visualItemSelect(items);
    livesound().visualItemGroupSelected();
    return selection().size() == 1 ? selection().front() : nullptr;
  }
  VisualItem* selectedAlone() const { return selection().size() == 1 ? selection().front() : nullptr; }
};

TEST_F(CanvasEditingTest, PastesOfACopiedGroupStepThirtyTwoUnitsAndANewCopyStartsOver) {
  LogCapture log;
  Device* a = amp(800, 800);
  Device* b = amp(1000, 800);
  VisualItem* original = group({a->getVisualItem(), b->getVisualItem()});
  ASSERT_NE(original, nullptr);
  const Pos at = pos(original);
  ASSERT_EQ(at, Pos(800, 800));
  const int width = original->getWidth();
  const int height = original->getHeight();

  livesound().visualItemCopySelected();
  for (int k = 1; k <= 3; ++k) {
    livesound().visualItemPaste();
    VisualItem* pasted = selectedAlone();
    ASSERT_NE(pasted, nullptr) << "paste " << k;
    ASSERT_NE(pasted, original);
    EXPECT_EQ(pos(pasted), Pos(800 + 32 * k, 800 + 32 * k)) << "paste " << k;
    EXPECT_EQ(pasted->getWidth(), width);
    EXPECT_EQ(pasted->getHeight(), height);
    EXPECT_EQ(pasted->getParent(), tree().root());
    // Two new amplifiers with the next numbers; the copy of Amp1 comes first.
    const std::string first = "Amp" + std::to_string(2 * k + 1);
    const std::string second = "Amp" + std::to_string(2 * k + 2);
    EXPECT_EQ(memberNames(pasted), (std::set<std::string>{first, second})) << "paste " << k;
    ASSERT_NE(named(first), nullptr);
    EXPECT_EQ(pos(named(first)->getVisualItem()), Pos(800 + 32 * k, 800 + 32 * k));
    EXPECT_EQ(named(first)->getType(), qa8());
  }
  // Pasting changes nothing of what was copied.
  EXPECT_EQ(pos(original), at);
  EXPECT_EQ(pos(a->getVisualItem()), Pos(800, 800));
  EXPECT_EQ(pos(b->getVisualItem()), Pos(1000, 800));
  EXPECT_EQ(memberNames(original), (std::set<std::string>{"Amp1", "Amp2"}));

  // A new copy starts from one step again.
  livesound().visualItemDeselectAll();
  livesound().visualItemSelect({b->getVisualItem()});
  livesound().visualItemCopySelected();
  livesound().visualItemPaste();
  VisualItem* again = selectedAlone();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(pos(again), Pos(1032, 832));
  EXPECT_EQ(nameOf(deviceOf(again)), "Amp9");
  EXPECT_TRUE(log.contains("qor::server::LivesoundService::visualItemPaste"));
  EXPECT_TRUE(log.contains("qor::server::LivesoundService::visualItemCopySelected"));
}

TEST_F(CanvasEditingTest, DuplicatingAGroupCopiesItsAmplifiersWithTheNextNumbers) {
  Device* amp1 = amp(800, 800);
  Device* amp2 = amp(1000, 800);
  Device* amp3 = amp(800, 2000);
  // Grouped in the opposite order of their numbers.
  VisualItem* original = group({amp2->getVisualItem(), amp1->getVisualItem()});
  ASSERT_NE(original, nullptr);
  const Pos groupAt = pos(original);

  livesound().visualItemDuplicateSelected();
  VisualItem* copy = selectedAlone();
  ASSERT_NE(copy, nullptr);
  ASSERT_NE(copy, original);
  EXPECT_EQ(pos(copy), shifted(original, 16));
  EXPECT_EQ(copy->getParent(), tree().root());
  // Amp3 exists: the copies are Amp4 (of Amp1) and Amp5 (of Amp2).
  EXPECT_EQ(memberNames(copy), (std::set<std::string>{"Amp4", "Amp5"}));
  ASSERT_TRUE(named("Amp4") && named("Amp5"));
  EXPECT_EQ(pos(named("Amp4")->getVisualItem()), shifted(amp1->getVisualItem(), 16));
  EXPECT_EQ(pos(named("Amp5")->getVisualItem()), shifted(amp2->getVisualItem(), 16));
  EXPECT_EQ(named("Amp4")->getType(), qa8());
  // New amplifiers join the project's totals like any added one.
  EXPECT_EQ(project()->getPower()->childrenShareds().size(), 5u);

  // Nothing else moved.
  EXPECT_EQ(pos(original), groupAt);
  EXPECT_EQ(pos(amp3->getVisualItem()), Pos(800, 2000));
  EXPECT_EQ(memberNames(original), (std::set<std::string>{"Amp1", "Amp2"}));

  // An empty selection duplicates nothing.
  livesound().visualItemDeselectAll();
  const std::size_t before = db().size();
  livesound().visualItemDuplicateSelected();
  livesound().visualItemCopySelected();
  EXPECT_EQ(db().size(), before);
}

TEST_F(CanvasEditingTest, DeletingAGroupTakesItsDevicesAndSparesTheClipboardCanvas) {
  Device* a = amp(800, 800);
  Device* b = amp(1000, 800);
  Device* other = amp(800, 2000);
  const auto aId = a->id(), bId = b->id(), aItem = a->getVisualItem()->id();
  VisualItem* doomed = group({a->getVisualItem(), b->getVisualItem()});
  ASSERT_NE(doomed, nullptr);
  const auto groupId = doomed->id();

  livesound().visualItemDestroySelected();
  EXPECT_FALSE(exists(groupId));
  EXPECT_FALSE(exists(aId));
  EXPECT_FALSE(exists(bId));
  EXPECT_FALSE(exists(aItem));
  EXPECT_TRUE(selection().empty());
  EXPECT_EQ(project()->getPower()->childrenShareds().size(), 1u);
  EXPECT_TRUE(exists(other->id()));
  EXPECT_EQ(tree().root()->childrens(), std::vector<VisualItem*>{other->getVisualItem()});

  // Items on the clipboard's canvas are never deleted from a selection,
  // a device's item among them.
  auto clipboardRoot = VisualItem::createDefaultInitialized(fennik::server::UuidFromS(CLIPBOARD_WORKSPACE));
  VisualItem* clipboard = clipboardRoot.get();
  db().add(std::move(clipboardRoot));
  VisualItem* parked = tree().create(fennik::server::random_uuid(), clipboard->id(), 0, 0, 64, 64);
  ASSERT_NE(parked, nullptr);
  tree().add(clipboard, other->getVisualItem());
  livesound().visualItemDeselectAll();
  livesound().visualItemSelect({parked, other->getVisualItem()});
  ASSERT_EQ(selection().size(), 2u);
  livesound().visualItemDestroySelected();
  EXPECT_TRUE(exists(parked->id()));
  EXPECT_TRUE(exists(other->id()));
  EXPECT_EQ(other->getVisualItem()->getParent(), clipboard);
}

TEST_F(CanvasEditingTest, LeavingTheShownLayerDeselectsAndGroupableFollowsTheSelection) {
  Device* a = amp(800, 800);
  Device* b = amp(1000, 800);
  Device* matrix = livesound().deviceAdd(qm16(), 1200, 800, false);
  auto layers = service<LayerService>();
  Layer* master = layers->masterLayer();
  Layer* other = layers->create();

  livesound().visualItemSelect({a->getVisualItem(), b->getVisualItem()});
  ASSERT_EQ(selection().size(), 3u);
  EXPECT_FALSE(groupable());  // a matrix with amplifiers
  livesound().visualItemDeselect({matrix->getVisualItem()});
  EXPECT_TRUE(groupable());

  // Joining a layer that is not shown keeps the selection.
  livesound().visualItemChangeLayerMembershipOfSelection(other, true);
  EXPECT_TRUE(layers->contains(other, a->getVisualItem()));
  EXPECT_TRUE(layers->contains(other, b->getVisualItem()));
  EXPECT_EQ(selection().size(), 2u);

  // Leaving the shown layer deselects; the item stays on the other layer.
  livesound().visualItemSetVisibleInLayer(master, a->getVisualItem(), false);
  EXPECT_EQ(selection(), std::vector<VisualItem*>{b->getVisualItem()});
  EXPECT_TRUE(layers->contains(other, a->getVisualItem()));
  livesound().visualItemChangeLayerMembershipOfSelection(other, false);
  EXPECT_EQ(selection(), std::vector<VisualItem*>{b->getVisualItem()});
  livesound().visualItemChangeLayerMembershipOfSelection(master, false);
  EXPECT_TRUE(selection().empty());
  EXPECT_FALSE(groupable());

  // Selection modes: only design and device switch.
  livesound().sessionSetSelectionMode(VisualItemSelectionMode::NONE);
  EXPECT_EQ(window()->getSelectionMode(), VisualItemSelectionMode::DESIGN);
  livesound().sessionSetSelectionMode(VisualItemSelectionMode::DEVICE);
  EXPECT_EQ(window()->getSelectionMode(), VisualItemSelectionMode::DEVICE);
  livesound().visualItemSelectAll();
  EXPECT_EQ(selection(), std::vector<VisualItem*>{matrix->getVisualItem()});
  EXPECT_TRUE(groupable());
}

}  // namespace
}  // namespace qor::server::testing
