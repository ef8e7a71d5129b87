// The visual tree's geometry, grouped by operation, with the figures users
// see on the canvas.

#include "custom/CanvasFixture.h"
#include "custom/LogCapture.h"

#include <random>

namespace qor::server::testing {
namespace {

class VisualTreeTest : public CanvasFixture {};

TEST_F(VisualTreeTest, MoveShiftsTheSelectionAsOneBlockClampedToCanvasAndGrid) {
  VisualItem* left = item(40, 100, 80, 80);
  VisualItem* right = item(400, 100, 80, 80);
  tree().selectSingle(left, true);
  tree().selectSingle(right, true);

  tree().moveSelected(-100, 0);  // the leftmost item stops at the edge, the other keeps its distance
  EXPECT_EQ(boxOf(left), (Box{0, 96, 80, 80}));
  EXPECT_EQ(boxOf(right), (Box{360, 96, 80, 80}));

  tree().moveSelected(13, 0);
  EXPECT_EQ(left->getX(), 8);
  tree().moveSelected(-13, 0);
  EXPECT_EQ(left->getX(), 0);

  // Towards the far corner: the block stops at 16000 x 10000.
  tree().moveSelected(20000, 20000);
  EXPECT_EQ(right->getX() + right->getWidth(), 16000);
  EXPECT_EQ(right->getY() + right->getHeight(), 10000);
  EXPECT_EQ(right->getX() - left->getX(), 360);

  // moveAbsolute goes through the same clamp; move-to-target per item.
  // (-50, 17) from (15560, 9920): x stops at 0, y moves by -9903 -> -9896.
  tree().moveAbsolute(left, -50, 17);
  EXPECT_EQ(boxOf(left), (Box{0, 24, 80, 80}));
  tree().move({right}, left);
  EXPECT_EQ(boxOf(right), (Box{0, 24, 80, 80}));
}

TEST_F(VisualTreeTest, CreateChecksTheSizeAndKeepsTheItemOnTheCanvasAndGrid) {
  LogCapture log;
  const auto before = db().countOfClass(VisualItem::CLASS_NAME);
  EXPECT_EQ(tree().create(0, 0, 16001, 80), nullptr);
  EXPECT_EQ(tree().create(0, 0, 80, -1), nullptr);
  EXPECT_TRUE(log.contains("Could not create VisualItem because of incompatible Geometry"));
  EXPECT_EQ(db().countOfClass(VisualItem::CLASS_NAME), before);

  VisualItem* edge = tree().create(15990, 0, 100, 50);
  ASSERT_NE(edge, nullptr);
  EXPECT_EQ(boxOf(edge), (Box{15896, 0, 96, 48}));
  EXPECT_EQ(edge->getOrientation(), VisualItemOrientation::NORTH);

  VisualItem* negative = tree().create(-30, 9999, 100, 100);
  EXPECT_EQ(boxOf(negative), (Box{0, 9896, 96, 96}));

  // New items hang under the workspace root and join the window's selected layer.
  EXPECT_EQ(edge->getParent(), tree().root());
  EXPECT_TRUE(layers().contains(layers().masterLayer(), edge));

  // A given id is kept; an id that is taken is refused.
  const auto id = fennik::server::random_uuid();
  ASSERT_NE(tree().create(id, 8, 8, 8, 8), nullptr);
  EXPECT_EQ(tree().create(id, 8, 8, 8, 8), nullptr);

  // Under a given parent the parent grows around the new child.
  VisualItem* a = item(800, 800, 80, 80);
  VisualItem* b = item(1600, 800, 80, 80);
  VisualItem* g = tree().group({a, b});
  VisualItem* c = tree().create(fennik::server::random_uuid(), g->id(), 800, 1600, 80, 80);
  EXPECT_EQ(c->getParent(), g);
  EXPECT_EQ(boxOf(g), (Box{800, 800, 880, 880}));
}

TEST_F(VisualTreeTest, DistributeSpacesTheInnerItemsEvenlyBetweenTheOuterOnes) {
  VisualItem* first = exact(0, 0, 100, 40);
  VisualItem* middle = exact(300, 0, 100, 40);
  VisualItem* last = exact(900, 0, 100, 40);
  tree().applyAlignment({last, middle, first}, VisualItemAlignMode::DISTRIBUTE_H);
  // gap (1000 - 100 - 100 - 100) / 2 = 350, positions truncated to the grid
  EXPECT_EQ(first->getX(), 0);
  EXPECT_EQ(middle->getX(), 448);
  EXPECT_EQ(last->getX(), 896);

  // The same along Y, and never with fewer than three items.
  VisualItem* top = exact(2000, 0, 40, 100);
  VisualItem* centre = exact(2000, 300, 40, 100);
  VisualItem* bottom = exact(2000, 900, 40, 100);
  tree().applyAlignment({top, bottom}, VisualItemAlignMode::DISTRIBUTE_V);
  EXPECT_EQ(bottom->getY(), 900);
  tree().applyAlignment({top, centre, bottom}, VisualItemAlignMode::DISTRIBUTE_V);
  EXPECT_EQ(centre->getY(), 448);
  EXPECT_EQ(bottom->getY(), 896);
}

TEST_F(VisualTreeTest, StackLinesItemsUpTouchingAroundTheirCentreUnlessTheRowWouldNotFit) {
  VisualItem* a = item(1000, 1000, 96, 40);
  VisualItem* b = item(1200, 1200, 96, 80);
  tree().applyAlignment({b, a}, VisualItemAlignMode::STACK_H);
  // centre of (1000..1296, 1000..1280) is (1148, 1140); the row starts at 1148 - 96 -> 1048
  EXPECT_EQ(boxOf(a), (Box{1048, 1120, 96, 40}));
  EXPECT_EQ(boxOf(b), (Box{1144, 1096, 96, 80}));

  VisualItem* wide1 = item(0, 2000, 8000, 40);
  VisualItem* wide2 = item(8000, 3000, 8000, 40);
  tree().applyAlignment({wide1, wide2}, VisualItemAlignMode::STACK_H);  // 16000 wide in total
  EXPECT_EQ(boxOf(wide1), (Box{0, 2000, 8000, 40}));
  EXPECT_EQ(boxOf(wide2), (Box{8000, 3000, 8000, 40}));
}

TEST_F(VisualTreeTest, EdgeAndCentreAlignmentsUseTheBoundingBoxAndTheGrid) {
  VisualItem* a = item(104, 200, 80, 40);
  VisualItem* b = item(400, 304, 160, 120);
  tree().applyAlignment({a, b}, VisualItemAlignMode::LEFT);
  EXPECT_EQ(b->getX(), 104);
  tree().applyAlignment({a, b}, VisualItemAlignMode::RIGHT);
  EXPECT_EQ(a->getX(), 184);
  tree().applyAlignment({a, b}, VisualItemAlignMode::BOTTOM);
  EXPECT_EQ(a->getY() + a->getHeight(), 424);
  EXPECT_EQ(a->getY(), 384);
  tree().applyAlignment({a, b}, VisualItemAlignMode::TOP);
  EXPECT_EQ(a->getY(), 304);
  EXPECT_EQ(b->getY(), 304);
  tree().applyAlignment({a, b}, VisualItemAlignMode::CENTER_V);
  EXPECT_EQ(a->getY(), 344);  // 304 + (120 - 40) / 2
  tree().applyAlignment({a, b}, VisualItemAlignMode::CENTER_H);
  EXPECT_EQ(a->getX(), 144);  // 104 + (160 - 80) / 2
  EXPECT_EQ(b->getX(), 104);

  LogCapture log;
  tree().applyAlignment({a, b}, static_cast<VisualItemAlignMode>(42));
  EXPECT_TRUE(log.contains("Unknown VisualItemAlignMode is used"));
  EXPECT_EQ(a->getX(), 144);

  // Offsets are floored to the grid: a 12-unit step becomes 8.
  VisualItem* c = item(2000, 2000, 80, 40);
  VisualItem* e = item(2200, 2000, 80, 64);
  tree().applyAlignment({c, e}, VisualItemAlignMode::CENTER_V);  // c: (24 / 2) = 12 -> 8
  EXPECT_EQ(c->getY(), 2008);
  tree().applyAlignment({c, e}, VisualItemAlignMode::TOP);  // c: -8
  EXPECT_EQ(c->getY(), 2000);
}

TEST_F(VisualTreeTest, RotateTurnsAboutTheCentreAndStepsTheOrientation) {
  VisualItem* i = exact(200, 200, 100, 40);
  tree().rotate(i, 45);
  EXPECT_EQ(boxOf(i), (Box{200, 200, 100, 40}));
  EXPECT_EQ(i->getOrientation(), VisualItemOrientation::NORTH);

  tree().rotate(i, 90);
  EXPECT_EQ(boxOf(i), (Box{224, 176, 40, 100}));
  EXPECT_EQ(i->getOrientation(), VisualItemOrientation::EAST);
  tree().rotate(i, 90);
  EXPECT_EQ(i->getOrientation(), VisualItemOrientation::SOUTH);
  tree().rotate(i, -90);
  tree().rotate(i, -90);
  EXPECT_EQ(i->getOrientation(), VisualItemOrientation::NORTH);
  EXPECT_EQ(i->getWidth(), 100);

  // Near the corner the turned item is kept on the canvas.
  VisualItem* corner = item(0, 0, 400, 80);
  tree().rotate(corner, 90);
  EXPECT_EQ(boxOf(corner), (Box{160, 0, 80, 400}));  // centre x kept, y held at the top edge

  // Too long to stand upright: left alone.
  VisualItem* longOne = item(0, 5000, 10008, 40);
  tree().rotate(longOne, 90);
  EXPECT_EQ(longOne->getWidth(), 10008);
}

TEST_F(VisualTreeTest, ResizeClampsAndStopsAtTheEdge) {
  VisualItem* i = item(800, 800, 80, 80);
  tree().resize(i, 15900, 800, 200, 100);
  EXPECT_EQ(boxOf(i), (Box{15896, 800, 104, 96}));  // position clamped for the old width, size shrunk to fit

  VisualItem* a = item(0, 2000, 80, 80);
  VisualItem* b = item(400, 2000, 80, 80);
  VisualItem* g = tree().group({a, b});
  tree().resize(b, 400, 2000, 400, 80);
  EXPECT_EQ(boxOf(g), (Box{0, 2000, 800, 80}));  // the group follows its child
}

TEST_F(VisualTreeTest, GroupingNeedsDesignModeAndOneParent) {
  LogCapture log;
  VisualItem* a = item(800, 800, 80, 80);
  VisualItem* b = item(1600, 960, 80, 80);
  VisualItem* c = item(3200, 800, 80, 80);
  VisualItem* inner = tree().group({a, b});
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(boxOf(inner), (Box{800, 800, 880, 240}));
  EXPECT_EQ(inner->getTags() & 2, 2);
  EXPECT_EQ(selection(), std::vector<VisualItem*>{inner});
  EXPECT_LT(a->getZ(), inner->getZ());
  EXPECT_LT(b->getZ(), inner->getZ());

  const auto count = db().countOfClass(VisualItem::CLASS_NAME);
  EXPECT_EQ(tree().group({a, c}), nullptr);  // different parents
  EXPECT_EQ(tree().group({}), nullptr);
  EXPECT_EQ(db().countOfClass(VisualItem::CLASS_NAME), count);
  EXPECT_EQ(a->getParent(), inner);

  windows().setSelectionMode(VisualItemSelectionMode::DEVICE);
  EXPECT_EQ(tree().group({inner, c}), nullptr);
  EXPECT_TRUE(log.contains("Grouping is only allowed in design selection mode"));
  tree().ungroup(inner);
  EXPECT_TRUE(log.contains("Ungrouping is only allowed in design selection mode"));
  EXPECT_EQ(a->getParent(), inner);

  windows().setSelectionMode(VisualItemSelectionMode::DESIGN);
  const auto innerId = inner->id();
  tree().ungroup(inner);
  EXPECT_EQ(db().find(innerId), nullptr);
  EXPECT_EQ(a->getParent(), tree().root());
  EXPECT_EQ(b->getParent(), tree().root());
  EXPECT_EQ(selection(), (std::vector<VisualItem*>{a, b}));
  EXPECT_TRUE(layers().contains(layers().masterLayer(), a));
}

TEST_F(VisualTreeTest, ZMovesReorderSiblingsAndRenumberingKeepsChildrenBelowTheirGroup) {
  VisualItem* a = item(0, 0, 80, 80);
  VisualItem* b = item(100, 0, 80, 80);
  VisualItem* c = item(200, 0, 80, 80);
  VisualItem* d = item(300, 0, 80, 80);
  VisualItem* g = tree().group({a, b, c});
  const std::vector<int> before{a->getZ(), b->getZ(), c->getZ()};
  tree().applyAlignment({a, b, c}, VisualItemAlignMode::MOVE_UP);  // all of the group's children
  EXPECT_EQ((std::vector<int>{a->getZ(), b->getZ(), c->getZ()}), before);

  tree().applyAlignment({a}, VisualItemAlignMode::MOVE_TOP);
  EXPECT_GT(a->getZ(), c->getZ());
  EXPECT_LT(a->getZ(), g->getZ());
  tree().applyAlignment({a}, VisualItemAlignMode::MOVE_DOWN);
  EXPECT_LT(a->getZ(), c->getZ());
  EXPECT_GT(a->getZ(), b->getZ());
  tree().applyAlignment({a}, VisualItemAlignMode::MOVE_BOTTOM);
  EXPECT_LT(a->getZ(), b->getZ());
  tree().applyAlignment({a}, VisualItemAlignMode::MOVE_UP);
  EXPECT_GT(a->getZ(), b->getZ());
  EXPECT_LT(a->getZ(), c->getZ());

  // Top level: the group and d; post-order numbering from 1.
  tree().applyAlignment({g}, VisualItemAlignMode::MOVE_TOP);
  EXPECT_EQ(d->getZ(), 1);
  EXPECT_EQ(g->getZ(), 5);

  // Postponed renumbering nests and runs once, at the last end.
  tree().startPostponeIndexReparation();
  tree().startPostponeIndexReparation();
  tree().applyAlignment({d}, VisualItemAlignMode::MOVE_TOP);
  EXPECT_EQ(d->getZ(), 6);
  tree().endPostponeIndexReparation();
  EXPECT_EQ(d->getZ(), 6);
  tree().endPostponeIndexReparation();
  EXPECT_EQ(d->getZ(), 5);
  EXPECT_EQ(g->getZ(), 4);
}

TEST_F(VisualTreeTest, AutoPlaceFindsTheFirstFreeSpotColumnByColumn) {
  VisualItem* alone = item(808, 408, 96, 96);
  tree().autoPlace(alone, 0);
  EXPECT_EQ(boxOf(alone), (Box{808, 408, 96, 96}));

  // A column of narrow items from top to bottom.
  for (int y = 0; y < 10000; y += 1000) item(0, y, 8, 1000);
  VisualItem* fresh = item(0, 0, 96, 1000);
  tree().autoPlace(fresh, 0);
  EXPECT_EQ(boxOf(fresh), (Box{8, 0, 96, 1000}));

  // With a gap in a column the item drops into it; the margin keeps distance.
  VisualItem* top = item(4000, 0, 96, 96);
  item(4000, 400, 96, 96);
  VisualItem* next = item(4000, 0, 96, 96);
  tree().autoPlace(next, 8);
  EXPECT_EQ(next->getY(), 104);
  (void)top;
}

// The placement rule in its plain form: first obstacle in list order,
// one step at a time. The service takes shortcuts; both must agree.
Box placeByTheRule(const std::vector<Box>& others, Box r, int margin) {
  auto hit = [](const Box& o, const Box& p) {
    return std::max(o.x, p.x) < std::min(o.x + o.w, p.x + p.w) && std::max(o.y, p.y) < std::min(o.y + o.h, p.y + p.h);
  };
  for (;;) {
    const Box* blocking = nullptr;
    for (const Box& o : others) {
      const Box grown{o.x - margin, o.y - margin, o.w + 2 * margin, o.h + 2 * margin};
      if (hit(grown, r)) {
        blocking = &o;
        break;
      }
    }
    if (!blocking) return r;
    r.y = blocking->y + blocking->h + margin;
    if (r.y + r.h < 10000) continue;
    r.y = 0;
    r.x += 8;
    if (r.x + r.w > 15999) return Box{-1, -1, -1, -1};
  }
}

TEST_F(VisualTreeTest, AutoPlaceAgreesWithThePlainRuleOnScatteredLayouts) {
  std::mt19937 random(7);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  std::vector<Box> others;
  for (int i = 0; i < 300; ++i)
    others.push_back(boxOf(item(pick(0, 2000) * 8, pick(0, 1240) * 8, pick(1, 60) * 8, pick(1, 200) * 8)));
  int shiftedRight = 0;
  for (int round = 0; round < 40; ++round) {
    const int margin = round % 3 == 0 ? 0 : pick(0, 16);
    // Every other item is tall enough to fill whole columns.
    const int tall = round % 2 ? pick(300, 900) : pick(1, 100);
    VisualItem* fresh = item(pick(0, 1990) * 8, pick(0, 1240) * 8, pick(1, 40) * 8, tall * 8);
    const Box start = boxOf(fresh);
    Box expected = placeByTheRule(others, start, margin);
    if (expected.x < 0) expected = start;  // no room: the item stays
    // The item gets there by a move truncated to the grid.
    expected.x = start.x + canvas::truncToGrid(expected.x - start.x);
    expected.y = start.y + canvas::truncToGrid(expected.y - start.y);
    tree().autoPlace(fresh, margin);
    EXPECT_EQ(boxOf(fresh), expected) << "round " << round << " from " << start;
    shiftedRight += expected.x != start.x ? 1 : 0;
    tree().destroy(fresh);
  }
  EXPECT_GT(shiftedRight, 5);  // the layouts really exercise the column change
}

TEST_F(VisualTreeTest, SelectionFollowsTheLayerAndRootRules) {
  LogCapture log;
  VisualItem* a = item(0, 0, 80, 80);
  Layer* other = layers().create();
  VisualItem* offLayer = item(200, 0, 80, 80);
  layers().setVisible(layers().masterLayer(), offLayer, false);
  layers().setVisible(other, offLayer, true);

  tree().selectSingle(offLayer, true);
  EXPECT_TRUE(log.contains("Selection outside of current layer not allowed."));
  EXPECT_TRUE(selection().empty());

  // An item under another canvas root replaces the selection there.
  tree().selectSingle(a, true);
  VisualItem* secondRoot = tree().createWorkspaceRoot();
  VisualItem* foreign = tree().create(fennik::server::random_uuid(), secondRoot->id(), 0, 0, 80, 80);
  layers().setVisible(layers().masterLayer(), foreign, true);
  tree().selectSingle(foreign, true);
  EXPECT_TRUE(log.contains("Non-sibling selection is not allowed."));
  EXPECT_EQ(selection(), std::vector<VisualItem*>{foreign});

  // selectAll: top-level items with the mode's tag; in device mode also their descendants.
  VisualItem* b = item(400, 0, 80, 80);
  VisualItem* g = tree().group({a, b});
  VisualItem* untagged = tree().create(800, 0, 80, 80);
  tree().selectAll(true);
  EXPECT_EQ(selection(), std::vector<VisualItem*>{g});
  windows().setSelectionMode(VisualItemSelectionMode::DEVICE);
  tree().selectAll(true);
  EXPECT_EQ(selection(), (std::vector<VisualItem*>{a, b}));
  tree().selectAll(false);
  EXPECT_TRUE(selection().empty());
  (void)untagged;
}

TEST_F(VisualTreeTest, DestroyUnhooksTheItemEverywhereAndARootTakesItsWindow) {
  VisualItem* a = item(0, 0, 80, 80);
  VisualItem* b = item(100, 0, 80, 80);
  VisualItem* g = tree().group({a, b});
  tree().selectSingle(g, true);
  window().addSelectedDesignItemForCopy(g);
  const auto id = g->id();
  tree().destroy(g);
  EXPECT_EQ(db().find(id), nullptr);
  EXPECT_TRUE(selection().empty());
  EXPECT_TRUE(window().selectedDesignItemForCopys().empty());
  EXPECT_EQ(a->getParent(), nullptr);  // children are not destroyed, and never point at a deleted parent
  EXPECT_EQ(tree().root()->childrens().size(), 0u);
  EXPECT_FALSE(layers().contains(layers().masterLayer(), g));

  tree().destroy(tree().root());
  EXPECT_NE(tree().root(), nullptr);

  VisualItem* second = tree().createWorkspaceRoot();
  ASSERT_NE(sessions().getSessionWindow(second->id()), nullptr);
  EXPECT_EQ(sessions().getSessionWindow(second->id())->getSelectionMode(), VisualItemSelectionMode::DESIGN);
  const auto secondId = second->id();
  tree().destroy(second);
  EXPECT_EQ(sessions().getSessionWindow(secondId), nullptr);
}

}  // namespace
}  // namespace qor::server::testing
