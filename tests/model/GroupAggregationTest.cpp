// How a group shows its members' values: the common value with a consistent
// flag, the default for an empty group, and what makes it inconsistent.

#include "ModelFixture.h"

#include "qor/server/services/FtDelayService.h"
#include "qor/server/services/FtLabelService.h"

#include <cmath>
#include <limits>

namespace qor::server::testing {
namespace {

class GroupAggregationTest : public ModelFixture {
 protected:
  std::shared_ptr<FtDelayService> delays = service<FtDelayService>();

  FtDelay* member(double ms) {
    FtDelay* d = delays->create();
    delays->setDelayInMs(d, ms, true);
    return d;
  }
};

TEST_F(GroupAggregationTest, GroupShowsAgreedValueAndTurnsInconsistentWhenMembersDisagree) {
  FtDelay* group = delays->create();
  FtDelay* a = member(3.0);
  FtDelay* b = member(3.0);
  delays->addChild(group, a, true);
  delays->addChild(group, b, true);
  EXPECT_EQ(group->getDelayInMs(), 3.0);
  EXPECT_TRUE(group->getDelayInMsConsistent());

  delays->setDelayInMs(b, 4.0, true);
  EXPECT_EQ(b->getDelayInMs(), 4.0);
  EXPECT_EQ(group->getDelayInMs(), 3.0) << "an inconsistent group keeps its last value";
  EXPECT_FALSE(group->getDelayInMsConsistent());

  delays->setDelayInMs(a, 4.0, true);
  EXPECT_EQ(group->getDelayInMs(), 4.0);
  EXPECT_TRUE(group->getDelayInMsConsistent());
}

TEST_F(GroupAggregationTest, MemberWhoseOwnCompanionIsFalseMakesGroupInconsistentWhateverTheValues) {
  FtDelay* inner = delays->create();
  FtDelay* outer = delays->create();
  FtDelay* a = member(5.0);
  FtDelay* b = member(6.0);
  FtDelay* c = member(5.0);
  delays->addChild(inner, a, true);
  delays->addChild(inner, b, true);
  ASSERT_FALSE(inner->getDelayInMsConsistent());
  // inner still shows 5.0 (its value from a), the same as c, yet outer must
  // not claim consistency over a member that is itself mixed.
  inner->setDelayInMs(5.0, false);
  delays->addChild(outer, inner, true);
  delays->addChild(outer, c, true);
  EXPECT_FALSE(outer->getDelayInMsConsistent());

  // The first member counts too, not only the ones after it.
  FtDelay* outer2 = delays->create();
  delays->addChild(outer2, c, false);
  delays->addChild(outer2, inner, false);
  EXPECT_FALSE(outer2->getDelayInMsConsistent());
}

TEST_F(GroupAggregationTest, EmptyGroupShowsDefaultAndIsConsistent) {
  FtDelay* group = delays->create();
  FtDelay* a = member(8.0);
  FtDelay* b = member(9.0);
  delays->addChild(group, a, false);
  delays->addChild(group, b, false);
  ASSERT_FALSE(group->getDelayInMsConsistent());

  delays->removeChild(group, a);
  EXPECT_EQ(group->getDelayInMs(), 9.0);
  EXPECT_TRUE(group->getDelayInMsConsistent());

  delays->removeChild(group, b);
  EXPECT_EQ(group->getDelayInMs(), FtDelay::getDelayInMsDefaultValue());
  EXPECT_TRUE(group->getDelayInMsConsistent());
  EXPECT_TRUE(group->childrenShareds().empty());
  EXPECT_TRUE(a->parents().empty());

  // aggregateFields on a group that never had members also settles on the default.
  FtDelay* lonely = delays->create();
  lonely->setDelayInMs(2.0, false);
  lonely->setDelayInMsConsistent(false, false);
  delays->aggregateFields(lonely);
  EXPECT_EQ(lonely->getDelayInMs(), 0.0);
  EXPECT_TRUE(lonely->getDelayInMsConsistent());
}

TEST_F(GroupAggregationTest, NanNeverAgreesAndEveryConsistentFieldAggregatesOnItsOwn) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  FtDelay* group = delays->create();
  FtDelay* a = member(nan);
  FtDelay* b = member(nan);
  delays->addChild(group, a, true);
  delays->addChild(group, b, true);
  EXPECT_FALSE(group->getDelayInMsConsistent());
  // isBypassed and bridgeMode agree, so they stay consistent.
  EXPECT_TRUE(group->getIsBypassedConsistent());
  EXPECT_TRUE(group->getBridgeModeConsistent());

  delays->setIsBypassed(a, true, true);
  EXPECT_FALSE(group->getIsBypassedConsistent());
  delays->setIsBypassed(b, true, true);
  EXPECT_TRUE(group->getIsBypassed());
  EXPECT_TRUE(group->getIsBypassedConsistent());
}

TEST_F(GroupAggregationTest, MemberFilterExcludesMembersFromTheAggregate) {
  auto labels = service<FtLabelService>();
  FtLabel* group = labels->create();
  FtLabel* a = labels->create();
  FtLabel* b = labels->create();
  labels->setName(a, "Left", true);
  labels->setName(b, "Right", true);
  labels->addChild(group, a, true);
  labels->addChild(group, b, true);
  EXPECT_FALSE(group->getNameConsistent());

  // A service may narrow an aggregator to the members it cares about.
  struct FilteredLabels : FtLabelService {
    using FtLabelService::FtLabelService;
    void onlyReacting() {
      nameAggregator_.setFilter([](const FtLabel* l) { return l->getIsReactingOnRealAmpChannel(); });
    }
  };
  FilteredLabels filtered(context()->db(), context()->loop(), context()->services());
  filtered.onlyReacting();
  a->setIsReactingOnRealAmpChannel(true, false);
  filtered.aggregateFields(group);
  EXPECT_EQ(group->getName(), "Left");
  EXPECT_TRUE(group->getNameConsistent());

  // A normal write skips rejected nodes but still reaches their members.
  filtered.setName(group, "Both", false);
  EXPECT_EQ(a->getName(), "Both");
  EXPECT_EQ(b->getName(), "Right");
  // The group itself is rejected, but re-aggregation over the accepted member follows it.
  EXPECT_EQ(group->getName(), "Both");
}

}  // namespace
}  // namespace qor::server::testing
