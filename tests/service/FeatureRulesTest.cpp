// The rules by which group features follow their members beyond plain
// aggregation: equaliser banks, preset lists, speaker modes, and the ranges
// and capabilities a group offers.

#include "service/AmplifierFixture.h"

namespace qor::server::testing {
namespace {

class FeatureRulesTest : public AmplifierFixture {};

TEST_F(FeatureRulesTest, FlatteningABankGroupFlattensEveryMemberFilter) {
  Device* amp1 = amplifier();
  Device* amp2 = amplifier();
  Device* g = devices->createGroup(fennik::server::random_uuid(), {amp1, amp2});
  auto filters = service<FtEqFilterService>();
  auto banks = service<FtEqFilterBankService>();

  // A group filter write reaches the members' filters of the same index.
  FtEqFilter* groupFilter = channel(g->eqFilterBanks()[0], 1)->filters()[0];
  filters->setGainInDb(groupFilter, 4.0, false);
  filters->setBypass(groupFilter, false, false);
  FtEqFilterBank* memberBank = channel(amp2->eqFilterBanks()[0], 1);
  EXPECT_DOUBLE_EQ(memberBank->filters()[0]->getGainInDb(), 4.0);
  banks->doRecalcActive(memberBank);
  EXPECT_TRUE(memberBank->getIsActive()) << "an available filter is in use";

  banks->flatten(g->eqFilterBanks()[0], true);
  for (Device* amp : {amp1, amp2}) {
    for (FtEqFilterBank* bank : amp->eqFilterBanks()[0]->childrens()) {
      for (FtEqFilter* f : bank->filters()) {
        EXPECT_DOUBLE_EQ(f->getGainInDb(), 0.0);
        EXPECT_TRUE(f->getBypass());
      }
      EXPECT_FALSE(bank->getIsActive());
    }
  }
  EXPECT_DOUBLE_EQ(groupFilter->getGainInDb(), 0.0);
  EXPECT_TRUE(groupFilter->getGainInDbConsistent());

  // A new filter is a flat, bypassed 1 kHz peak filter.
  FtEqFilter* fresh = filters->create();
  EXPECT_EQ(fresh->getType(), FtEqFilterType::PEQ);
  EXPECT_DOUBLE_EQ(fresh->getFreqInHz(), 1000.0);
  EXPECT_DOUBLE_EQ(fresh->getQualityFactor(), 1.0);
  EXPECT_TRUE(fresh->getBypass());

  // Leaving a bank group detaches the member's filters; destroying a bank destroys its filters.
  FtEqFilterBank* groupChannel = channel(g->eqFilterBanks()[0], 1);
  banks->removeChild(groupChannel, memberBank);
  EXPECT_TRUE(memberBank->filters()[0]->parents().empty());
  const auto filterId = memberBank->filters()[1]->id();
  banks->destroy(memberBank);
  EXPECT_EQ(db().find(filterId), nullptr);
}

TEST_F(FeatureRulesTest, GroupsOfferWhatEveryMemberOffers) {
  auto presets = service<FtPresetService>();
  FtPreset* p1 = presets->create();
  FtPreset* p2 = presets->create();
  FtPreset* presetGroup = groupOver<FtPreset>({p1, p2}, false);
  presets->setPresetList(p1, R"([{"slot":"1","title":"Show"},{"slot":"2","title":"Test"}])", true);
  presets->setPresetList(p2, R"([{"slot":"2","title":"Test B"},{"slot":"3","title":"Spare"}])", true);
  EXPECT_EQ(presetGroup->getPresetListJson(), R"([{"slot":"2","title":"Test"}])");
  presets->setPresetList(p2, "not json", true);
  EXPECT_EQ(presetGroup->getPresetListJson(), "[]");

  auto modes = service<FtSpeakerModeService>();
  FtSpeakerMode* m1 = modes->create();
  FtSpeakerMode* m2 = modes->create();
  FtSpeakerMode* modeGroup = groupOver<FtSpeakerMode>({m1, m2}, false);
  modes->setAvailableModes(m1, R"([{"key":"wide","title":"Wide"},{"key":"narrow","title":"Narrow"}])", true);
  modes->setAvailableModes(m2, R"([{"key":"narrow","title":"Narrow"}])", true);
  EXPECT_EQ(modeGroup->getAvailableModes(), R"([{"key":"narrow","title":"Narrow"}])");
  modes->setMode(modeGroup, "wide", false);
  EXPECT_EQ(m1->getMode(), "") << "a mode not every member offers is refused";
  modes->setMode(modeGroup, "narrow", false);
  EXPECT_EQ(m1->getMode(), "narrow");
  EXPECT_EQ(m2->getMode(), "narrow");

  auto labels = service<FtLabelService>();
  FtLabel* c1 = labels->create();
  FtLabel* c2 = labels->create();
  labels->setShortName(c1, "1", false);
  labels->setShortName(c2, "1", false);
  FtLabel* channelLabel = groupOver<FtLabel>({c1, c2}, false);
  EXPECT_TRUE(channelLabel->getConsistentChannel());
  labels->setShortName(c2, "1-2", true);
  EXPECT_FALSE(channelLabel->getConsistentChannel()) << "a bridged member is another channel";

  auto gpios = service<FtGPIOService>();
  FtGPIO* g1 = gpios->create();
  FtGPIO* g2 = gpios->create();
  gpios->setGpioModes(g1, {FtGPIOMode::ANALOG_IN, FtGPIOMode::DIGITAL_IN, FtGPIOMode::DIGITAL_OUT}, false);
  gpios->setGpioModes(g2, {FtGPIOMode::DIGITAL_OUT, FtGPIOMode::DIGITAL_IN}, false);
  FtGPIO* gpioGroup = groupOver<FtGPIO>({g1, g2}, false);
  EXPECT_EQ(gpioGroup->getGpioModes(), (std::vector<FtGPIOMode>{FtGPIOMode::DIGITAL_IN, FtGPIOMode::DIGITAL_OUT}));

  auto generators = service<FtSignalGeneratorService>();
  FtSignalGenerator* s1 = generators->create();
  FtSignalGenerator* s2 = generators->create();
  generators->setLevelInDbMax(s2, 0.0, false);
  generators->setLevelInDbMin(s1, -40.0, false);
  FtSignalGenerator* generatorGroup = groupOver<FtSignalGenerator>({s1, s2}, false);
  EXPECT_DOUBLE_EQ(generatorGroup->getLevelInDbMin(), -40.0);
  EXPECT_DOUBLE_EQ(generatorGroup->getLevelInDbMax(), 0.0);

  auto onlines = service<FtOnlineService>();
  FtOnline* o1 = onlines->create();
  FtOnline* o2 = onlines->create();
  onlines->setProgress(o1, 1.0, false);
  onlines->setFrontPanelLockSupported(o1, true, false);
  FtOnline* onlineGroup = groupOver<FtOnline>({o1, o2}, false);
  EXPECT_DOUBLE_EQ(onlineGroup->getProgress(), 0.5);
  EXPECT_FALSE(onlineGroup->getFrontPanelLockSupported());
}

}  // namespace
}  // namespace qor::server::testing
