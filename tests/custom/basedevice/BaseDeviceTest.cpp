// What every device shares: channel names, value conversions, labels and
// the periodic speaker-setting check.

#include "DeviceFixture.h"
#include "custom/basedevice/BaseDevice.h"
#include "custom/basedevice/DriverConversions.h"

#include "fennik/server/service/NotificationService.h"
#include "qor/server/services/FtNetworkService.h"
#include "qor/server/services/FtPowerService.h"

#include <gtest/gtest.h>

#include <functional>

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

TEST_F(BaseDeviceTest, LinkSpeedsAndDeviceIdsReadAsUsersExpect) {
  EXPECT_EQ(qa4_->getLinkSpeedString(100), "100 MBit");
  EXPECT_EQ(qa4_->getLinkSpeedString(999), "999 MBit");
  EXPECT_EQ(qa4_->getLinkSpeedString(1000), "1 GBit");
  EXPECT_EQ(qa4_->getLinkSpeedString(2500), "2 GBit");
  EXPECT_EQ(qa4_->getLinkSpeedString(10000), "10 GBit");
  EXPECT_EQ(deviceIdText(42), "042");
  EXPECT_EQ(deviceIdText(7), "007");
  EXPECT_EQ(deviceIdText(1234), "1234");
  EXPECT_EQ(parseDeviceId("042"), 42);
  EXPECT_FALSE(parseDeviceId("4x2"));
  EXPECT_FALSE(parseDeviceId(" 42"));
  EXPECT_FALSE(parseDeviceId(""));
  EXPECT_FALSE(parseDeviceId("99999999999"));

  // Connection phases as progress: phase 1 from 0.1, 3 from 0.2, 4 from
  // 0.95; only phase 5 is online, and phases the table lacks count as 0.
  EXPECT_EQ(onlineProgress(1, 0.0f), std::make_pair(0.1, false));
  EXPECT_DOUBLE_EQ(onlineProgress(1, 1.0f).first, 0.2);
  EXPECT_DOUBLE_EQ(onlineProgress(3, 0.5f).first, 0.575);
  EXPECT_DOUBLE_EQ(onlineProgress(4, 1.0f).first, 1.0);
  EXPECT_FALSE(onlineProgress(4, 1.0f).second);
  EXPECT_EQ(onlineProgress(5, 0.0f), std::make_pair(1.0, true));
  EXPECT_EQ(onlineProgress(2, 0.7f), std::make_pair(0.0, false));
  EXPECT_EQ(onlineProgress(0, 1.0f), std::make_pair(0.0, false));
  EXPECT_EQ(onlineProgress(6, 1.0f), std::make_pair(0.0, false));
}

TEST_F(BaseDeviceTest, KnownValuesConvertBothWaysSilently) {
  LogCapture log;
  for (int v = 0; v <= 1; ++v) EXPECT_EQ(sampleRateToDriver(sampleRateFromDriver(v)), v);
  EXPECT_EQ(sampleRateFromDriver(1), SampleRate::SR_96);
  for (int v = 0; v <= 3; ++v) EXPECT_EQ(networkModeToDriver(networkModeFromDriver(v)), v);
  EXPECT_EQ(networkModeFromDriver(0), NetworkMode::NM_TRANSPARENT);
  for (int v = 1; v <= 3; ++v) EXPECT_EQ(ipModeToDriver(ipModeFromDriver(v)), v);
  EXPECT_EQ(ipModeFromDriver(3), NetworkIPMode::STATIC);
  for (int v = 0; v <= 2; ++v) EXPECT_EQ(gpioModeToDriver(gpioModeFromDriver(v)), v);
  EXPECT_EQ(gpioModeFromDriver(2), FtGPIOMode::DIGITAL_OUT);
  for (int v = 0; v <= 2; ++v) EXPECT_EQ(signalGeneratorTypeToDriver(signalGeneratorTypeFromDriver(v)), v);
  EXPECT_EQ(signalGeneratorTypeFromDriver(1), FtSignalGeneratorType::PINK_NOISE);
  for (int v = 0; v <= 3; ++v) EXPECT_EQ(signalGeneratorModeToDriver(signalGeneratorModeFromDriver(v)), v);
  EXPECT_EQ(signalGeneratorModeFromDriver(0), FtSignalGeneratorMode::PRE_SOLO);
  for (int v = 0; v <= 4; ++v) EXPECT_EQ(driveModeToDriver(driveModeFromDriver(v)), v);
  EXPECT_EQ(driveModeFromDriver(0), FtAmplifierDriveModeType::DM_LOWZ);
  EXPECT_EQ(driveModeFromDriver(4), FtAmplifierDriveModeType::DM_200V);
  for (int v : {0, 1, 2, 3, 4, 5, 9, 10, 11, 12}) EXPECT_EQ(eqFilterTypeToDriver(eqFilterTypeFromDriver(v)), v);
  EXPECT_EQ(eqFilterTypeFromDriver(9), FtEqFilterType::NOTCH);
  for (int v = 0; v <= 2; ++v) EXPECT_EQ(eqSlopeTypeToDriver(eqSlopeTypeFromDriver(v)), v);
  EXPECT_EQ(sourceFamilyFromDriver(0), FtInputSourceFamily::ANALOG);
  EXPECT_EQ(sourceFamilyFromDriver(1), FtInputSourceFamily::AES);
  EXPECT_EQ(sourceFamilyFromDriver(2), FtInputSourceFamily::DANTE);
  for (int v = 0; v <= 3; ++v) EXPECT_EQ(failoverTypeToDriver(failoverTypeFromDriver(v)), v);
  EXPECT_EQ(failoverTypeFromDriver(3), FtFailoverConfigType::FAILOVER_STATIC);
  EXPECT_EQ(log.count(""), 0) << "nothing logged for values both sides know";
}

