// The simulated device network, driven by hand: connection phases, late
// answers, kept settings, meters, faults, dropping off and firmware updates.

#include "fennik/devices/SimulatedNetwork.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace fennik::devices {
namespace {

using namespace std::chrono_literals;

DeviceModel testModel() {
  DeviceModel m;
  m.model = "T-2";
  m.channelCount = 2;
  m.gpioCount = 1;
  m.gainSupported = {true, false};
  m.pinRange = {1000, 2000};
  m.deviceFlags.set();
  m.deviceFlags.reset(static_cast<std::size_t>(DeviceFlag::FanFail));
  m.channelFlags.set();
  return m;
}

class SimulatedNetworkTest : public ::testing::Test {
 protected:
  SimulatedNetworkTest() : network(SimulatedNetwork::create(SimulatedNetwork::Mode::Manual)) {
    network->registerModel(testModel());
  }

  std::unique_ptr<FennikDevice> onlineDriver(const std::string& id, bool read = true) {
    auto driver = network->createDriver("T-2");
    driver->setPhysicalDeviceId(id);
    driver->goOnline(read);
    network->advance(1000ms);
    EXPECT_TRUE(driver->isOnline());
    return driver;
  }

  std::shared_ptr<SimulatedNetwork> network;
};

TEST_F(SimulatedNetworkTest, GoesOnlineThroughThePhasesOnceTheDeviceIsThere) {
  auto driver = network->createDriver("T-2");
  std::vector<std::pair<int, float>> progress;
  driver->onConnectionProgress([&](int phase, float f) { progress.emplace_back(phase, f); });
  driver->setPhysicalDeviceId("amp-1");
  driver->goOnline(true);
  network->advance(2500ms);
  // Nobody answers: offline, and the driver keeps looking.
  EXPECT_FALSE(driver->isOnline());
  EXPECT_TRUE(progress.empty());

  network->addDevice("T-2", "amp-1");
  network->advance(1500ms);
  ASSERT_TRUE(driver->isOnline());
  std::vector<int> phases;
  for (auto [phase, f] : progress) {
    if (phases.empty() || phases.back() != phase) phases.push_back(phase);
    EXPECT_GE(f, 0.0f);
    EXPECT_LE(f, 1.0f);
  }
  EXPECT_EQ(phases, (std::vector<int>{1, 3, 4, 5}));
  EXPECT_EQ(progress.back(), std::make_pair(5, 1.0f));
  EXPECT_EQ(driver->getName(), "amp-1");

  EXPECT_THROW(network->addDevice("T-2", "amp-1"), std::invalid_argument);
  EXPECT_THROW(network->addDevice("nope"), std::invalid_argument);
  EXPECT_THROW(network->createDriver("nope"), std::invalid_argument);
}

TEST_F(SimulatedNetworkTest, WritesArriveLateAndTheDeviceKeepsThem) {
  network->addDevice("T-2", "amp-1");
  auto first = onlineDriver("amp-1");
  int reports = 0;
  first->onChanged(DriverSignal::Gain, [&](int index) { reports += index == 0 ? 1 : 0; });
  auto watcher = onlineDriver("amp-1");  // another session on the same device
  first->setGain(0, 30.0);
  EXPECT_DOUBLE_EQ(first->getGain(0), 30.0) << "the driver holds what it was told at once";
  EXPECT_EQ(reports, 0) << "the device has not answered yet";
  EXPECT_DOUBLE_EQ(watcher->getGain(0), 32.0) << "not on the device yet";
  network->advance(50ms);
  EXPECT_DOUBLE_EQ(first->getGain(0), 30.0);
  EXPECT_DOUBLE_EQ(watcher->getGain(0), 30.0);
  EXPECT_EQ(reports, 1);

  // A fader moved twice quickly: the answer to the first move must not
  // take the driver back while the second is on its way.
  first->setGain(0, 20.0);
  network->advance(10ms);
  first->setGain(0, 25.0);
  network->advance(15ms);
  EXPECT_DOUBLE_EQ(watcher->getGain(0), 20.0) << "the device has the first move";
  EXPECT_DOUBLE_EQ(first->getGain(0), 25.0) << "the writer keeps its newest move";
  network->advance(50ms);
  EXPECT_DOUBLE_EQ(first->getGain(0), 25.0);
  EXPECT_DOUBLE_EQ(watcher->getGain(0), 25.0);

  // Unplugged, the device never answers; the driver keeps what it was told.
  network->setReachable("amp-1", false);
  first->setGain(0, 28.0);
  network->advance(50ms);
  EXPECT_DOUBLE_EQ(first->getGain(0), 28.0);
  network->setReachable("amp-1", true);
  network->advance(1500ms);

  // Out of range is clamped; an unsupported channel or a PIN outside the
  // range is refused, and the device reports what it kept.
  first->setGain(0, 99.0);
  first->setGain(1, 25.0);
  first->setFrontPanelLockPin(3000);
  network->advance(50ms);
  EXPECT_DOUBLE_EQ(first->getGain(0), 44.0);
  EXPECT_DOUBLE_EQ(first->getGain(1), 32.0);
  EXPECT_EQ(first->getFrontPanelLockPin(), 1000);

  // A second driver reading the device finds what the first one wrote.
  auto second = onlineDriver("amp-1");
  EXPECT_DOUBLE_EQ(second->getGain(0), 44.0);
  second->setMute(1, true);
  network->advance(50ms);
  EXPECT_TRUE(first->getMute(1)) << "every session hears the device";

  // Offline, a driver keeps its own values and writes them when going online writing.
  auto writer = network->createDriver("T-2");
  writer->setLevel(0, -6.0);
  EXPECT_DOUBLE_EQ(writer->getLevel(0), -6.0);
  writer->setPhysicalDeviceId("amp-1");
  writer->goOnline(false);
  network->advance(1000ms);
  EXPECT_DOUBLE_EQ(first->getLevel(0), -6.0);
}

TEST_F(SimulatedNetworkTest, MetersFollowTheGeneratorMuteAndFaults) {
  network->addDevice("T-2", "amp-1");
  auto driver = onlineDriver("amp-1");
  EXPECT_DOUBLE_EQ(driver->getMeter(0).output, -80.0);
  SignalGeneratorState generator;
  generator.active = true;
  generator.levelInDb = -20.0;
  driver->setSignalGenerator(0, generator);
  network->advance(200ms);
  EXPECT_NEAR(driver->getMeter(0).input, -20.0, 0.5);
  EXPECT_NEAR(driver->getMeter(0).output, -20.0, 0.5);
  EXPECT_DOUBLE_EQ(driver->getMeter(1).output, -80.0);

  driver->setMute(0, true);
  network->injectFault("amp-1", SimulatedNetwork::Fault::LoadOpen, true, 1);
  network->injectFault("amp-1", SimulatedNetwork::Fault::FanFail);
  network->advance(200ms);
  EXPECT_DOUBLE_EQ(driver->getMeter(0).output, -80.0);
  EXPECT_TRUE(driver->getChannelFlagState(0, ChannelFlag::Mute));
  EXPECT_TRUE(driver->getMeter(1).impedanceOpen);
  EXPECT_TRUE(driver->getChannelFlagState(1, ChannelFlag::LoadMax));
  EXPECT_TRUE(driver->getDeviceFlagState(DeviceFlag::Warning));
  EXPECT_FALSE(driver->getDeviceFlagState(DeviceFlag::FanFail)) << "the model has no such flag";
}

TEST_F(SimulatedNetworkTest, EveryDeviceReportsItsMetersOncePerPeriodHoweverManyThereAre) {
  // Enough devices that one meter period is measured in several steps.
  constexpr int DEVICES = 75;
  std::vector<std::unique_ptr<FennikDevice>> drivers;
  std::vector<int> reports(DEVICES, 0);
  for (int i = 0; i < DEVICES; ++i) network->addDevice("T-2", "amp-" + std::to_string(i));
  for (int i = 0; i < DEVICES; ++i) {
    drivers.push_back(onlineDriver("amp-" + std::to_string(i)));
    drivers.back()->onChanged(DriverSignal::Meter, [&reports, i](int) { ++reports[i]; });
  }
  network->advance(40ms);  // to just before a period's end
  std::fill(reports.begin(), reports.end(), 0);
  network->advance(100ms);
  EXPECT_EQ(reports, std::vector<int>(DEVICES, 1));
  network->advance(300ms);
  EXPECT_EQ(reports, std::vector<int>(DEVICES, 4));
}

TEST_F(SimulatedNetworkTest, ADeviceDropsOffAndComesBack) {
  network->addDevice("T-2", "amp-1");
  auto driver = onlineDriver("amp-1");
  std::vector<int> phases;
  driver->onConnectionProgress([&](int phase, float) { phases.push_back(phase); });
  network->setReachable("amp-1", false);
  network->advance(100ms);
  EXPECT_FALSE(driver->isOnline());
  ASSERT_FALSE(phases.empty());
  EXPECT_EQ(phases.front(), phase::OFFLINE);

  network->setReachable("amp-1", true);
  network->advance(2000ms);
  EXPECT_TRUE(driver->isOnline());
  EXPECT_EQ(phases.back(), phase::ONLINE);

  driver->goOffline();
  network->advance(100ms);
  EXPECT_FALSE(driver->isOnline());
  EXPECT_EQ(phases.back(), phase::OFFLINE);
}

TEST_F(SimulatedNetworkTest, FirmwareUpdatesReportProgressAndTheirEnd) {
  auto offline = network->createDriver("T-2");
  EXPECT_THROW(offline->startFirmwareUpdate("/tmp/t2-2.0.0.img"), std::runtime_error);

  network->addDevice("T-2", "amp-1");
  auto driver = onlineDriver("amp-1");
  std::vector<int> states;
  driver->onFirmwareUpdateProgress([&](int state, float, const std::string&) { states.push_back(state); });
  EXPECT_THROW(driver->startFirmwareUpdate(""), std::runtime_error);
  driver->startFirmwareUpdate("/tmp/t2-2.0.0.img");
  EXPECT_THROW(driver->startFirmwareUpdate("/tmp/again.img"), std::runtime_error);
  network->advance(2000ms);
  ASSERT_FALSE(states.empty());
  EXPECT_EQ(states.front(), firmware::RUNNING);
  EXPECT_EQ(states.back(), firmware::SUCCEEDED);
  EXPECT_EQ(driver->getFirmware(), "t2-2.0.0");

  states.clear();
  network->injectFault("amp-1", SimulatedNetwork::Fault::FirmwareUpdateFails);
  driver->startFirmwareUpdate("/tmp/t2-3.0.0.img");
  network->advance(2000ms);
  ASSERT_FALSE(states.empty());
  EXPECT_EQ(states.back(), firmware::FAILED);
  EXPECT_EQ(driver->getFirmware(), "t2-2.0.0");
}

TEST_F(SimulatedNetworkTest, OnlyTheRightModelFindsADeviceAndARemovedOneIsGone) {
  DeviceModel bigger = testModel();
  bigger.model = "T-4";
  bigger.channelCount = 4;
  network->registerModel(bigger);
  network->addDevice("T-2", "amp-1");
  auto wrong = network->createDriver("T-4");
  wrong->setPhysicalDeviceId("amp-1");
  wrong->goOnline(true);
  network->advance(2500ms);
  EXPECT_FALSE(wrong->isOnline());
  EXPECT_EQ(network->devices().front().sessions, 0);

  auto driver = onlineDriver("amp-1");
  EXPECT_EQ(network->devices().front().sessions, 1);
  EXPECT_TRUE(network->removeDevice("amp-1"));
  EXPECT_FALSE(network->removeDevice("amp-1"));
  EXPECT_FALSE(network->injectFault("amp-1", SimulatedNetwork::Fault::FanFail));
  network->advance(3000ms);
  EXPECT_FALSE(driver->isOnline());
  EXPECT_TRUE(network->devices().empty());

  // The demo puts devices of every model on the network, each its own id.
  const auto ids = network->populateDemo(2);
  EXPECT_EQ(ids.size(), 4u);
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 4u);
  EXPECT_EQ(network->devices().size(), 4u);
}

