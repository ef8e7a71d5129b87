// Power groups sum their leaves; meter groups show their hottest member.

#include "service/AmplifierFixture.h"

namespace qor::server::testing {
namespace {

class PowerAndMeterTest : public AmplifierFixture {};

TEST_F(PowerAndMeterTest, PowerSumsLeavesOverNestedGroups) {
  auto powers = service<FtPowerService>();
  FtPower* a = powers->create();
  FtPower* b = powers->create();
  FtPower* c = powers->create();
  FtPower* rack = powers->create();
  FtPower* project = powers->create();
  powers->addChild(rack, a, false);
  powers->addChild(rack, b, false);
  powers->addChild(project, rack, false);
  powers->addChild(project, c, false);
  powers->addChild(project, a, false);  // a leaf reached twice counts once

  powers->setCountPowered(a, 1, true);
  powers->setCountPowered(b, 1, true);
  powers->setCountStandby(c, 1, true);
  powers->setVoltAmperes(a, 120.5, true);
  powers->setVoltAmperes(c, 80.0, true);
  powers->setAmperes(b, 2.0, true);
  powers->setCountECO(b, 1, true);

  EXPECT_EQ(rack->getCountPowered(), 2);
  EXPECT_DOUBLE_EQ(rack->getVoltAmperes(), 120.5);
  EXPECT_EQ(project->getCountPowered(), 2);
  EXPECT_EQ(project->getCountStandby(), 1);
  EXPECT_EQ(project->getCountECO(), 1);
  EXPECT_DOUBLE_EQ(project->getVoltAmperes(), 200.5);
  EXPECT_DOUBLE_EQ(project->getAmperes(), 2.0);

  // A normal write stores but does not recalculate the groups.
  powers->setCountPowered(c, 5, false);
  EXPECT_EQ(c->getCountPowered(), 5);
  EXPECT_EQ(project->getCountPowered(), 2);
  // An unchanged report fires nothing.
  int fired = 0;
  auto connection = a->onCountPoweredChanged([&](const std::int32_t&, bool) { ++fired; });
  powers->setCountPowered(a, 1, true);
  EXPECT_EQ(fired, 0);

  // A leaving member is no longer counted.
  powers->removeChild(rack, b);
  EXPECT_EQ(rack->getCountPowered(), 1);
  EXPECT_EQ(project->getCountPowered(), 6) << "a (1) and c (5) once the project recalculates";
  powers->setCountPowered(nullptr, 1, true);
}

TEST_F(PowerAndMeterTest, MeterValuesAreReportedTogetherAndGroupsShowTheHottestMember) {
  auto meters = service<FtSupermeterService>();
  FtSupermeter* a = meters->create();
  FtSupermeter* b = meters->create();
  FtSupermeter* channelGroup = meters->create();
  FtSupermeter* top = meters->create();
  meters->addChild(channelGroup, a, false);
  meters->addChild(channelGroup, b, false);
  meters->addChild(top, channelGroup, true);

  int inputWrites = 0;
  auto connection = a->onInputChanged([&](const double&, bool external) {
    EXPECT_TRUE(external);
    ++inputWrites;
  });
  EXPECT_TRUE(meters->setValues(a, -20.0, -18.0, 2.0));
  EXPECT_FALSE(meters->setValues(a, -20.0, -18.0, 2.0)) << "unchanged values write nothing";
  EXPECT_EQ(inputWrites, 1);
  EXPECT_TRUE(meters->setValues(b, -10.0, -30.0, 0.0));
  EXPECT_DOUBLE_EQ(channelGroup->getInput(), -10.0);
  EXPECT_DOUBLE_EQ(channelGroup->getOutput(), -18.0);
  EXPECT_DOUBLE_EQ(channelGroup->getReduction(), 2.0);
  EXPECT_DOUBLE_EQ(top->getInput(), -10.0);

  meters->removeChild(channelGroup, b);
  EXPECT_DOUBLE_EQ(channelGroup->getInput(), -20.0);
  EXPECT_DOUBLE_EQ(top->getInput(), -20.0);
  EXPECT_FALSE(meters->setValues(nullptr, 0.0, 0.0, 0.0));
}

}  // namespace
}  // namespace qor::server::testing
