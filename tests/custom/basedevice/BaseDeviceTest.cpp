// What every device shares: channel names, value conversions, labels and
// the periodic speaker-setting check.

#include "DeviceFixture.h"
#include "custom/basedevice/BaseDevice.h"
#include "custom/basedevice/DriverConversions.h"

#include "fennik/server/service/NotificationService.h"

#include <gtest/gtest.h>

namespace qor::server::testing {
namespace {

class BaseDeviceTest : public DeviceFixture {};

TEST_F(BaseDeviceTest, ChannelShortNamesWrapAroundTheChannels) {
  LogCapture log;
  const std::vector<std::string> names{"A", "B", "C", "D"};
  EXPECT_EQ(getChannelShortName(1, names, FtBridgeMode::INDIVIDUAL), "B");
  EXPECT_EQ(getChannelShortName(3, names, FtBridgeMode::PARALLEL), "D-A");
  EXPECT_EQ(getChannelShortName(0, names, FtBridgeMode::BRIDGED), "A-B");
  EXPECT_EQ(getChannelShortName(3, names, FtBridgeMode::PARABRIDGED), "D-C");
  EXPECT_EQ(getChannelShortName(2, names, FtBridgeMode::DISABLED), "-");
  EXPECT_EQ(getChannelShortName(2, names, FtBridgeMode::UNKNOWN), "");
  EXPECT_EQ(log.count("Unknown FtBridgeMode is used"), 1);
  EXPECT_EQ(getChannelShortName(0, {}, FtBridgeMode::INDIVIDUAL), "");
}

TEST_F(BaseDeviceTest, ValuesConvertBothWaysAndUnknownOnesAreLogged) {
  LogCapture log;
  EXPECT_EQ(qa4_->getLinkSpeedString(100), "100 MBit");
  EXPECT_EQ(qa4_->getLinkSpeedString(1000), "1 GBit");
  EXPECT_EQ(qa4_->getLinkSpeedString(2500), "2 GBit");
  EXPECT_EQ(deviceIdText(42), "042");
  EXPECT_EQ(deviceIdText(7), "007");
  EXPECT_EQ(deviceIdText(1234), "1234");
  EXPECT_EQ(parseDeviceId("042"), 42);
  EXPECT_FALSE(parseDeviceId("4x2"));
  EXPECT_FALSE(parseDeviceId(""));
  EXPECT_FALSE(parseDeviceId("99999999999"));

  EXPECT_EQ(sampleRateFromDriver(1), SampleRate::SR_96);
  EXPECT_EQ(sampleRateFromDriver(9), SampleRate::SR_48);
  EXPECT_EQ(log.count("Not aware of this fennik::common::SampleRate"), 1);
  EXPECT_EQ(networkModeFromDriver(7), NetworkMode::NM_RSTPGLITCHFREE);
  EXPECT_EQ(networkModeToDriver(NetworkMode::NONE), 1);
  EXPECT_EQ(log.count("Unknown qor::server::NetworkMode is used"), 2);
  EXPECT_EQ(gpioModeToDriver(FtGPIOMode::DIGITAL_OUT), 2);
  EXPECT_EQ(ipModeFromDriver(3), NetworkIPMode::STATIC);
  EXPECT_EQ(ipModeToDriver(NetworkIPMode::UNKNOWN), 0);

  EXPECT_EQ(signalGeneratorTypeToDriver(FtSignalGeneratorType::PILOT), 0);
  EXPECT_EQ(log.count("Got qor::server::FtSignalGeneratorType which we don't know about"), 1);
  EXPECT_EQ(signalGeneratorTypeFromDriver(2), FtSignalGeneratorType::WHITE_NOISE);
  EXPECT_EQ(signalGeneratorModeFromDriver(3), FtSignalGeneratorMode::POST_MIX);
  EXPECT_EQ(signalGeneratorModeToDriver(FtSignalGeneratorMode::PRE_MIX), 1);
  EXPECT_EQ(driveModeFromDriver(4), FtAmplifierDriveModeType::DM_200V);
  EXPECT_EQ(driveModeToDriver(FtAmplifierDriveModeType::NONE), 0);
  EXPECT_EQ(log.count("Not aware of this qor::server::FtAmplifierDriveModeType"), 1);
  EXPECT_EQ(eqFilterTypeFromDriver(7), FtEqFilterType::PEQ);
  EXPECT_EQ(eqFilterTypeToDriver(FtEqFilterType::ASYMMETRIC), 12);
  EXPECT_EQ(eqSlopeTypeToDriver(FtEqFilterSlopeType::BUTTER24), 0);
  EXPECT_EQ(sourceFamilyFromDriver(2), FtInputSourceFamily::DANTE);
  EXPECT_EQ(failoverTypeFromDriver(4), FtFailoverConfigType::FAILOVER_FALLBACK);
  EXPECT_EQ(log.count("Unknown FtFailoverConfigType is used"), 1);
}

TEST_F(BaseDeviceTest, ChannelNamesGoBothWays) {
  Device* amp = createDevice(devicetypes::QA4_TYPE_ID);
  const std::string id = bringOnline(amp);
  FtLabel* channel = amp->getLabel()->childrens()[1];
  service<FtLabelService>()->setCustomName(channel, "Left fill", false);
  run(100ms);
  EXPECT_EQ(qa4_->driver(amp)->getChannelCustomName(1), "Left fill");

  auto other = network_->createDriver("QA-4");
  other->setPhysicalDeviceId(id);
  other->goOnline(true);
  run(1000ms);
  other->setChannelCustomName(2, "Sub");
  run(100ms);
  EXPECT_EQ(amp->getLabel()->childrens()[2]->getCustomName(), "Sub");
  EXPECT_EQ(amp->getLabel()->childrens()[2]->getCustomNameRule(), StringValidatorRule::Unicode20Bytes);
}

TEST_F(BaseDeviceTest, DeviceIdsThatAreNoNumberAreNotSent) {
  Device* amp = createDevice(devicetypes::QA4_TYPE_ID);
  bringOnline(amp);
  auto infos = service<FtDeviceInfoService>();
  infos->setDeviceId(amp->getDeviceInfo(), "12a", false);
  run(100ms);
  const int before = qa4_->driver(amp)->getDeviceIntId();
  EXPECT_EQ(amp->getDeviceInfo()->getDeviceId(), "12a");
  infos->setDeviceId(amp->getDeviceInfo(), "42", false);
  infos->setName(amp->getDeviceInfo(), "stage-left", false);
  run(100ms);
  EXPECT_NE(before, 42);
  EXPECT_EQ(qa4_->driver(amp)->getDeviceIntId(), 42);
  EXPECT_EQ(amp->getDeviceInfo()->getDeviceId(), "042") << "the device's answer, shown padded";
  EXPECT_EQ(qa4_->driver(amp)->getName(), "stage-left");
}

TEST_F(BaseDeviceTest, SpeakerSettingsAreCheckedEveryFiveSeconds) {
  Device* amp = createDevice(devicetypes::QA4_TYPE_ID);
  const std::string id = bringOnline(amp);
  FtSpeakerSetting* setting = amp->getSpeakerSetting()->childrens()[0];
  service<FtSpeakerSettingService>()->setSupposedSpeakerDbDspChainId(setting, "chain-1", false);
  run(100ms);
  qa4_->loaded();

  // Someone else loads another setting into the channel.
  auto other = network_->createDriver("QA-4");
  other->setPhysicalDeviceId(id);
  other->goOnline(true);
  run(1000ms);
  other->loadDspChain(0, "chain-2");
  run(3500ms);
  EXPECT_FALSE(setting->getIsIncorrect()) << "not checked yet";
  run(600ms);
  EXPECT_TRUE(setting->getIsIncorrect());

  // Loaded again, the check clears the flag on its next run.
  service<FtSpeakerSettingService>()->setSupposedSpeakerDbDspChainId(setting, "chain-3", false);
  other->loadDspChain(0, "chain-3");
  run(5200ms);
  EXPECT_FALSE(setting->getIsIncorrect());

  // After unload no check is left waiting.
  qa4_->unload();
  run(100ms);
  EXPECT_EQ(context_->jobs()->timedCount(), 0u);
}

TEST_F(BaseDeviceTest, ARejectedSpeakerSettingIsNotifiedToTheUser) {
  LogCapture log;
  Device* amp = createDevice(devicetypes::QA4_TYPE_ID);
  const std::string id = bringOnline(amp);
  service<FtDeviceInfoService>()->setName(amp->getDeviceInfo(), "amp-7", false);
  run(100ms);
  network_->injectFault(id, SimulatedNetwork::Fault::SpeakerSettingRejected, true, 2);
  FtSpeakerSetting* setting = amp->getSpeakerSetting()->childrens()[2];
  service<FtSpeakerSettingService>()->setSupposedSpeakerDbDspChainId(setting, "chain-1", false);
  EXPECT_EQ(log.count("Driver couldn't load speaker setting"), 1);
  const auto notes = context_->notifications()->history();
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(notes.back().title, "amp-7");
  EXPECT_EQ(notes.back().text, "The speaker setting couldn't be loaded.");
}

}  // namespace
}  // namespace qor::server::testing
