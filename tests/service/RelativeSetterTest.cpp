// Relative changes over groups: every target moves by the same amount, and
// the clamped setters narrow that amount to what the most constrained target
// allows.

#include "service/AmplifierFixture.h"

#include "qor/server/services/FtDeviceStateRemoteDeviceService.h"

namespace qor::server::testing {
namespace {

class RelativeSetterTest : public AmplifierFixture {
 protected:
  FtDelay* delay(double ms, double max, bool reacting) {
    auto delays = service<FtDelayService>();
    FtDelay* d = delays->create();
    delays->setDelayInMsMax(d, max, false);
    delays->setDelayInMs(d, ms, false);
    delays->setIsReactingOnRealAmpChannel(d, reacting, false);
    return d;
  }
};

TEST_F(RelativeSetterTest, DelayMovesAllReactingTargetsByTheMostConstrainedDelta) {
  auto delays = service<FtDelayService>();
  FtDelay* a = delay(3.0, 100.0, true);
  FtDelay* b = delay(10.0, 100.0, true);
  FtDelay* idle = delay(1.0, 100.0, false);
  FtDelay* group = groupOver<FtDelay>({a, b, idle}, true);

  delays->setDelayInMsRelative(group, -5.0);
  EXPECT_DOUBLE_EQ(a->getDelayInMs(), 0.0);
  EXPECT_DOUBLE_EQ(b->getDelayInMs(), 7.0);
  EXPECT_DOUBLE_EQ(idle->getDelayInMs(), 1.0) << "a non-reacting member neither limits nor moves";
  EXPECT_FALSE(group->getDelayInMsConsistent()) << "the group was recalculated";

  // +5.0 with a 12.0 ms maximum: 0/7 would become 5/12.
  delays->setDelayInMsMax(a, 12.0, false);
  delays->setDelayInMsMax(b, 12.0, false);
  delays->setDelayInMsRelative(group, +5.0);
  EXPECT_DOUBLE_EQ(a->getDelayInMs(), 5.0);
  EXPECT_DOUBLE_EQ(b->getDelayInMs(), 12.0);
  delays->setDelayInMsRelative(group, +5.0);
  EXPECT_DOUBLE_EQ(b->getDelayInMs(), 12.0) << "already at the maximum";
  EXPECT_DOUBLE_EQ(a->getDelayInMs(), 5.0);

  // The idle member's low value would have limited a -5 step; it does not.
  delays->setDelayInMsRelative(group, -5.0);
  EXPECT_DOUBLE_EQ(a->getDelayInMs(), 0.0);
  EXPECT_DOUBLE_EQ(b->getDelayInMs(), 7.0);

  // Linked peers of a visited node are targets too.
  FtDelay* peer = delay(2.0, 100.0, true);
  a->addLinked(peer);
  delays->setDelayInMsRelative(group, +1.0);
  EXPECT_DOUBLE_EQ(peer->getDelayInMs(), 3.0);
  EXPECT_DOUBLE_EQ(a->getDelayInMs(), 1.0);
  delays->setDelayInMsRelative(nullptr, 1.0);
}

TEST_F(RelativeSetterTest, DelayOfAnAmplifierGroupMovesEveryMemberChannel) {
  Device* amp1 = amplifier();
  Device* amp2 = amplifier();
  auto delays = service<FtDelayService>();
  delays->setDelayInMs(channel(amp1->delays()[0], 0), 20.0, false);
  Device* g = devices->createGroup(fennik::server::random_uuid(), {amp1, amp2});

  delays->setDelayInMsRelative(g->delays()[0], 2.5);
  EXPECT_DOUBLE_EQ(channel(amp1->delays()[0], 0)->getDelayInMs(), 22.5);
  EXPECT_DOUBLE_EQ(channel(amp2->delays()[0], 0)->getDelayInMs(), 2.5);
  EXPECT_DOUBLE_EQ(channel(amp2->delays()[0], 3)->getDelayInMs(), 2.5);
  EXPECT_DOUBLE_EQ(channel(amp2->delays()[1], 3)->getDelayInMs(), 0.0) << "the array delays are another group";
  EXPECT_TRUE(channel(g->delays()[0], 3)->getDelayInMsConsistent());
  EXPECT_DOUBLE_EQ(channel(g->delays()[0], 3)->getDelayInMs(), 2.5);
  EXPECT_FALSE(channel(g->delays()[0], 0)->getDelayInMsConsistent());
}

TEST_F(RelativeSetterTest, AudioLevelAndTrimMoveUnclampedAndIgnoreExternalCalls) {
  auto audios = service<FtAudioService>();
  FtAudio* a = audios->create();
  FtAudio* b = audios->create();
  audios->setLevelInDb(a, -79.0, false);
  audios->setLevelInDb(b, 0.0, false);
  FtAudio* group = groupOver<FtAudio>({a, b}, true);

  audios->setLevelInDbRelative(group, -3.0, false);
  EXPECT_DOUBLE_EQ(a->getLevelInDb(), -82.0) << "no clamping below the minimum";
  EXPECT_DOUBLE_EQ(b->getLevelInDb(), -3.0);
  EXPECT_DOUBLE_EQ(b->getLevelInDbChannelMax(), -3.0);
  EXPECT_DOUBLE_EQ(b->getLevelInDbChannelMin(), -3.0);

  audios->setTrimInDbRelative(group, 1.5, false);
  EXPECT_DOUBLE_EQ(a->getTrimInDb(), 1.5);
  EXPECT_DOUBLE_EQ(b->getTrimInDbChannelMax(), 1.5);
  EXPECT_TRUE(group->getTrimInDbConsistent());
  EXPECT_DOUBLE_EQ(group->getTrimInDb(), 1.5);

  audios->setLevelInDbRelative(group, 10.0, true);
  EXPECT_DOUBLE_EQ(b->getLevelInDb(), -3.0) << "devices never report relative changes";
}

TEST_F(RelativeSetterTest, OtherRelativeSettersClampToEachTargetsOwnRange) {
  auto generators = service<FtSignalGeneratorService>();
  FtSignalGenerator* g1 = generators->create();  // range -60 .. 10 dB
  FtSignalGenerator* g2 = generators->create();
  generators->setLevelInDb(g1, 8.0, false);
  generators->setLevelInDb(g2, -10.0, false);
  FtSignalGenerator* generatorGroup = groupOver<FtSignalGenerator>({g1, g2}, true);
  generators->setLevelInDbRelative(generatorGroup, 6.0);
  EXPECT_DOUBLE_EQ(g1->getLevelInDb(), 10.0);
  EXPECT_DOUBLE_EQ(g2->getLevelInDb(), -8.0);

  auto loads = service<FtLoadService>();
  FtLoad* l1 = loads->create();
  FtLoad* l2 = loads->create();
  loads->setThresholdMin(l1, 9990.0, false);
  loads->setThresholdMin(l2, 100.0, false);
  loads->setOutputPilotFreq(l1, 20.0, false);
  loads->setOutputPilotFreq(l2, 19000.0, false);
  FtLoad* loadGroup = groupOver<FtLoad>({l1, l2}, true);
  loads->setThresholdMinRelative(loadGroup, 50.0);
  EXPECT_DOUBLE_EQ(l1->getThresholdMin(), 10000.0);
  EXPECT_DOUBLE_EQ(l2->getThresholdMin(), 110.0);
  loads->setOutputPilotFreqRelative(loadGroup, -100.0);
  EXPECT_DOUBLE_EQ(l1->getOutputPilotFreq(), 20.0) << "already at its 20 Hz minimum";
  EXPECT_DOUBLE_EQ(l2->getOutputPilotFreq(), 19000.0);
  loads->setThresholdMaxEOLRelative(l2, 0.5);  // minimum 1.0: from 0.0 it may only rise to 1.0 or more
  EXPECT_DOUBLE_EQ(l2->getThresholdMaxEOL(), 1.0);

  auto remotes = service<FtDeviceStateRemoteDeviceService>();
  FtDeviceStateRemoteDevice* r = remotes->create();  // range 0 .. 10
  remotes->setDebounceTimeRelative(r, 4);
  remotes->setDebounceTimeRelative(r, 4);
  remotes->setDebounceTimeRelative(r, 4);
  EXPECT_EQ(r->getErrorDebounceTime(), 10);
  remotes->setDebounceTimeRelative(r, -25);
  EXPECT_EQ(r->getErrorDebounceTime(), 0);
}

}  // namespace
}  // namespace qor::server::testing
