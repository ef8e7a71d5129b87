// Building and tearing down the group graph: joining twice, destroying a
// group with owned and shared-only members, re-aggregating a loaded project
// nested groups first, and binding relation pointers after loading.

#include "ModelFixture.h"

#include "qor/server/services/DeviceService.h"
#include "qor/server/services/FtDelayService.h"
#include "qor/server/services/FtLabelService.h"
#include "qor/server/services/FtPowerService.h"

#include "fennik/server/project/FileContainer.h"

namespace qor::server::testing {
namespace {

class GroupStructureTest : public ModelFixture {
 protected:
  std::shared_ptr<FtDelayService> delays = service<FtDelayService>();
};

TEST_F(GroupStructureTest, AddingTheSameMemberTwiceKeepsItOnceAtTheEnd) {
  FtDelay* group = delays->create();
  FtDelay* a = delays->create();
  FtDelay* b = delays->create();
  delays->addChild(group, a, true);
  delays->addChild(group, b, true);
  delays->addChild(group, a, true);
  EXPECT_EQ(group->childrens(), (std::vector<FtDelay*>{b, a}));
  EXPECT_EQ(group->childrenShareds(), (std::vector<FtDelay*>{b, a}));
  EXPECT_EQ(group->childrenIds(), (std::vector<fennik::server::Uuid>{b->id(), a->id()}));
  EXPECT_EQ(a->parents(), (std::vector<FtDelay*>{group}));

  // Joining as shared-only does not touch the owned list.
  FtDelay* c = delays->create();
  delays->addChild(group, c, false);
  EXPECT_EQ(group->childrens().size(), 2u);
  EXPECT_EQ(group->childrenShareds().back(), c);
}

TEST_F(GroupStructureTest, DestroyTakesOwnedMembersKeepsSharedOnesAndReaggregatesFormerParents) {
  FtDelay* outer = delays->create();
  FtDelay* group = delays->create();
  FtDelay* owned = delays->create();
  FtDelay* ownedGrandchild = delays->create();
  FtDelay* shared = delays->create();
  FtDelay* sibling = delays->create();
  FtDelay* peer = delays->create();
  delays->addChild(owned, ownedGrandchild, true);
  delays->addChild(group, owned, true);
  delays->addChild(group, shared, false);
  delays->addChild(outer, group, true);
  delays->addChild(outer, sibling, true);
  group->addLinked(peer);
  peer->addLinked(group);
  delays->setDelayInMs(shared, 5.0, true);
  delays->setDelayInMs(sibling, 5.0, true);
  ASSERT_FALSE(outer->getDelayInMsConsistent());

  const auto ids = std::vector{group->id(), owned->id(), ownedGrandchild->id()};
  delays->destroy(group);
  for (const auto& id : ids) EXPECT_EQ(db().find(id), nullptr);
  ASSERT_EQ(db().find(shared->id()), shared);
  EXPECT_TRUE(shared->parents().empty());
  EXPECT_TRUE(peer->linkeds().empty());
  EXPECT_EQ(outer->childrenShareds(), (std::vector<FtDelay*>{sibling}));
  EXPECT_TRUE(outer->getDelayInMsConsistent()) << "former parents are re-aggregated";
  EXPECT_EQ(outer->getDelayInMs(), 5.0);

  delays->destroy(nullptr);
  delays->addChild(nullptr, sibling, true);
  delays->removeChild(outer, nullptr);
}

TEST_F(GroupStructureTest, ReaggregateAllAggregatesNestedGroupsBeforeTheirContainers) {
  // Created top first, so walking in insertion order would aggregate it
  // before the middle group had its members' value.
  FtDelay* top = delays->create();
  FtDelay* middle = delays->create();
  FtDelay* a = delays->create();
  FtDelay* b = delays->create();
  // Wire the graph as a loaded project has it: relations only, values stale.
  for (auto [group, member] : {std::pair{middle, a}, std::pair{middle, b}, std::pair{top, middle}}) {
    group->addChildren(member);
    group->addChildrenShared(member);
    member->addParent(group);
  }
  a->setDelayInMs(12.0, false);
  b->setDelayInMs(12.0, false);
  top->setDelayInMsConsistent(false, false);

  delays->loadedFinished();
  EXPECT_EQ(middle->getDelayInMs(), 12.0);
  EXPECT_EQ(top->getDelayInMs(), 12.0);
  EXPECT_TRUE(top->getDelayInMsConsistent());
}

TEST_F(GroupStructureTest, ReportsWhileAProjectLoadsReachTheGroupsOnceTheLoadHasFinished) {
  auto powers = service<FtPowerService>();
  FtDelay* delayGroup = delays->create();
  FtPower* powerGroup = powers->create();
  std::vector<FtDelay*> delayMembers;
  std::vector<FtPower*> powerMembers;
  for (int i = 0; i < 3; ++i) {
    delayMembers.push_back(delays->create());
    delays->addChild(delayGroup, delayMembers.back(), true);
    powerMembers.push_back(powers->create());
    powers->addChild(powerGroup, powerMembers.back(), true);
  }
  fennik::server::FileContainer container(std::filesystem::temp_directory_path());
  for (fennik::server::Service* s :
       {static_cast<fennik::server::Service*>(delays.get()), static_cast<fennik::server::Service*>(powers.get())})
    s->load(container);
  // Devices connecting during the load report their values.
  for (int i = 0; i < 3; ++i) {
    delays->setDelayInMs(delayMembers[i], 4.5, true);
    powers->setCountPowered(powerMembers[i], 1, true);
  }
  delays->loadedFinished();
  powers->loadedFinished();
  EXPECT_EQ(delayGroup->getDelayInMs(), 4.5);
  EXPECT_TRUE(delayGroup->getDelayInMsConsistent());
  EXPECT_EQ(powerGroup->getCountPowered(), 3) << "the group sums its members once they have all reported";

  // Once loaded, every report reaches the groups at once again.
  delays->setDelayInMs(delayMembers[0], 7.0, true);
  powers->setCountPowered(powerMembers[0], 0, true);
  EXPECT_FALSE(delayGroup->getDelayInMsConsistent());
  EXPECT_EQ(powerGroup->getCountPowered(), 2);

  // A load that fails half way ends with the project's close: reports after
  // it reach the groups at once, too.
  powers->load(container);
  powers->unloaded();
  powers->setCountPowered(powerMembers[1], 0, true);
  EXPECT_EQ(powerGroup->getCountPowered(), 1);
}

TEST_F(GroupStructureTest, ResolvePointersBindsIdsAndLeavesUnknownOrMistypedTargetsEmpty) {
  FtDelay* group = delays->create();
  FtDelay* member = delays->create();
  FtDelay* notALabel = delays->create();
  FtLabel* label = service<FtLabelService>()->create();
  const auto missing = fennik::server::random_uuid();

  auto loaded = FtDelay::createDefaultInitialized(fennik::server::random_uuid());
  loaded->setChildrenSharedIds({member->id(), missing});
  loaded->setParentIds({group->id()});
  loaded->setLabelId(label->id());
  EXPECT_TRUE(loaded->childrenShareds().empty()) << "setting ids clears the pointers until resolution";

  auto lookup = [&](const fennik::server::Uuid& id) { return db().find(id); };
  loaded->resolvePointers(lookup);
  EXPECT_EQ(loaded->childrenShareds(), (std::vector<FtDelay*>{member, nullptr}));
  EXPECT_EQ(loaded->childrenSharedIds().size(), 2u);
  EXPECT_EQ(loaded->parents(), (std::vector<FtDelay*>{group}));
  EXPECT_EQ(loaded->getLabel(), label);

  loaded->setLabelId(notALabel->id());
  loaded->resolvePointers(lookup);
  EXPECT_EQ(loaded->getLabel(), nullptr);
  EXPECT_EQ(loaded->labelId(), notALabel->id());

  // Aggregation and recalculation step over the unresolved member.
  db().add(loaded);
  delays->setDelayInMs(member, 3.0, true);
  delays->aggregateFields(loaded.get());
  EXPECT_EQ(loaded->getDelayInMs(), 3.0);
}

TEST_F(GroupStructureTest, DevicesGroupLikeFeatures) {
  auto devices = service<DeviceService>();
  Device* group = devices->create();
  Device* a = devices->create();
  Device* b = devices->create();
  devices->addChild(group, a, false);
  devices->addChild(group, b, false);
  devices->setDeviceId(a, "AMP-1", true);
  EXPECT_FALSE(group->getDeviceIdConsistent());
  devices->setDeviceId(group, "AMP", false);
  EXPECT_EQ(b->getDeviceId(), "AMP");
  EXPECT_TRUE(group->getDeviceIdConsistent());
  devices->destroy(group);
  EXPECT_EQ(db().find(a->id()), a) << "shared-only members survive their group";
}

}  // namespace
}  // namespace qor::server::testing