TEST_F(BaseDeviceTest, UnknownValuesAreLoggedAndMappedToTheDefault) {
  struct Unknown {
    std::function<bool()> mapsToDefault;
    const char* message;
  };
  const std::vector<Unknown> cases{
      {[] { return sampleRateFromDriver(9) == SampleRate::SR_48; }, "Not aware of this fennik::common::SampleRate"},
      {[] { return sampleRateToDriver(SampleRate::NONE) == 0; }, "Not aware of this qor::server::SampleRate"},
      {[] { return networkModeFromDriver(7) == NetworkMode::NM_RSTPGLITCHFREE; },
       "Unknown qor::server::NetworkMode is used"},
      {[] { return networkModeToDriver(NetworkMode::NONE) == 1; }, "Unknown qor::server::NetworkMode is used"},
      {[] { return ipModeFromDriver(0) == NetworkIPMode::UNKNOWN; }, "Unknown NetworkIPMode is used"},
      {[] { return ipModeToDriver(NetworkIPMode::UNKNOWN) == 0; }, "Unknown NetworkIPMode is used"},
      {[] { return gpioModeFromDriver(3) == FtGPIOMode::ANALOG_IN; }, "Not aware of this qor::server::FtGPIOMode"},
      {[] { return gpioModeToDriver(static_cast<FtGPIOMode>(7)) == 0; }, "Not aware of this qor::server::FtGPIOMode"},
      {[] { return signalGeneratorTypeToDriver(FtSignalGeneratorType::PILOT) == 0; },
       "Got qor::server::FtSignalGeneratorType which we don't know about"},
      {[] { return signalGeneratorTypeFromDriver(3) == FtSignalGeneratorType::SINE; },
       "Got fennik::common::SignalGeneratorType which we don't know about"},
      {[] { return signalGeneratorModeToDriver(FtSignalGeneratorMode::UNKNOWN) == 0; },
       "Got FtSignalGeneratorMode which we don't know about"},
      {[] { return signalGeneratorModeFromDriver(4) == FtSignalGeneratorMode::PRE_SOLO; },
       "Got SignalGeneratorMode which we don't know about"},
      {[] { return driveModeFromDriver(5) == FtAmplifierDriveModeType::DM_LOWZ; },
       "Not aware of this fennik::common::AmplifierDriveMode"},
      {[] { return driveModeToDriver(FtAmplifierDriveModeType::NONE) == 0; },
       "Not aware of this qor::server::FtAmplifierDriveModeType"},
      {[] { return eqFilterTypeFromDriver(7) == FtEqFilterType::PEQ; }, "Got EqType we don't know about"},
      {[] { return eqFilterTypeToDriver(FtEqFilterType::BANDPASS) == 0; },
       "Got qor::server::FtEqFilterType we don't know about"},
      {[] { return eqSlopeTypeFromDriver(3) == FtEqFilterSlopeType::NULL_DB; }, "Got SlopeType we don't know about"},
      {[] { return eqSlopeTypeToDriver(FtEqFilterSlopeType::BUTTER24) == 0; },
       "Got qor::server::FtEqFilterSlopeType we don't know about"},
      {[] { return sourceFamilyFromDriver(3) == FtInputSourceFamily::UNKNOWN; },
       "Unknown fennik::common::SourceFamily is used"},
      {[] { return failoverTypeFromDriver(4) == FtFailoverConfigType::FAILOVER_FALLBACK; },
       "Unknown FtFailoverConfigType is used"},
      {[] { return failoverTypeToDriver(static_cast<FtFailoverConfigType>(-1)) == 0; },
       "Unknown FtFailoverConfigType is used"},
  };
  for (const auto& c : cases) {
    LogCapture log;
    EXPECT_TRUE(c.mapsToDefault()) << c.message;
    EXPECT_EQ(log.count(c.message), 1) << c.message;
    EXPECT_EQ(log.count(""), 1) << c.message;
  }
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

TEST_F(BaseDeviceTest, NetworkPowerAndIdentifyReachTheDevice) {
  Device* amp = createDevice(devicetypes::QA8_TYPE_ID);
  bringOnline(amp);
  auto networks = service<FtNetworkService>();
  FtNetwork* network = amp->getNetwork();
  EXPECT_EQ(network->getSampleRate(), SampleRate::SR_48);
  networks->setSampleRate(network, SampleRate::SR_96, false);
  networks->setNetworkMode(network, NetworkMode::NM_RSTP, false);
  networks->setConfiguredIp(network, "10.0.0.20", false);
  networks->setConfiguredDefaultGateway(network, "10.0.0.1", false);
  networks->setIpMode(network, NetworkIPMode::STATIC, false);
  service<FtPowerService>()->setPower(amp->getPower(), false, false);
  service<FtOnlineService>()->setIsIdentifyActive(amp->getOnline(), true, false);
  run(300ms);
  auto* driver = qa8_->driver(amp);
  EXPECT_EQ(driver->getSampleRate(), 1);
  EXPECT_EQ(driver->getNetworkMode(), 1);
  EXPECT_EQ(driver->getIpMode(), 3);
  EXPECT_FALSE(driver->getPower());
  EXPECT_TRUE(driver->isIdentifyActive());
  // The device reports back what it now runs.
  EXPECT_EQ(network->getIpMode(), NetworkIPMode::STATIC);
  EXPECT_FALSE(amp->getPower()->getPower());
  const auto& names = amp->getDeviceState()->getFlagNames();
  const auto dsp96 = static_cast<std::size_t>(std::find(names.begin(), names.end(), "DSP 96 kHz") - names.begin());
  ASSERT_LT(dsp96, names.size());
  EXPECT_TRUE(amp->getDeviceState()->getFlagStates()[dsp96]);
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

TEST_F(BaseDeviceTest, FirmwareUpdatesShowTheirProgressAndHowTheyEnded) {
  LogCapture log;
  Device* amp = createDevice(devicetypes::QA4_TYPE_ID);
  auto infos = service<FtDeviceInfoService>();
  FtDeviceInfo* info = amp->getDeviceInfo();
  EXPECT_EQ(info->getFirmware(), "2.1.4");
  std::vector<std::string> messages;
  info->onFirmwareUpdateDebugMessagesChanged([&](const std::string& text, bool) { messages.push_back(text); });

  // Offline the driver refuses: logged, nothing shown, nothing thrown.
  infos->setFirmwareLoadFilePath(info, "/data/qa4-2.2.0.img", false);
  run(1000ms);
  EXPECT_EQ(log.count("startFirmwareUpdate failed: The device is not online"), 1);
  EXPECT_TRUE(messages.empty());

  const std::string id = bringOnline(amp);
  infos->setFirmwareLoadFilePath(info, "/updates/qa4-2.3.0.bin", false);
  run(2000ms);
  EXPECT_EQ(messages, (std::vector<std::string>{"0 % Writing firmware image", "25 % Writing firmware image",
                                                "50 % Writing firmware image", "75 % Writing firmware image",
                                                "100 % Restarting", "SUCCESS"}));
  EXPECT_EQ(info->getFirmware(), "qa4-2.3.0");
  EXPECT_EQ(info->getFirmwareDetails(), "QA-4 firmware qa4-2.3.0, DSP 1.0");

  // A rejected image ends in FAILED and leaves the firmware as it was.
  messages.clear();
  network_->injectFault(id, SimulatedNetwork::Fault::FirmwareUpdateFails);
  infos->setFirmwareLoadFilePath(info, "/updates/qa4-9.9.9.bin", false);
  run(2000ms);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), "FAILED");
  EXPECT_EQ(info->getFirmware(), "qa4-2.3.0");
}

TEST_F(BaseDeviceTest, SpeakerSettingsAreCheckedEveryFiveSeconds) {
  Device* amp = createDevice(devicetypes::QA4_TYPE_ID);
  const std::string id = bringOnline(amp);
  FtSpeakerSetting* setting = amp->getSpeakerSetting()->childrens()[0];
  service<FtSpeakerSettingService>()->setSupposedSpeakerDbDspChainId(setting, "chain-1", false);
  run(100ms);
  qa4_->loaded();
  qa4_->loaded();
  EXPECT_EQ(context_->jobs()->timedCount(), 1u) << "loaded twice, still one check";

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
