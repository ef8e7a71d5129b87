// Wiring as a user does it: the connector dialogue between amplifier
// channels and loudspeaker inputs, the links that wired amplifier channels
// share, and amplifier modes releasing the wiring of their channels.

#include "custom/livesound/ProjectFixture.h"
#include "service/FeatureServices.h"
#include "service/FtConnectorService.h"

#include "qor/server/services/DeviceService.h"

#include <algorithm>

namespace qor::server::testing {
namespace {

template <class E>
bool holds(fennik::server::ListView<E*> list, const E* e) {
  return std::find(list.begin(), list.end(), e) != list.end();
}

template <class E>
E* channel(E* feature, int index) {
  for (E* c : feature->childrens()) {
    if (c->getIndex() == index) return c;
  }
  return nullptr;
}

template <class E>
E* ofType(fennik::server::ListView<E*> features, FtChannelType type) {
  for (E* f : features) {
    if (f->getChannelType() == type) return f;
  }
  return nullptr;
}

class WiringTest : public ProjectFixture {
 protected:
  Device* amp() { return livesound().deviceAdd(qa8(), 0, 0, true); }
  static FtConnector* out(const Device* d, int index) { return channel(d->getConnector(), index); }
  static FtAudio* audio(const Device* d, int index) { return channel(d->getAudio(), index); }
  static FtSupermeter* meter(const Device* d, int index) { return channel(d->getSupermeter(), index); }
  static FtDelay* delay(const Device* d, FtChannelType type, int index) {
    return channel(ofType(d->delays(), type), index);
  }
  static FtEqFilterBank* bank(const Device* d, FtChannelType type, int index) {
    return channel(ofType(d->eqFilterBanks(), type), index);
  }

  // The three steps a client takes to wire (or unwire) two connectors.
  void connect(FtConnector* from, FtConnector* to) {
    livesound().connectorStart(from);
    livesound().connectorSelect(to);
    livesound().connectorFinish();
  }

  SessionWindow* window() const { return service<SessionWindowService>()->currentSessionWindow(); }

