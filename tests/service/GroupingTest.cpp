// Grouping devices: which lists may be grouped, what a group of amplifiers
// looks like, how its channels follow the members, and how it survives the
// loss of a member.

#include "service/AmplifierFixture.h"

namespace qor::server::testing {
namespace {

class GroupingTest : public AmplifierFixture {
 protected:
  Device* group(const std::vector<Device*>& members) {
    return devices->createGroup(fennik::server::random_uuid(), members);
  }

  // The member features a group channel aggregates.
  template <class E>
  static std::vector<E*> members(E* groupChannel) {
    return groupChannel->childrenShareds();
  }
};

TEST_F(GroupingTest, GroupingIsAllowedOnlyForOneImplementation) {
  Device* amp1 = amplifier();
  Device* amp2 = amplifier();
  Device* speaker = amplifier(PLAIN, deviceType(DeviceTypeImplementation::SPEAKER, "S1"));
  Device* typeless = devices->create(fennik::server::random_uuid());

  EXPECT_FALSE(devices->isGroupingAllowed({}));
  EXPECT_FALSE(devices->isGroupingAllowed({amp1, speaker}));
  EXPECT_TRUE(devices->isGroupingAllowed({amp1, amp2, typeless})) << "devices without a type are ignored";
  EXPECT_FALSE(devices->isGroupingAllowed({typeless})) << "at least one device must be typed";
  EXPECT_TRUE(devices->isGroupingAllowed({speaker}));

  // A refused grouping still yields a device: an empty group that is not drawn.
  const auto id = fennik::server::random_uuid();
  Device* refused = devices->createGroup(id, {amp1, speaker});
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(refused->id(), id);
  EXPECT_TRUE(refused->getIsGroup());
  EXPECT_FALSE(refused->getIsVisual());
  EXPECT_TRUE(refused->childrenShareds().empty());
  EXPECT_EQ(refused->getAudio(), nullptr);
  EXPECT_EQ(refused->getSpecialicationId(), "00000000-0000-0000-0000-000000000000");
}

TEST_F(GroupingTest, GroupOfTwoAmplifiersJoinsTheirChannelsByKey) {
  Device* amp1 = amplifier(PLAIN);
  Device* amp2 = amplifier(LETTERED);
  Device* g = group({amp1, amp2});

  EXPECT_TRUE(g->getIsGroup());
  EXPECT_TRUE(g->getIsVisual());
  EXPECT_EQ(g->getType(), amp1->getType());
  EXPECT_EQ(g->childrenShareds(), (std::vector<Device*>{amp1, amp2}));
  EXPECT_TRUE(g->childrens().empty()) << "members are shared, not owned";
  ASSERT_NE(g->getDeviceInfo(), nullptr);
  EXPECT_EQ(g->getDeviceInfo()->getName(), "Group");
  EXPECT_EQ(amp1->getDeviceInfo()->getName(), "Amp 1") << "grouping does not rename the members";

  // Audio: one group channel per key, channel "A" of amp2 joins channel "1" of amp1.
  FtAudio* audio = g->getAudio();
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(audio->getSource(), FtSource::GROUP);
  ASSERT_EQ(audio->childrens().size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    FtAudio* ch = channel(audio, i);
    EXPECT_EQ(ch->getSource(), FtSource::GROUP_CHANNEL);
    EXPECT_TRUE(ch->getIsGroup());
    EXPECT_EQ(ch->getIndex(), static_cast<std::int32_t>(i));
    EXPECT_EQ(members(ch), (std::vector<FtAudio*>{channel(amp1->getAudio(), i), channel(amp2->getAudio(), i)}));
    // The group channel's label gathers the members' channel labels.
    ASSERT_NE(ch->getLabel(), nullptr);
    EXPECT_EQ(ch->getLabel()->childrenShareds(),
              (std::vector<FtLabel*>{channel(amp1->getLabel(), i), channel(amp2->getLabel(), i)}));
    EXPECT_FALSE(ch->getLabel()->getShortNameConsistent()) << "\"1\" and \"A\" are one channel by different names";
  }
  // Every per-channel kind shares one group label per channel.
  EXPECT_EQ(channel(g->getSupermeter(), 2)->getLabel(), channel(audio, 2)->getLabel());
  EXPECT_EQ(g->delays().size(), 2u);
  EXPECT_EQ(g->eqFilterBanks().size(), 2u);
  EXPECT_EQ(g->inputRoutings().size(), 2u);
  EXPECT_EQ(channel(g->delays()[1], 0)->childrenShareds(),
            (std::vector<FtDelay*>{channel(amp1->delays()[1], 0), channel(amp2->delays()[1], 0)}))
      << "delays join by channel type";

  // Group banks hold a group filter per filter index over the members' filters.
  FtEqFilterBank* bankChannel = channel(g->eqFilterBanks()[0], 3);
  ASSERT_EQ(bankChannel->filters().size(), 2u);
  EXPECT_EQ(bankChannel->filters()[1]->childrenShareds(),
            (std::vector<FtEqFilter*>{channel(amp1->eqFilterBanks()[0], 3)->filters()[1],
                                      channel(amp2->eqFilterBanks()[0], 3)->filters()[1]}));

  // Device-wide features carry the device label, whose short name is its
  // first channel's: they meet in one group channel.
  ASSERT_NE(g->getPower(), nullptr);
  ASSERT_EQ(g->getPower()->childrens().size(), 1u);
  EXPECT_EQ(members(channel(g->getPower(), 0)), (std::vector<FtPower*>{amp1->getPower(), amp2->getPower()}));
  EXPECT_EQ(channel(g->getPower(), 0)->getLabel(), channel(audio, 0)->getLabel());
  // Features no member has aggregate nothing and are pruned.
  EXPECT_EQ(g->getAmplifierMode(), nullptr);
  EXPECT_EQ(g->getGpio(), nullptr);
  EXPECT_NE(g->getFailoverConfig(), nullptr) << "not among the pruned slots";

  // Device states: the member states and their channel states by index.
  FtDeviceState* state = g->getDeviceState();
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->childrenShareds(), (std::vector<FtDeviceState*>{amp1->getDeviceState(), amp2->getDeviceState()}));
  ASSERT_EQ(state->channelStates().size(), 4u);
  FtChannelState* channelState = state->channelStates()[1];
  EXPECT_EQ(channelState->getSource(), FtSource::GROUP_CHANNEL);
  EXPECT_EQ(channelState->childrenShareds(),
            (std::vector<FtChannelState*>{amp1->getDeviceState()->channelStates()[1],
                                          amp2->getDeviceState()->channelStates()[1]}));
  ASSERT_NE(channelState->getLabel(), nullptr);
  EXPECT_EQ(channelState->getLabel()->getName(), "Output 2");
  EXPECT_EQ(state->getFlagNames(), FLAG_NAMES);
}

TEST_F(GroupingTest, BridgedChannelsJoinTheFirstChannelTheyCover) {
  Device* plain = amplifier(PLAIN);
  Device* bridged = amplifier(BRIDGED);
  Device* g = group({plain, bridged});
  FtAudio* audio = g->getAudio();
  ASSERT_EQ(audio->childrens().size(), 4u);
  EXPECT_EQ(members(channel(audio, 0)),
            (std::vector<FtAudio*>{channel(plain->getAudio(), 0), channel(bridged->getAudio(), 0)}));
  EXPECT_EQ(members(channel(audio, 1)), (std::vector<FtAudio*>{channel(plain->getAudio(), 1)}));
  EXPECT_EQ(members(channel(audio, 2)),
            (std::vector<FtAudio*>{channel(plain->getAudio(), 2), channel(bridged->getAudio(), 1)}));

  // A bridged amplifier first: its "3-4" opens key "3"; a later "3" joins it.
  Device* g2 = group({bridged, plain});
  FtAudio* audio2 = g2->getAudio();
  ASSERT_EQ(audio2->childrens().size(), 4u);
  EXPECT_EQ(members(channel(audio2, 1)),
            (std::vector<FtAudio*>{channel(bridged->getAudio(), 1), channel(plain->getAudio(), 2)}));
  EXPECT_EQ(bridged->getAudio()->childrens()[1]->parents().size(), 3u) << "its amplifier's audio and two groups";
}

TEST_F(GroupingTest, GroupWritesReachMembersAndMemberReportsTurnTheGroupInconsistent) {
  Device* amp1 = amplifier();
  Device* amp2 = amplifier();
  Device* g = group({amp1, amp2});
  auto audios = service<FtAudioService>();

  audios->setLevelInDb(g->getAudio(), -6.0, false);
  for (Device* amp : {amp1, amp2}) {
    for (FtAudio* ch : amp->getAudio()->childrens()) EXPECT_EQ(ch->getLevelInDb(), -6.0);
  }
  EXPECT_TRUE(g->getAudio()->getLevelInDbConsistent());
  EXPECT_EQ(channel(g->getAudio(), 0)->getLevelInDb(), -6.0);

  // amp2 reports another level on channel 3: the group channel and the group
  // turn inconsistent and keep what they showed.
  audios->setLevelInDb(channel(amp2->getAudio(), 2), -3.0, true);
  EXPECT_FALSE(channel(g->getAudio(), 2)->getLevelInDbConsistent());
  EXPECT_EQ(channel(g->getAudio(), 2)->getLevelInDb(), -6.0);
  EXPECT_FALSE(g->getAudio()->getLevelInDbConsistent());
  EXPECT_TRUE(channel(g->getAudio(), 1)->getLevelInDbConsistent());

  // Renaming a group channel renames the members' channels.
  service<FtLabelService>()->setCustomName(channel(g->getAudio(), 0)->getLabel(), "Front fill", false);
  EXPECT_EQ(channel(amp1->getLabel(), 0)->getCustomName(), "Front fill");
  EXPECT_EQ(channel(amp2->getLabel(), 0)->getCustomName(), "Front fill");
}

TEST_F(GroupingTest, LosingAMemberRebuildsTheGroupAndKeepsItsName) {
  Device* amp1 = amplifier();
  Device* amp2 = amplifier();
  Device* amp3 = amplifier(BRIDGED);
  Device* g = group({amp1, amp2, amp3});
  service<FtDeviceInfoService>()->setName(g->getDeviceInfo(), "Main hang", false);
  const std::size_t entitiesBefore = db().size();
  const auto amp3Channel = channel(amp3->getAudio(), 0)->id();

  devices->destroy(amp3);
  EXPECT_EQ(db().find(amp3Channel), nullptr) << "the device's features go with it";
  EXPECT_EQ(g->childrenShareds(), (std::vector<Device*>{amp1, amp2}));
  ASSERT_NE(g->getDeviceInfo(), nullptr);
  EXPECT_EQ(g->getDeviceInfo()->getName(), "Main hang");
  ASSERT_EQ(g->getAudio()->childrens().size(), 4u);
  EXPECT_EQ(members(channel(g->getAudio(), 0)),
            (std::vector<FtAudio*>{channel(amp1->getAudio(), 0), channel(amp2->getAudio(), 0)}));
  EXPECT_LT(db().size(), entitiesBefore);

  // revalidateGroup on an intact group rebuilds the same shape without leaks.
  const std::size_t stable = db().size();
  devices->revalidateGroup(g);
  EXPECT_EQ(db().size(), stable);
  EXPECT_EQ(g->getDeviceInfo()->getName(), "Main hang");
  EXPECT_EQ(channel(amp1->getAudio(), 0)->parents().size(), 2u) << "its amplifier's audio and the new group channel";

  // destroyGroup leaves the members and unhooks them.
  const std::size_t withGroup = db().size();
  const auto groupId = g->id();
  devices->destroyGroup(g);
  EXPECT_EQ(db().find(groupId), nullptr);
  EXPECT_TRUE(amp1->parents().empty());
  EXPECT_EQ(channel(amp1->getAudio(), 0)->parents(), (std::vector<FtAudio*>{amp1->getAudio()}));
  EXPECT_EQ(channel(amp1->getLabel(), 0)->parents(), (std::vector<FtLabel*>{amp1->getLabel()}));
  EXPECT_TRUE(amp1->getDeviceState()->parents().empty());
  EXPECT_LT(db().size(), withGroup);
  EXPECT_NE(db().find(amp2->id()), nullptr);

  devices->destroyGroup(amp1);  // not a group: nothing happens
  EXPECT_NE(db().find(amp1->id()), nullptr);
}

TEST_F(GroupingTest, NestedGroupsAggregateGroupChannels) {
  Device* inner = group({amplifier(), amplifier()});
  Device* outer = group({inner, amplifier(LETTERED)});
  ASSERT_NE(outer->getAudio(), nullptr);
  ASSERT_EQ(outer->getAudio()->childrens().size(), 4u);
  EXPECT_EQ(members(channel(outer->getAudio(), 0)).front(), channel(inner->getAudio(), 0));

  service<FtAudioService>()->setIsMuted(outer->getAudio(), true, false);
  for (Device* amp : inner->childrenShareds()) EXPECT_TRUE(channel(amp->getAudio(), 3)->getIsMuted());
  EXPECT_TRUE(channel(inner->getAudio(), 3)->getIsMuted());
}

TEST_F(GroupingTest, SpeakerChannelsJoinAndLeaveChosenGroupChannels) {
  DeviceType* speakerType = deviceType(DeviceTypeImplementation::SPEAKER, "S2");
  Device* speaker1 = amplifier({"1", "2"}, speakerType);
  Device* speaker2 = amplifier({"1", "2"}, speakerType);
  Device* g = group({speaker1});
  ASSERT_EQ(g->getAudio()->childrens().size(), 2u);

  // speaker2's second channel joins the group's first channel.
  devices->addSpeakerGroupChild(g, speaker2, 1, 0);
  EXPECT_EQ(g->childrenShareds(), (std::vector<Device*>{speaker1, speaker2}));
  EXPECT_EQ(members(channel(g->getAudio(), 0)),
            (std::vector<FtAudio*>{channel(speaker1->getAudio(), 0), channel(speaker2->getAudio(), 1)}));
  EXPECT_EQ(members(channel(g->delays()[0], 0)).back(), channel(speaker2->delays()[0], 1));
  // A group channel the group lacks is made.
  devices->addSpeakerGroupChild(g, speaker2, 0, 5);
  ASSERT_EQ(g->getAudio()->childrens().size(), 3u);
  EXPECT_EQ(channel(g->getAudio(), 2)->getIndex(), 5);

  devices->removeSpeakerGroupChild(g, speaker2, 1, 0);
  EXPECT_EQ(members(channel(g->getAudio(), 0)), (std::vector<FtAudio*>{channel(speaker1->getAudio(), 0)}));
  EXPECT_EQ(g->childrenShareds().size(), 2u) << "still joined through its first channel";
  devices->removeSpeakerGroupChild(g, speaker2, 0, 5);
  EXPECT_EQ(g->childrenShareds(), (std::vector<Device*>{speaker1}));
}

}  // namespace
}  // namespace qor::server::testing
