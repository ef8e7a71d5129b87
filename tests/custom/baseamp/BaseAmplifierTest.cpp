// Amplifiers built from the simulated models: which features each model
// gets, and how values travel between features and drivers.

#include "DeviceFixture.h"
#include "custom/basedevice/StateFlags.h"

#include "qor/server/services/FtAmplifierDriveModeService.h"
#include "qor/server/services/FtEqFilterBankService.h"
#include "qor/server/services/FtInputRoutingService.h"
#include "qor/server/services/FtLoadService.h"
#include "qor/server/services/FtSupermeterService.h"

#include <gtest/gtest.h>

#include <cmath>

namespace qor::server::testing {
namespace {

std::vector<int> indexesOf(const auto& children) {
  std::vector<int> result;
  for (const auto* child : children) result.push_back(child->getIndex());
  return result;
}

class BaseAmplifierTest : public DeviceFixture {};

TEST_F(BaseAmplifierTest, FeaturesFollowWhatEachModelSupports) {
  Device* qa4 = createDevice(devicetypes::QA4_TYPE_ID);
  Device* qa8 = createDevice(devicetypes::QA8_TYPE_ID);
  ASSERT_TRUE(qa4 && qa8);

  // Gain only where the driver supports it, at the channel's index.
  ASSERT_TRUE(qa4->getAmplifierGain());
  EXPECT_EQ(indexesOf(qa4->getAmplifierGain()->childrens()), (std::vector<int>{0, 2}));
  EXPECT_EQ(qa8->getAmplifierGain()->childrens().size(), 8u);
  EXPECT_EQ(qa4->getAmplifierGain()->childrens()[1]->getLabel(), qa4->getLabel()->childrens()[2]);

  // Delays and equaliser banks for user and array channels only.
  for (Device* d : {qa4, qa8}) {
    ASSERT_EQ(d->delays().size(), 2u);
    EXPECT_EQ(d->delays()[0]->getChannelType(), FtChannelType::USER);
    EXPECT_EQ(d->delays()[1]->getChannelType(), FtChannelType::ARRAY);
    ASSERT_EQ(d->eqFilterBanks().size(), 2u);
    EXPECT_EQ(d->eqFilterBanks()[1]->getChannelType(), FtChannelType::ARRAY);
  }
  EXPECT_EQ(qa8->eqFilterBanks()[0]->childrens()[7]->filters().size(), 8u);

  // GPIOs: none on the QA-4, two labelled ones on the QA-8.
  EXPECT_EQ(qa4->getGpio(), nullptr);
  ASSERT_TRUE(qa8->getGpio());
  ASSERT_EQ(qa8->getGpio()->childrens().size(), 2u);
  EXPECT_EQ(qa8->getGpio()->childrens()[0]->getLabel()->getShortName(), "GPIO 1");
  EXPECT_EQ(qa8->getGpio()->childrens()[1]->getLabel()->getShortName(), "GPIO 2");

  // Drive modes as the model supports them.
  auto* qa4Mode = qa4->getAmplifierDriveMode()->childrens()[0];
  EXPECT_TRUE(qa4Mode->getModeSupported70V());
  EXPECT_FALSE(qa4Mode->getModeSupported140V());
  EXPECT_EQ(qa4Mode->getMode(), FtAmplifierDriveModeType::DM_LOWZ);
  EXPECT_TRUE(qa8->getAmplifierDriveMode()->childrens()[0]->getModeSupported200V());

  // Flags the driver does not offer are left out; the rest keep their order.
  const auto& names = qa4->getDeviceState()->getFlagNames();
  EXPECT_EQ(std::find(names.begin(), names.end(), "Fan Fail"), names.end());
  auto mains = std::find(names.begin(), names.end(), "Mains Warning");
  auto panel = std::find(names.begin(), names.end(), "Panel Unlocked");
  ASSERT_NE(mains, names.end());
  EXPECT_LT(mains, panel);
  EXPECT_EQ(qa4->getDeviceState()->getFlagStates().size(), names.size());
  ASSERT_EQ(qa4->getDeviceState()->channelStates().size(), 4u);
  const auto& channelNames = qa4->getDeviceState()->channelStates()[0]->getFlagNames();
  EXPECT_EQ(std::count(channelNames.begin(), channelNames.end(), "Output Pilot Fail"), 0);
  EXPECT_EQ(channelNames.back(), "Error / Hold");
  EXPECT_EQ(
      qa8->getDeviceState()->getFlagNames(),
      (std::vector<std::string>{"Device Not Ready", "Mains Warning", "Network Fail", "Fan Fail", "Panel Unlocked",
                                "DSP 96 kHz", "Dante Glitchfree", "Telnet Enabled", "Telnet Active", "Firmware Update",
                                "Device Fault", "Source Error", "GPIO 1", "GPIO 2", "GPIO Fuse Fail", "Warning"}));
  EXPECT_EQ(
      qa8->getDeviceState()->channelStates()[7]->getFlagNames(),
      (std::vector<std::string>{"Input Failover", "Mute", "Thermal Warning", "Gain Reduction", "Protect",
                                "Load: Min / Shorted", "Load: Max / Open", "Output Pilot Fail", "Pilot: Min / Shorted",
                                "Pilot: Max / Open", "Incorrect Speaker Setting", "Warning", "Error / Hold"}));
  const auto& collect = qa8->getDeviceState()->getFlagCollectSupported();
  const auto fault = std::find(qa8->getDeviceState()->getFlagNames().begin(),
                               qa8->getDeviceState()->getFlagNames().end(), "Device Fault");
  EXPECT_FALSE(collect[static_cast<std::size_t>(fault - qa8->getDeviceState()->getFlagNames().begin())])
      << "faults are never collected";

  // Labels, device info and the rest of the common features.
  ASSERT_EQ(qa8->getLabel()->childrens().size(), 8u);
  EXPECT_EQ(qa8->getLabel()->childrens()[3]->getName(), "Channel D");
  EXPECT_EQ(qa8->getLabel()->childrens()[3]->getShortName(), "D");
  EXPECT_EQ(qa8->getDeviceInfo()->getModel(), "QA-8");
  EXPECT_EQ(qa8->getDeviceInfo()->getDeviceId(), "000");
  EXPECT_EQ(qa8->getDeviceInfo()->getFirmware(), "3.0.2");
  EXPECT_TRUE(qa8->getPower()->getBreakerInAmperesSupported());
  EXPECT_FALSE(qa4->getPower()->getBreakerInAmperesSupported());
  EXPECT_EQ(qa8->getInputSource()->childrens().size(), 5u);
  EXPECT_EQ(qa8->inputRoutings().size(), 2u);
  EXPECT_EQ(qa8->getSpeakerSetting()->childrens().size(), 8u);
  EXPECT_EQ(qa8->getNetwork()->getSecondaryStatus(), "");
  EXPECT_TRUE(qa8->getVisualItem());
}

TEST_F(BaseAmplifierTest, TwoChannelFlagsAreShownWhateverTheDriverSays) {
  auto model = devicetypes::qa4Model();
  model.model = "QA-4-bare";
  model.channelFlags.reset();
  model.deviceFlags.reset();
  network_->registerModel(model);
  auto bare = network_->createDriver(model.model);
  EXPECT_TRUE(availableDeviceFlags(*bare).empty());
  const auto flags = availableChannelFlags(*bare);
  std::vector<std::string> names;
  for (auto flag : flags) names.emplace_back(stateFlagName(flag));
  EXPECT_EQ(names, (std::vector<std::string>{"Incorrect Speaker Setting", "Error / Hold"}));
}

TEST_F(BaseAmplifierTest, OnlineFollowsTheWantedStateAndShowsProgress) {
  Device* amp = createDevice(devicetypes::QA4_TYPE_ID);
  auto onlines = service<FtOnlineService>();
  FtOnline* online = amp->getOnline();
  std::vector<double> progress;
  online->onProgressChanged([&](const double& p, bool) {
    if (progress.empty() || std::abs(progress.back() - p) > 1e-9) progress.push_back(p);
  });

  // No physical device yet: going online reading means going offline.
  onlines->setSupposedState(online, FtOnlineState::ONLINE_READING, false);
  run(2000ms);
  EXPECT_TRUE(progress.empty());
  EXPECT_FALSE(online->getIsOnline());

  // The driver was told to go offline, not to look for a device: given a
  // physical id it stays offline until the wanted state changes again.
  const std::string id = network_->addDevice("QA-4");
  service<DeviceService>()->setDeviceId(amp, id, false);
  EXPECT_EQ(qa4_->driver(amp)->getPhysicalDeviceId(), id);
  run(2000ms);
  EXPECT_FALSE(qa4_->driver(amp)->isOnline());
  EXPECT_TRUE(progress.empty());
  onlines->setSupposedState(online, FtOnlineState::OFFLINE, false);
  onlines->setSupposedState(online, FtOnlineState::ONLINE_READING, false);
  run(1000ms);
  EXPECT_TRUE(online->getIsOnline());
  EXPECT_DOUBLE_EQ(online->getProgress(), 1.0);
  // Phase 1 runs 0.1 to 0.2, phase 3 to 0.95, phase 4 to 1.0, phase 5 is 1.0.
  const std::vector<double> expected{0.1, 0.2, 0.575, 0.95, 1.0};
  ASSERT_EQ(progress.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(progress[i], expected[i], 1e-9) << i;
  EXPECT_EQ(amp->getDeviceInfo()->getName(), id) << "read from the device";

  // The device drops off: back to zero and offline, then back again.
  network_->setReachable(id, false);
  run(100ms);
  EXPECT_FALSE(online->getIsOnline());
  EXPECT_DOUBLE_EQ(online->getProgress(), 0.0);
  network_->setReachable(id, true);
  run(2000ms);
  EXPECT_TRUE(online->getIsOnline());

  onlines->setSupposedState(online, FtOnlineState::OFFLINE, false);
  run(100ms);
  EXPECT_FALSE(online->getIsOnline());
}

TEST_F(BaseAmplifierTest, GoingOnlineWritingSendsTheProjectReadingTakesTheDevice) {
  Device* writer = createDevice(devicetypes::QA8_TYPE_ID);
  FtAmplifierGain* gain = writer->getAmplifierGain()->childrens()[2];
  service<FtAmplifierGainService>()->setGainInDb(gain, 35.0, false);
  service<FtAudioService>()->setIsMuted(writer->getAudio()->childrens()[5], true, false);
  const std::string id = bringOnline(writer, FtOnlineState::ONLINE_WRITING);
  ASSERT_TRUE(writer->getOnline()->getIsOnline());
  EXPECT_DOUBLE_EQ(gain->getGainInDb(), 35.0);

  // Another project device reading the same physical device takes its values.
  Device* reader = createDevice(devicetypes::QA8_TYPE_ID);
  EXPECT_NE(reader->getAmplifierGain()->childrens()[2]->getGainInDb(), 35.0);
  service<DeviceService>()->setDeviceId(reader, id, false);
  service<FtOnlineService>()->setSupposedState(reader->getOnline(), FtOnlineState::ONLINE_READING, false);
  run(1000ms);
  ASSERT_TRUE(reader->getOnline()->getIsOnline());
  EXPECT_DOUBLE_EQ(reader->getAmplifierGain()->childrens()[2]->getGainInDb(), 35.0);
  EXPECT_TRUE(reader->getAudio()->childrens()[5]->getIsMuted());
  EXPECT_FALSE(reader->getAudio()->childrens()[4]->getIsMuted());
}

TEST_F(BaseAmplifierTest, AnUnknownRoutingTypeIsLoggedAndNotSent) {
  LogCapture log;
  Device* amp = createDevice(devicetypes::QA8_TYPE_ID);
  FtInputRouting* routing = amp->inputRoutings()[1];
  routing->setRoutingType(static_cast<FtInputRoutingType>(7), false);
  const auto writes = network_->writesReceived();
  plant_->reconnect(amp);
  EXPECT_GE(log.count("Unknown FtInputRoutingType is used"), 1);
  service<FtInputRoutingService>()->selectInputSource(routing->childrens()[0], amp->getInputSource()->childrens()[1]);
  EXPECT_EQ(network_->writesReceived(), writes);
}

TEST_F(BaseAmplifierTest, OnlyPinsInsideTheRangeReachTheDevice) {
  Device* amp = createDevice(devicetypes::QA4_TYPE_ID);
  bringOnline(amp);
  auto onlines = service<FtOnlineService>();
  FtOnline* online = amp->getOnline();
  EXPECT_EQ(online->getFrontPanelLockPinMin(), 1000u);
  EXPECT_EQ(online->getFrontPanelLockPinMax(), 9999u);
  const auto writes = network_->writesReceived();
  onlines->setFrontPanelLockPin(online, 999, false);
  run(100ms);
  EXPECT_EQ(network_->writesReceived(), writes);
  EXPECT_EQ(qa4_->driver(amp)->getFrontPanelLockPin(), 1000);
  onlines->setFrontPanelLockPin(online, 9999, false);
  run(100ms);
  EXPECT_EQ(qa4_->driver(amp)->getFrontPanelLockPin(), 9999);
  EXPECT_EQ(online->getFrontPanelLockPin(), 9999u);
}

TEST_F(BaseAmplifierTest, DriverValuesComeBackWithoutBeingEchoed) {
  Device* amp = createDevice(devicetypes::QA8_TYPE_ID);
  const std::string id = bringOnline(amp);
  auto gains = service<FtAmplifierGainService>();
  FtAmplifierGain* gain = amp->getAmplifierGain()->childrens()[1];

  // A user's change goes to the driver once.
  auto writes = network_->writesReceived();
  gains->setGainInDb(gain, 30.0, false);
  run(100ms);
  EXPECT_EQ(network_->writesReceived(), writes + 1);
  EXPECT_DOUBLE_EQ(qa8_->driver(amp)->getGain(1), 30.0);

  // Changes made elsewhere on the device, to every feature the amplifier
  // binds, arrive as external writes and none is sent back.
  using fennik::devices::ChannelFlag;
  using fennik::devices::ChannelType;
  using fennik::devices::DeviceFlag;
  auto other = network_->createDriver("QA-8");
  other->setPhysicalDeviceId(id);
  other->goOnline(true);
  run(1000ms);
  writes = network_->writesReceived();
  other->setGain(1, 26.0);
  other->setMute(2, true);
  other->setLevel(0, -6.0);
  other->setTrim(0, -3.0);
  other->setPolarity(3, true);
  other->setDriveMode(4, 2);
  other->setDelay(ChannelType::Array, 5, 20.0);
  other->setDelayBypass(ChannelType::User, 5, false);
  fennik::devices::EqFilter filter;
  filter.type = 1;
  filter.gainInDb = 4.0;
  filter.bypass = false;
  other->setEqFilter(ChannelType::User, 1, 0, filter);
  auto failover = other->getFailoverConfig();
  failover.type = 2;
  failover.failoverTime = failover.timeMinimum + 1;
  other->setFailoverConfig(failover);
  auto load = other->getLoad(6);
  load.pilotActive = true;
  load.thresholdMax = 12.0;
  other->setLoad(6, load);
  auto generator = other->getSignalGenerator(7);
  generator.active = true;
  generator.type = 2;
  generator.mode = 3;
  other->setSignalGenerator(7, generator);
  other->setGpioMode(0, 2);
  other->setGpoDigital(1, true);
  other->setPowerOnDelay(2.5);
  other->setBreakerCurrent(16.0);
  other->setName("stage-right");
  other->setDeviceIntId(77);
  other->setChannelCustomName(4, "Fill");
  other->setIdentifyActive(true);
  other->setFrontPanelLock(true);
  other->setFrontPanelLockPin(4321);
  other->setSampleRate(1);
  other->setNetworkMode(2);
  other->setDeviceFlagCollect(DeviceFlag::MainsWarning, true);
  other->setChannelFlagCollect(0, ChannelFlag::Mute, true);
  other->setCollectedErrorHold(true);
  other->setSelectedInputSources(0, 1, {2});
  other->setStartUpPresetSlot("C");
  const auto sent = network_->writesReceived() - writes;
  run(300ms);
  EXPECT_EQ(network_->writesReceived(), writes + sent) << "only the other driver's writes";

  EXPECT_DOUBLE_EQ(gain->getGainInDb(), 26.0);
  EXPECT_TRUE(amp->getAudio()->childrens()[2]->getIsMuted());
  EXPECT_DOUBLE_EQ(amp->getAudio()->childrens()[0]->getLevelInDb(), -6.0);
  EXPECT_DOUBLE_EQ(amp->getAudio()->childrens()[0]->getTrimInDb(), -3.0);
  EXPECT_TRUE(amp->getAudio()->childrens()[3]->getPolarityInverted());
  EXPECT_EQ(amp->getAmplifierDriveMode()->childrens()[4]->getMode(), FtAmplifierDriveModeType::DM_100V);
  EXPECT_DOUBLE_EQ(amp->delays()[1]->childrens()[5]->getDelayInMs(), 20.0);
  EXPECT_FALSE(amp->delays()[0]->childrens()[5]->getIsBypassed());
  FtEqFilter* eq = amp->eqFilterBanks()[0]->childrens()[1]->filters()[0];
  EXPECT_EQ(eq->getType(), FtEqFilterType::LOSHELV);
  EXPECT_DOUBLE_EQ(eq->getGainInDb(), 4.0);
  // A bank is active while one of its filters is not bypassed.
  EXPECT_TRUE(amp->eqFilterBanks()[0]->childrens()[1]->getIsActive());
  EXPECT_FALSE(amp->eqFilterBanks()[0]->childrens()[2]->getIsActive());
  EXPECT_EQ(amp->getFailoverConfig()->getSelectedType(), FtFailoverConfigType::DEFAULT_STATIC);
  EXPECT_EQ(amp->getFailoverConfig()->getFailoverTime(), failover.failoverTime);
  EXPECT_TRUE(amp->getLoad()->childrens()[6]->getGenActive());
  EXPECT_DOUBLE_EQ(amp->getLoad()->childrens()[6]->getThresholdMax(), 12.0);
  FtSignalGenerator* gen = amp->getSignalGenerator()->childrens()[7];
  EXPECT_TRUE(gen->getActive());
  EXPECT_EQ(gen->getType(), FtSignalGeneratorType::WHITE_NOISE);
  EXPECT_EQ(gen->getMode(), FtSignalGeneratorMode::POST_MIX);
  EXPECT_EQ(amp->getGpio()->childrens()[0]->getCurrentGpioMode(), FtGPIOMode::DIGITAL_OUT);
  EXPECT_TRUE(amp->getGpio()->childrens()[1]->getGpoDigital());
  EXPECT_DOUBLE_EQ(amp->getPower()->getDelayInSec(), 2.5);
  EXPECT_DOUBLE_EQ(amp->getPower()->getBreakerInAmperes(), 16.0);
  EXPECT_EQ(amp->getDeviceInfo()->getName(), "stage-right");
  EXPECT_EQ(amp->getDeviceInfo()->getDeviceId(), "077");
  EXPECT_EQ(amp->getLabel()->childrens()[4]->getCustomName(), "Fill");
  EXPECT_TRUE(amp->getOnline()->getIsIdentifyActive());
  EXPECT_TRUE(amp->getOnline()->getFrontPanelLock());
  EXPECT_EQ(amp->getOnline()->getFrontPanelLockPin(), 4321u);
  EXPECT_EQ(amp->getNetwork()->getSampleRate(), SampleRate::SR_96);
  EXPECT_EQ(amp->getNetwork()->getNetworkMode(), NetworkMode::NM_GLITCHFREE);
  EXPECT_TRUE(amp->getDeviceState()->getIsCollectedErrorHold());
  const auto& deviceFlags = amp->getDeviceState()->getFlagNames();
  const auto mains = static_cast<std::size_t>(std::find(deviceFlags.begin(), deviceFlags.end(), "Mains Warning") -
                                              deviceFlags.begin());
  EXPECT_TRUE(amp->getDeviceState()->getFlagCollectStates()[mains]);
  FtChannelState* channel0 = amp->getDeviceState()->channelStates()[0];
  const auto& channelFlags = channel0->getFlagNames();
  const auto mute =
      static_cast<std::size_t>(std::find(channelFlags.begin(), channelFlags.end(), "Mute") - channelFlags.begin());
  EXPECT_TRUE(channel0->getFlagCollectStates()[mute]);
  FtInputRouting* failoverRouting = amp->inputRoutings()[1]->childrens()[0];
  ASSERT_EQ(failoverRouting->selectedInputSources().size(), 1u);
  EXPECT_EQ(failoverRouting->selectedInputSources()[0]->getIndex(), 2);
  EXPECT_EQ(amp->getPreset()->getStartUpSlot(), "C");

  // A user's filter change shows on its bank at once.
  service<FtEqFilterService>()->setBypass(amp->eqFilterBanks()[1]->childrens()[3]->filters()[1], false, false);
  EXPECT_TRUE(amp->eqFilterBanks()[1]->childrens()[3]->getIsActive());

  // External writes from the model side are not sent either.
  run(100ms);
  writes = network_->writesReceived();
  gains->setGainInDb(gain, 40.0, true);
  service<FtAudioService>()->setIsMuted(amp->getAudio()->childrens()[0], true, true);
  run(100ms);
  EXPECT_EQ(network_->writesReceived(), writes);
}

TEST_F(BaseAmplifierTest, WhatAUserSetsOnAnyChannelReachesTheDevice) {
  using fennik::devices::ChannelType;
  Device* amp = createDevice(devicetypes::QA8_TYPE_ID);
  const std::string id = bringOnline(amp);

  auto audio = service<FtAudioService>();
  audio->setIsMuted(amp->getAudio()->childrens()[2], true, false);
  audio->setLevelInDb(amp->getAudio()->childrens()[2], -12.0, false);
  audio->setTrimInDb(amp->getAudio()->childrens()[1], -2.0, false);
  audio->setPolarityInverted(amp->getAudio()->childrens()[5], true, false);
  service<FtAmplifierDriveModeService>()->setMode(amp->getAmplifierDriveMode()->childrens()[6],
                                                  FtAmplifierDriveModeType::DM_100V, false);
  auto delays = service<FtDelayService>();
  delays->setDelayInMs(amp->delays()[1]->childrens()[3], 12.5, false);
  FtDelay* userDelay = amp->delays()[0]->childrens()[4];
  const bool bypassed = !userDelay->getIsBypassed();
  delays->setIsBypassed(userDelay, bypassed, false);
  auto filters = service<FtEqFilterService>();
  FtEqFilter* eq = amp->eqFilterBanks()[1]->childrens()[2]->filters()[3];
  filters->setGainInDb(eq, -5.0, false);
  filters->setBypass(eq, false, false);
  // Switching a bank off bypasses its filters on the device.
  FtEqFilterBank* bank = amp->eqFilterBanks()[0]->childrens()[6];
  filters->setBypass(bank->filters()[0], false, false);
  ASSERT_TRUE(bank->getIsActive());
  service<FtEqFilterBankService>()->setIsActive(bank, false, false);
  auto loads = service<FtLoadService>();
  loads->setGenActive(amp->getLoad()->childrens()[1], true, false);
  loads->setThresholdMax(amp->getLoad()->childrens()[1], 12.0, false);
  auto generators = service<FtSignalGeneratorService>();
  generators->setActive(amp->getSignalGenerator()->childrens()[7], true, false);
  generators->setType(amp->getSignalGenerator()->childrens()[7], FtSignalGeneratorType::WHITE_NOISE, false);
  auto gpios = service<FtGPIOService>();
  gpios->setCurrentGpioMode(amp->getGpio()->childrens()[0], FtGPIOMode::DIGITAL_OUT, false);
  gpios->setGpoDigital(amp->getGpio()->childrens()[1], true, false);
  run(300ms);

  // What the device holds, read by a second driver of it.
  auto other = network_->createDriver("QA-8");
  other->setPhysicalDeviceId(id);
  other->goOnline(true);
  run(1000ms);
  EXPECT_TRUE(other->getMute(2));
  EXPECT_FALSE(other->getMute(1));
  EXPECT_DOUBLE_EQ(other->getLevel(2), -12.0);
  EXPECT_DOUBLE_EQ(other->getTrim(1), -2.0);
  EXPECT_TRUE(other->getPolarity(5));
  EXPECT_EQ(other->getDriveMode(6), 2) << "100 V";
  EXPECT_DOUBLE_EQ(other->getDelay(ChannelType::Array, 3), 12.5);
  EXPECT_EQ(other->getDelayBypass(ChannelType::User, 4), bypassed);
  EXPECT_DOUBLE_EQ(other->getEqFilter(ChannelType::Array, 2, 3).gainInDb, -5.0);
  EXPECT_FALSE(other->getEqFilter(ChannelType::Array, 2, 3).bypass);
  EXPECT_TRUE(other->getEqFilter(ChannelType::User, 6, 0).bypass);
  EXPECT_FALSE(bank->getIsActive());
  EXPECT_TRUE(other->getLoad(1).pilotActive);
  EXPECT_DOUBLE_EQ(other->getLoad(1).thresholdMax, 12.0);
  EXPECT_FALSE(other->getLoad(0).pilotActive);
  EXPECT_TRUE(other->getSignalGenerator(7).active);
  EXPECT_EQ(other->getSignalGenerator(7).type, 2) << "white noise";
  EXPECT_EQ(other->getGpioMode(0), 2) << "digital out";
  EXPECT_TRUE(other->getGpoDigital(1));
}

TEST_F(BaseAmplifierTest, MetersStatesAndFirmwareReachTheFeatures) {
  Device* amp = createDevice(devicetypes::QA8_TYPE_ID);
  const std::string id = bringOnline(amp);
  auto generators = service<FtSignalGeneratorService>();
  FtSignalGenerator* generator = amp->getSignalGenerator()->childrens()[0];
  generators->setType(generator, FtSignalGeneratorType::SINE, false);
  generators->setLevelInDb(generator, -12.0, false);
  generators->setActive(generator, true, false);
  network_->injectFault(id, SimulatedNetwork::Fault::LoadShort, true, 3);
  run(300ms);
  FtSupermeter* meter = amp->getSupermeter()->childrens()[0];
  EXPECT_NEAR(meter->getInput(), -12.0, 0.5);
  EXPECT_NEAR(meter->getOutput(), -12.0, 0.5);
  EXPECT_TRUE(amp->getSupermeter()->childrens()[3]->getImpedanceShort());
  EXPECT_TRUE(amp->getLoad()->childrens()[3]->getImpedanceValid());
  EXPECT_LT(amp->getLoad()->childrens()[3]->getImpedance(), 1.0);

  service<FtAudioService>()->setIsMuted(amp->getAudio()->childrens()[0], true, false);
  run(300ms);
  EXPECT_DOUBLE_EQ(meter->getOutput(), -80.0);
  FtChannelState* channel = amp->getDeviceState()->channelStates()[0];
  const auto& names = channel->getFlagNames();
  const auto mute = static_cast<std::size_t>(std::find(names.begin(), names.end(), "Mute") - names.begin());
  EXPECT_TRUE(channel->getFlagStates()[mute]);

  // A firmware update shows its progress and its end.
  std::vector<std::string> messages;
  amp->getDeviceInfo()->onFirmwareUpdateDebugMessagesChanged(
      [&](const std::string& text, bool) { messages.push_back(text); });
  service<FtDeviceInfoService>()->setFirmwareLoadFilePath(amp->getDeviceInfo(), "/data/qa8-3.1.0.img", false);
  run(2000ms);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.front(), "0 % Writing firmware image");
  EXPECT_EQ(messages.back(), "SUCCESS");
  EXPECT_EQ(amp->getDeviceInfo()->getFirmware(), "qa8-3.1.0");
}

TEST_F(BaseAmplifierTest, AJobWhoseFeatureIsGoneDoesNothing) {
  Device* amp = createDevice(devicetypes::QA8_TYPE_ID);
  const std::string id = bringOnline(amp);
  // Reports are posted to the loop but not run yet...
  network_->advance(500ms);
  ASSERT_GT(context_->jobs()->pendingCount(), 0u);
  // ...when the device and its features go.
  plant_->destroy(amp);
  EXPECT_EQ(db().countOfClass(FtSupermeter::CLASS_NAME), 0u);
  EXPECT_GT(context_->loop()->runUntilIdle(), 0u);
  run(500ms);
  EXPECT_EQ(db().countOfClass(Device::CLASS_NAME), 0u);
}

TEST_F(BaseAmplifierTest, AJobWhoseFeatureIsGoneWhileItsDeviceStaysDoesNothing) {
  Device* amp = createDevice(devicetypes::QA8_TYPE_ID);
  const std::string id = bringOnline(amp);
  auto other = network_->createDriver("QA-8");
  other->setPhysicalDeviceId(id);
  other->goOnline(true);
  run(1000ms);
  // Meter, load and gain reports are waiting for the loop...
  other->setGain(0, 30.0);
  network_->advance(500ms);
  ASSERT_GT(context_->jobs()->pendingCount(), 0u);
  // ...when those features go; the device and its driver stay.
  FtSupermeter* meter = amp->getSupermeter();
  amp->setSupermeter(nullptr);
  service<FtSupermeterService>()->destroy(meter);
  FtAmplifierGain* gain = amp->getAmplifierGain();
  amp->setAmplifierGain(nullptr);
  service<FtAmplifierGainService>()->destroy(gain);
  context_->loop()->runUntilIdle();
  EXPECT_EQ(db().countOfClass(FtSupermeter::CLASS_NAME), 0u);
  EXPECT_EQ(db().countOfClass(FtAmplifierGain::CLASS_NAME), 0u);

  // The rest of the device still follows its driver.
  other->setMute(1, true);
  run(300ms);
  EXPECT_TRUE(amp->getAudio()->childrens()[1]->getIsMuted());
  EXPECT_TRUE(amp->getOnline()->getIsOnline());
}

TEST_F(BaseAmplifierTest, ADuplicateCarriesTheOriginalsSettings) {
  Device* amp = createDevice(devicetypes::QA8_TYPE_ID);
  service<FtAmplifierGainService>()->setGainInDb(amp->getAmplifierGain()->childrens()[1], 30.0, false);
  service<FtAudioService>()->setIsMuted(amp->getAudio()->childrens()[2], true, false);
  service<FtDelayService>()->setDelayInMs(amp->delays()[1]->childrens()[3], 12.5, false);
  FtEqFilter* filter = amp->eqFilterBanks()[0]->childrens()[4]->filters()[2];
  service<FtEqFilterService>()->setGainInDb(filter, -3.0, false);
  service<FtEqFilterService>()->setBypass(filter, false, false);
  service<FtEqFilterService>()->setFreqInHz(filter, 250.0, false);
  service<FtLabelService>()->setCustomName(amp->getLabel()->childrens()[0], "Main L", false);

  Device* copy = plant_->duplicate(amp);
  ASSERT_TRUE(copy);
  EXPECT_NE(copy->id(), amp->id());
  EXPECT_EQ(copy->getType(), amp->getType());
  EXPECT_DOUBLE_EQ(copy->getAmplifierGain()->childrens()[1]->getGainInDb(), 30.0);
  EXPECT_TRUE(copy->getAudio()->childrens()[2]->getIsMuted());
  EXPECT_DOUBLE_EQ(copy->delays()[1]->childrens()[3]->getDelayInMs(), 12.5);
  EXPECT_DOUBLE_EQ(copy->eqFilterBanks()[0]->childrens()[4]->filters()[2]->getGainInDb(), -3.0);
  EXPECT_EQ(copy->getLabel()->childrens()[0]->getCustomName(), "Main L");
  // The copy's own driver holds them, ready to be written to a device.
  auto* driver = qa8_->driver(copy);
  EXPECT_DOUBLE_EQ(driver->getGain(1), 30.0);
  EXPECT_DOUBLE_EQ(driver->getDelay(fennik::devices::ChannelType::Array, 3), 12.5);
  const auto eq = driver->getEqFilter(fennik::devices::ChannelType::User, 4, 2);
  EXPECT_DOUBLE_EQ(eq.gainInDb, -3.0);
  EXPECT_FALSE(eq.bypass);
  EXPECT_DOUBLE_EQ(eq.freqInHz, 250.0);
  const FtEqFilter* copied = copy->eqFilterBanks()[0]->childrens()[4]->filters()[2];
  EXPECT_FALSE(copied->getBypass());
  EXPECT_DOUBLE_EQ(copied->getFreqInHz(), 250.0);
  // A filter nobody touched is the same on the copy and in its driver.
  const FtEqFilter* untouched = copy->eqFilterBanks()[0]->childrens()[4]->filters()[1];
  const auto untouchedEq = driver->getEqFilter(fennik::devices::ChannelType::User, 4, 1);
  EXPECT_EQ(untouchedEq.bypass, untouched->getBypass());
  EXPECT_DOUBLE_EQ(untouchedEq.freqInHz, untouched->getFreqInHz());
  EXPECT_DOUBLE_EQ(untouchedEq.gainInDb, untouched->getGainInDb());
  EXPECT_NE(driver, qa8_->driver(amp));
}

TEST_F(BaseAmplifierTest, AGroupReachesEveryMember) {
  Device* a = createDevice(devicetypes::QA4_TYPE_ID);
  Device* b = createDevice(devicetypes::QA4_TYPE_ID);
  Device* group = service<DeviceService>()->create();
  group->setType(a->getType());
  EXPECT_EQ(plant_->createGroup(group, {a, b}), group);
  ASSERT_TRUE(group->getAudio() && group->getAmplifierGain() && group->getOnline());
  EXPECT_EQ(group->getAudio()->childrenShareds().size(), 2u);
  EXPECT_EQ(group->getAudio()->getSource(), FtSource::GROUP_DEVICE);

  service<FtAudioService>()->setIsMuted(group->getAudio(), true, false);
  run(100ms);
  for (Device* member : {a, b}) {
    for (FtAudio* channel : member->getAudio()->childrens()) EXPECT_TRUE(channel->getIsMuted());
    EXPECT_TRUE(qa4_->driver(member)->getMute(3));
  }

  // The group goes; the members and their features stay.
  plant_->destroy(group);
  EXPECT_EQ(db().countOfClass(Device::CLASS_NAME), 2u);
  ASSERT_TRUE(a->getAudio());
  EXPECT_TRUE(a->getAudio()->parents().empty());
}

TEST_F(BaseAmplifierTest, DestroyingADeviceLeavesNothingBehind) {
  const auto before = db().size();
  Device* amp = createDevice(devicetypes::QA8_TYPE_ID);
  EXPECT_GT(db().size(), before + 100);
  EXPECT_GT(qa8_->connectionCount(amp->id()), 0u) << "bound to its driver";
  const auto id = amp->id();
  plant_->destroy(amp);
  EXPECT_EQ(db().size(), before);
  EXPECT_EQ(qa8_->connectionCount(id), 0u);
  EXPECT_TRUE(qa8_->devices().empty());
}

}  // namespace
}  // namespace qor::server::testing