  // A loudspeaker as the speaker devices build it: a connector (SPEAKER)
  // with one input per channel naming the device, and per-channel audio,
  // meter and speaker-setting features.
  Device* speaker(int inputs) {
    auto devices = service<DeviceService>();
    Device* d = devices->create(fennik::server::random_uuid());
    auto connectors = service<FtConnectorService>();
    FtConnector* parent = connectors->create();
    connectors->setPlacement(parent, FtConnectorPlacement::SPEAKER, false);
    connectors->setSubject(parent, d->id(), false);
    d->setConnector(parent);
    d->setAudio(service<FtAudioService>()->create());
    d->setSupermeter(service<FtSupermeterService>()->create());
    d->setSpeakerSetting(service<FtSpeakerSettingService>()->create());
    for (int i = 0; i < inputs; ++i) {
      FtConnector* in = connectors->create();
      connectors->setPlacement(in, FtConnectorPlacement::SPEAKER_INPUT, false);
      connectors->setSubject(in, d->id(), false);
      connectors->setIndex(in, i, false);
      connectors->addChild(parent, in, true);
      addChannel(*service<FtAudioService>(), d->getAudio(), i);
      addChannel(*service<FtSupermeterService>(), d->getSupermeter(), i);
      addChannel(*service<FtSpeakerSettingService>(), d->getSpeakerSetting(), i);
    }
    return d;
  }
  template <class S, class E>
  static void addChannel(S& service, E* parent, int index) {
    E* c = service.create();
    service.setIndex(c, index, false);
    service.addChild(parent, c, true);
  }
};

TEST_F(WiringTest, WiredAmplifierChannelsShareAudioMetersAndMatchingDelaysAndEqualisers) {
  Device* a = amp();
  Device* b = amp();
  connect(out(a, 0), out(b, 0));
  ASSERT_EQ(out(b, 0)->getSignalSource(), out(a, 0));

  // Audio and meters: each channel has the other as its one peer.
  EXPECT_EQ(audio(a, 0)->linkeds(), std::vector<FtAudio*>{audio(b, 0)});
  EXPECT_EQ(audio(b, 0)->linkeds(), std::vector<FtAudio*>{audio(a, 0)});
  EXPECT_EQ(meter(a, 0)->linkeds(), std::vector<FtSupermeter*>{meter(b, 0)});
  EXPECT_EQ(meter(b, 0)->linkeds(), std::vector<FtSupermeter*>{meter(a, 0)});
  // Delays and equalisers only to the channel of the same type.
  for (FtChannelType type : {FtChannelType::USER, FtChannelType::ARRAY}) {
    ASSERT_NE(delay(a, type, 0), nullptr);
    EXPECT_EQ(delay(a, type, 0)->linkeds(), std::vector<FtDelay*>{delay(b, type, 0)});
    EXPECT_EQ(bank(a, type, 0)->linkeds(), std::vector<FtEqFilterBank*>{bank(b, type, 0)});
    EXPECT_EQ(bank(b, type, 0)->linkeds(), std::vector<FtEqFilterBank*>{bank(a, type, 0)});
    // Filters pair by index.
    const auto& mine = bank(a, type, 0)->filters();
    ASSERT_FALSE(mine.empty());
    for (FtEqFilter* f : mine) {
      ASSERT_EQ(f->linkeds().size(), 1u);
      EXPECT_EQ(f->linkeds().front()->getIndex(), f->getIndex());
      EXPECT_TRUE(holds(bank(b, type, 0)->filters(), f->linkeds().front()));
    }
  }
  // The other channels stay apart; the linked ones say so.
  EXPECT_TRUE(audio(a, 1)->linkeds().empty());
  EXPECT_TRUE(delay(b, FtChannelType::USER, 1)->linkeds().empty());
  EXPECT_TRUE(audio(a, 0)->getIsLinked());
  EXPECT_FALSE(audio(a, 1)->getIsLinked());

  // A level set on one linked channel reaches the other, not its neighbours.
  service<FtAudioService>()->setLevelInDb(audio(a, 0), -6.0, false);
  EXPECT_EQ(audio(b, 0)->getLevelInDb(), -6.0);
  EXPECT_NE(audio(b, 1)->getLevelInDb(), -6.0);

  // Selecting the started connector again releases its wiring and the links.
  connect(out(a, 0), out(a, 0));
  EXPECT_EQ(out(b, 0)->getSignalSource(), nullptr);
  EXPECT_TRUE(audio(a, 0)->linkeds().empty());
  EXPECT_TRUE(bank(b, FtChannelType::USER, 0)->filters().front()->linkeds().empty());
  EXPECT_FALSE(audio(b, 0)->getIsLinked());
}

TEST_F(WiringTest, RepairLeavesGroupsAndNonAmplifiersAloneAndDropsStaleAmplifierLinks) {
  Device* a = amp();
  Device* b = amp();
  Device* c = amp();
  Device* matrix = livesound().deviceAdd(qm16(), 0, 0, true);
  Device* group = service<DeviceService>()->createGroup(fennik::server::random_uuid(), {a, b});
  ASSERT_TRUE(group && group->getIsGroup() && group->getAudio());
  ASSERT_TRUE(matrix && matrix->getAudio() && !matrix->getAudio()->childrens().empty());
  FtAudio* groupChannel = group->getAudio()->childrens().front();
  FtAudio* matrixChannel = matrix->getAudio()->childrens().front();
  groupChannel->addLinked(matrixChannel);
  matrixChannel->addLinked(groupChannel);
  // A link between amplifier channels that no wire explains.
  audio(a, 3)->addLinked(audio(c, 3));

  connect(out(b, 1), out(c, 1));

  EXPECT_EQ(groupChannel->linkeds(), std::vector<FtAudio*>{matrixChannel});
  EXPECT_EQ(matrixChannel->linkeds(), std::vector<FtAudio*>{groupChannel});
  EXPECT_TRUE(audio(a, 3)->linkeds().empty());
  EXPECT_EQ(audio(b, 1)->linkeds(), std::vector<FtAudio*>{audio(c, 1)});
}

TEST_F(WiringTest, AmplifierModesReleaseOnlyTheChannelsTheyCover) {
  Device* a = amp();
  Device* b = amp();
  for (int k = 0; k < 4; ++k) connect(out(a, k), out(b, k));
  auto modes = service<FtAmplifierModeService>();
  auto wired = [&](int k) { return out(b, k)->getSignalSource() == out(a, k); };

  // Already active: nothing happens.
  FtAmplifierMode* mode0 = channel(a->getAmplifierMode(), 0);
  ASSERT_TRUE(mode0->getActive() && mode0->getEnabled());
  livesound().amplifierModeActivate(mode0, true);
  EXPECT_TRUE(wired(0));

  // Disabled: nothing happens either.
  FtAmplifierMode* mode1 = channel(a->getAmplifierMode(), 1);
  modes->setActive(mode1, false, false);
  modes->setEnabled(mode1, false, false);
  livesound().amplifierModeActivate(mode1, true);
  EXPECT_FALSE(mode1->getActive());
  EXPECT_TRUE(wired(1));

  // A mode over channels 2 and 3 releases those two, nothing else.
  FtAmplifierMode* mode2 = channel(a->getAmplifierMode(), 2);
  modes->setActive(mode2, false, false);
  modes->setChannelIndex(mode2, 2, false);
  modes->setChannelCount(mode2, 2, false);
  livesound().amplifierModeActivate(mode2, true);
  EXPECT_TRUE(mode2->getActive());
  EXPECT_TRUE(wired(0));
  EXPECT_TRUE(wired(1));
  EXPECT_EQ(out(b, 2)->getSignalSource(), nullptr);
  EXPECT_EQ(out(b, 3)->getSignalSource(), nullptr);
  EXPECT_TRUE(audio(a, 2)->linkeds().empty());
  EXPECT_EQ(audio(a, 1)->linkeds(), std::vector<FtAudio*>{audio(b, 1)});
}

TEST_F(WiringTest, ADialogueLeftOpenDoesNotBreakTheNextOne) {
  Device* a = amp();
  Device* b = amp();
  // One client starts and walks away: the window shows its dialogue.
  livesound().connectorStart(out(a, 0));
  EXPECT_EQ(window()->selectedConnectors(), std::vector<FtConnector*>{out(a, 0)});
  EXPECT_TRUE(holds(window()->possibleConnectors(), out(b, 0)));
  EXPECT_FALSE(holds(window()->possibleConnectors(), out(a, 1)));

  // The next client's dialogue starts afresh and wires what it selects.
  livesound().connectorStart(out(b, 1));
  EXPECT_EQ(window()->selectedConnectors(), std::vector<FtConnector*>{out(b, 1)});
  livesound().connectorSelect(out(a, 1));
  EXPECT_EQ(window()->selectedConnectors(), (std::vector<FtConnector*>{out(b, 1), out(a, 1)}));
  livesound().connectorFinish();
  EXPECT_EQ(out(a, 1)->getSignalSource(), out(b, 1));
  EXPECT_EQ(out(a, 0)->getSignalSource(), nullptr);
  EXPECT_EQ(out(b, 0)->getSignalSource(), nullptr);
  EXPECT_TRUE(window()->selectedConnectors().empty());
  EXPECT_TRUE(window()->possibleConnectors().empty());

  // Without a dialogue a selection changes nothing; neither does a device's
  // own connector or a connector that is no channel.
  livesound().connectorSelect(out(b, 0));
  EXPECT_EQ(out(b, 0)->getSignalSource(), nullptr);
  connect(out(a, 2), out(a, 3));
  EXPECT_EQ(out(a, 3)->getSignalSource(), nullptr);
  connect(a->getConnector(), out(b, 2));
  EXPECT_EQ(out(b, 2)->getSignalSource(), nullptr);
}

TEST_F(WiringTest, ALoudspeakerPresentsAndDrivesTheAmplifierChannelWiredToIt) {
  Device* a = amp();
  Device* box = speaker(2);
  FtSpeakerSetting* wanted = channel(box->getSpeakerSetting(), 1);
  auto settings = service<FtSpeakerSettingService>();
  settings->setSupposedSpsFilePath(wanted, "mid-high.sps", false);
  settings->setSupposedSpeakerDbDspChainId(wanted, "chain-7", false);
  settings->setBandType(wanted, FtSpeakerSettingBandType::HIGH_FREQ, false);
  settings->setIsGeneric(wanted, false, false);

  // Started at the loudspeaker input, the amplifier output feeds it.
  FtConnector* input = channel(box->getConnector(), 1);
  connect(input, out(a, 2));
  ASSERT_EQ(input->getSignalSource(), out(a, 2));
  EXPECT_EQ(service<FtConnectorService>()->getConnectedDevices(box), std::vector<Device*>{a});

  // The amplifier channel loads what the loudspeaker needs.
  const FtSpeakerSetting* loaded = channel(a->getSpeakerSetting(), 2);
  EXPECT_EQ(loaded->getSupposedSpsFilePath(), "mid-high.sps");
  EXPECT_EQ(loaded->getSupposedSpeakerDbDspChainId(), "chain-7");
  EXPECT_EQ(loaded->getBandType(), FtSpeakerSettingBandType::HIGH_FREQ);
  EXPECT_FALSE(loaded->getIsGeneric());

  // A level set on the loudspeaker drives the amplifier channel; what the
  // amplifier reports, the loudspeaker shows.
  service<FtAudioService>()->setLevelInDb(audio(box, 1), -3.0, false);
  EXPECT_EQ(audio(a, 2)->getLevelInDb(), -3.0);
  service<FtAudioService>()->setLevelInDb(audio(a, 2), -9.0, true);
  EXPECT_EQ(audio(box, 1)->getLevelInDb(), -9.0);
  service<FtSupermeterService>()->setValues(meter(a, 2), -12.0, -14.0, 1.0);
  EXPECT_EQ(meter(box, 1)->getOutput(), -14.0);
  EXPECT_EQ(audio(box, 0)->childrenShareds().size(), 0u);

  // Another amplifier channel takes the input over; the first one parts.
  Device* b = amp();
  connect(out(b, 0), input);
  EXPECT_EQ(input->getSignalSource(), out(b, 0));
  EXPECT_EQ(audio(box, 1)->childrenShareds(), std::vector<FtAudio*>{audio(b, 0)});

  // Deleting the amplifier takes the wire and the membership with it.
  livesound().deviceDestroy(b);
  EXPECT_EQ(input->getSignalSource(), nullptr);
  EXPECT_TRUE(audio(box, 1)->childrenShareds().empty());
  EXPECT_TRUE(service<FtConnectorService>()->getConnectedDevices(box).empty());
}

}  // namespace
}  // namespace qor::server::testing
