// Device and channel states of groups: collecting flags, holding and
// resetting the collected error, and how a group's flags follow its members.

#include "service/AmplifierFixture.h"

namespace qor::server::testing {
namespace {

class StateTest : public AmplifierFixture {
 protected:
  std::shared_ptr<FtDeviceStateService> states = service<FtDeviceStateService>();
  std::shared_ptr<FtChannelStateService> channelStates = service<FtChannelStateService>();
};

TEST_F(StateTest, CollectingAFlagOnAGroupReachesEveryMember) {
  Device* amp1 = amplifier();
  Device* amp2 = amplifier();
  Device* g = devices->createGroup(fennik::server::random_uuid(), {amp1, amp2});
  FtDeviceState* state = g->getDeviceState();

  states->collectFlag(state, "temperature", true);
  for (Device* amp : {amp1, amp2}) {
    EXPECT_EQ(amp->getDeviceState()->getFlagCollectStates(), (std::vector<bool>{false, true, false}));
  }
  EXPECT_EQ(state->getFlagCollectStates(), (std::vector<bool>{false, true, false}));
  EXPECT_EQ(state->getFlagCollectStatesConsistent(), (std::vector<bool>{true, true, true}));

  // One member stops collecting: the group no longer collects, inconsistently.
  states->collectFlag(amp2->getDeviceState(), "temperature", false);
  EXPECT_EQ(state->getFlagCollectStates(), (std::vector<bool>{false, false, false}));
  EXPECT_EQ(state->getFlagCollectStatesConsistent(), (std::vector<bool>{true, false, true}));

  // Unknown flag names change nothing.
  const auto before = amp1->getDeviceState()->getFlagCollectStates();
  states->collectFlag(state, "no such flag", true);
  EXPECT_EQ(amp1->getDeviceState()->getFlagCollectStates(), before);

  // Channel states collect the same way, per group channel.
  FtChannelState* groupChannel = state->channelStates()[2];
  channelStates->collectFlag(groupChannel, "clip", true);
  EXPECT_EQ(amp1->getDeviceState()->channelStates()[2]->getFlagCollectStates(),
            (std::vector<bool>{true, false, false}));
  EXPECT_EQ(amp2->getDeviceState()->channelStates()[2]->getFlagCollectStates(),
            (std::vector<bool>{true, false, false}));
  EXPECT_TRUE(amp1->getDeviceState()->channelStates()[1]->getFlagCollectStates().empty());
  EXPECT_EQ(groupChannel->getFlagCollectStates(), (std::vector<bool>{true, false, false}));
}

TEST_F(StateTest, AGroupRaisesAFlagOrErrorWhenAnyMemberDoes) {
  Device* amp1 = amplifier();
  Device* amp2 = amplifier();
  Device* g = devices->createGroup(fennik::server::random_uuid(), {amp1, amp2});
  Device* outer = devices->createGroup(fennik::server::random_uuid(), {g, amplifier()});
  FtDeviceState* state = g->getDeviceState();

  states->setFlagStates(amp2->getDeviceState(), {false, true, false}, true);
  EXPECT_EQ(state->getFlagStates(), (std::vector<bool>{false, true, false}));
  EXPECT_EQ(state->getFlagStatesConsistent(), (std::vector<bool>{true, false, true}));
  EXPECT_EQ(outer->getDeviceState()->getFlagStates(), (std::vector<bool>{false, true, false}));

  states->setError(amp1->getDeviceState(), true, true);
  EXPECT_TRUE(state->getError());
  EXPECT_FALSE(state->getErrorConsistent());
  EXPECT_TRUE(outer->getDeviceState()->getError()) << "the error climbs to every ancestor";
  states->setError(amp1->getDeviceState(), false, true);
  EXPECT_FALSE(state->getError());
  EXPECT_TRUE(state->getErrorConsistent());

  channelStates->setFlagStates(amp1->getDeviceState()->channelStates()[0], {true, false, false}, true);
  EXPECT_EQ(state->channelStates()[0]->getFlagStates(), (std::vector<bool>{true, false, false}));
}

TEST_F(StateTest, HoldAndResetTheCollectedError) {
  auto s = states;
  FtDeviceState* group = s->create();
  FtDeviceState* owned = s->create();
  FtDeviceState* shared = s->create();
  s->addChild(group, owned, true);
  s->addChild(group, shared, false);

  s->setHoldCollectedError(group, true);
  EXPECT_TRUE(group->getIsCollectedErrorHold());
  EXPECT_TRUE(owned->getIsCollectedErrorHold());
  EXPECT_TRUE(shared->getIsCollectedErrorHold()) << "the normal write spreads to all members";
  s->setIsCollectedErrorHold(shared, false, true);
  EXPECT_FALSE(group->getIsCollectedErrorHoldConsistent());

  std::vector<bool> triggers;
  auto connection = owned->onResetCollectedErrorChanged([&](const bool& v, bool) { triggers.push_back(v); });
  s->resetCollectedError(owned);
  s->resetCollectedError(owned);
  EXPECT_EQ(triggers, (std::vector<bool>{true, false})) << "every call is a change";
  s->resetCollectedError(nullptr);
  s->setHoldCollectedError(nullptr, true);
}

TEST_F(StateTest, DestroyingADeviceStateTakesItsChannelStates) {
  Device* amp = amplifier();
  FtDeviceState* state = amp->getDeviceState();
  const auto channelId = state->channelStates()[0]->id();
  amp->setDeviceState(nullptr);
  states->destroy(state);
  EXPECT_EQ(db().find(channelId), nullptr);
}

}  // namespace
}  // namespace qor::server::testing