TEST_F(SimulatedNetworkTest, TheSpeakerSettingCheckComparesWithWhatTheDeviceRuns) {
  network->addDevice("T-2", "amp-1");
  auto driver = onlineDriver("amp-1");
  int reports = 0;
  driver->onChanged(DriverSignal::SpeakerSetting, [&](int channel) { reports += channel == 1 ? 1 : 0; });
  driver->loadDspChain(1, "chain-a");
  network->advance(50ms);
  EXPECT_EQ(reports, 1) << "the device reports what it loaded";
  reports = 0;
  driver->checkSpeakerSetting(1, {"A", "chain-a"});
  network->advance(10ms);
  EXPECT_FALSE(driver->isSpeakerSettingIncorrect(1));
  EXPECT_EQ(reports, 0) << "nothing changed";
  driver->checkSpeakerSetting(1, {"B", "chain-b"});
  network->advance(10ms);
  EXPECT_TRUE(driver->isSpeakerSettingIncorrect(1));
  EXPECT_EQ(reports, 1);
  network->advance(200ms);
  EXPECT_TRUE(driver->getChannelFlagState(1, ChannelFlag::IncorrectSpeakerSetting));
  EXPECT_FALSE(driver->getChannelFlagState(0, ChannelFlag::IncorrectSpeakerSetting));

  // A channel that refuses settings says so; the others still take them.
  network->injectFault("amp-1", SimulatedNetwork::Fault::SpeakerSettingRejected, true, 0);
  EXPECT_THROW(driver->loadSpeakerSetting(0, {"C", "chain-c"}), std::runtime_error);
  EXPECT_NO_THROW(driver->loadDspChain(1, "chain-b"));
}

}  // namespace
}  // namespace fennik::devices
