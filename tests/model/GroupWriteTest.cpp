// The two write paths over the group graph: normal writes spread down every
// level and across links and re-aggregate ancestors; external writes change
// one entity and re-aggregate upwards. Plus the signal rules of each path.

#include "ModelFixture.h"

#include "qor/server/services/FtAudioService.h"
#include "qor/server/services/FtDelayService.h"
#include "qor/server/services/FtLabelService.h"

#include <string>
#include <vector>

namespace qor::server::testing {
namespace {

class GroupWriteTest : public ModelFixture {
 protected:
  std::shared_ptr<FtDelayService> delays = service<FtDelayService>();

  // top -> {mid1 -> {a, b}, mid2 -> {c}}; a is linked with peer, which sits
  // in its own group `other`.
  FtDelay* top = delays->create();
  FtDelay* mid1 = delays->create();
  FtDelay* mid2 = delays->create();
  FtDelay* a = delays->create();
  FtDelay* b = delays->create();
  FtDelay* c = delays->create();
  FtDelay* peer = delays->create();
  FtDelay* other = delays->create();
  FtDelay* otherMember = delays->create();

  void SetUp() override {
    delays->addChild(mid1, a, true);
    delays->addChild(mid1, b, true);
    delays->addChild(mid2, c, true);
    delays->addChild(top, mid1, true);
    delays->addChild(top, mid2, true);
    delays->addChild(other, peer, true);
    delays->addChild(other, otherMember, true);
    a->addLinked(peer);
    peer->addLinked(a);
  }
};

TEST_F(GroupWriteTest, NormalWriteReachesEveryDepthAndLinkedPeersAndReaggregatesTheirGroups) {
  delays->setDelayInMs(b, 9.0, true);  // make mid1 and top inconsistent first
  ASSERT_FALSE(top->getDelayInMsConsistent());

  delays->setDelayInMs(top, 7.5, false);
  for (FtDelay* d : {top, mid1, mid2, a, b, c}) {
    EXPECT_EQ(d->getDelayInMs(), 7.5);
    EXPECT_TRUE(d->getDelayInMsConsistent());
  }
  EXPECT_EQ(peer->getDelayInMs(), 7.5) << "linked peers mirror normal writes";
  EXPECT_FALSE(other->getDelayInMsConsistent()) << "the peer's own group was re-aggregated";
  EXPECT_EQ(otherMember->getDelayInMs(), 0.0) << "the peer's siblings are not written";

  delays->setDelayInMs(otherMember, 7.5, true);
  EXPECT_TRUE(other->getDelayInMsConsistent());
}

TEST_F(GroupWriteTest, NormalWriteToOneMemberReaggregatesEveryAncestor) {
  delays->setDelayInMs(top, 2.0, false);
  delays->setDelayInMs(c, 3.0, false);
  EXPECT_EQ(mid2->getDelayInMs(), 3.0);
  EXPECT_TRUE(mid2->getDelayInMsConsistent());
  EXPECT_FALSE(top->getDelayInMsConsistent());
  EXPECT_EQ(top->getDelayInMs(), 2.0);
  EXPECT_EQ(mid1->getDelayInMs(), 2.0) << "siblings of the written member keep their values";
}

TEST_F(GroupWriteTest, ExternalWriteChangesOneEntityAndReaggregatesUpwards) {
  delays->setDelayInMs(top, 1.0, false);
  delays->setDelayInMs(a, 4.0, true);
  EXPECT_EQ(a->getDelayInMs(), 4.0);
  EXPECT_EQ(b->getDelayInMs(), 1.0);
  EXPECT_EQ(peer->getDelayInMs(), 1.0) << "device reports are not mirrored to links";
  EXPECT_FALSE(mid1->getDelayInMsConsistent());
  EXPECT_FALSE(top->getDelayInMsConsistent()) << "two levels up";

  // A member whose companion went false is repaired by a report of the same value.
  a->setDelayInMsConsistent(false, false);
  delays->setDelayInMs(a, 1.0, true);
  delays->setDelayInMs(a, 1.0, true);
  EXPECT_TRUE(a->getDelayInMsConsistent());
  EXPECT_TRUE(mid1->getDelayInMsConsistent());
  EXPECT_TRUE(top->getDelayInMsConsistent());
}

TEST_F(GroupWriteTest, FieldsWithoutConsistencyNeitherSpreadNorAggregate) {
  delays->setIndex(top, 5, false);
  EXPECT_EQ(top->getIndex(), 5);
  EXPECT_EQ(a->getIndex(), 0);

  int fired = 0;
  auto connection = a->onIndexChanged([&](const std::int32_t&, bool) { ++fired; });
  delays->setIndex(a, 0, true);
  EXPECT_EQ(fired, 0) << "an external write of the current value is no change";
  delays->setIndex(a, 0, false);
  EXPECT_EQ(fired, 1) << "a normal write always stores and fires";
  EXPECT_EQ(top->getIndex(), 5);
}

TEST_F(GroupWriteTest, SignalRulesOfTheEntityLevelWrites) {
  struct Seen {
    double value;
    bool external;
  };
  std::vector<Seen> fieldSignals;
  std::vector<std::pair<std::string, bool>> changes;
  auto c1 = a->onDelayInMsChanged([&](const double& v, bool external) { fieldSignals.push_back({v, external}); });
  auto c2 = a->onChanged([&](fennik::server::Entity* e, std::string_view key, bool external) {
    EXPECT_EQ(e, a);
    changes.emplace_back(std::string(key), external);
  });

  EXPECT_FALSE(a->setDelayInMs(0.0, true)) << "external write of the current value reports unchanged";
  EXPECT_TRUE(fieldSignals.empty());
  EXPECT_TRUE(changes.empty());

  EXPECT_TRUE(a->setDelayInMs(0.0, false));
  ASSERT_EQ(fieldSignals.size(), 1u);
  EXPECT_FALSE(fieldSignals[0].external);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], (std::pair<std::string, bool>{"delayInMs", false}));

  EXPECT_TRUE(a->setDelayInMs(2.5, true));
  EXPECT_EQ(fieldSignals.back().value, 2.5);
  EXPECT_TRUE(fieldSignals.back().external);
  EXPECT_EQ(changes.back(), (std::pair<std::string, bool>{"delayInMs", true}));

  FtDelay::DelayInMsSetter(a, 2.5);
  EXPECT_FALSE(fieldSignals.back().external) << "the plain setter never compares and fires with external false";
  EXPECT_EQ(fieldSignals.size(), 3u);

  changes.clear();
  auto* label = service<FtLabelService>()->create();
  a->setLabel(label);
  delays->removeChild(mid1, a);
  std::vector<std::string> keys;
  for (const auto& [key, external] : changes) {
    keys.push_back(key);
    EXPECT_FALSE(external) << key;
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"set_label_", "del_parent_"}));
}

TEST_F(GroupWriteTest, EachServiceAggregatesItsOwnTypeInFieldOrder) {
  auto audios = service<FtAudioService>();
  FtAudio* group = audios->create();
  FtAudio* x = audios->create();
  audios->addChild(group, x, true);
  audios->setLevelInDb(group, -6.0, false);
  EXPECT_EQ(x->getLevelInDb(), -6.0);
  EXPECT_EQ(a->getDelayInMs(), 0.0);
  EXPECT_TRUE(audios->aggregators().size() > 1);
  EXPECT_EQ(audios->aggregators().front()->fieldName(), std::string("bridgeMode"));
}

}  // namespace
}  // namespace qor::server::testing
