// Matrices built from the simulated model.

#include "DeviceFixture.h"

#include "qor/server/services/FtDeviceStateService.h"

#include <gtest/gtest.h>

namespace qor::server::testing {
namespace {

class BaseMatrixTest : public DeviceFixture {};

TEST_F(BaseMatrixTest, AMatrixHasItsOwnAudioAndNoSpeakerSettings) {
  Device* matrix = service<MatrixService>()->create(type(devicetypes::QM16_TYPE_ID));
  ASSERT_TRUE(matrix);
  EXPECT_EQ(matrix->getSpeakerSetting(), nullptr);
  EXPECT_EQ(matrix->getAmplifierGain(), nullptr);
  ASSERT_TRUE(matrix->getAudio());
  ASSERT_EQ(matrix->getAudio()->childrens().size(), 16u);
  EXPECT_EQ(matrix->getAudio()->childrens()[4]->getLabel()->getName(), "Output 5");
  ASSERT_TRUE(matrix->getGpio());
  EXPECT_EQ(matrix->getGpio()->childrens().size(), 2u);
  FtDeviceState* state = matrix->getDeviceState();
  const auto& names = state->getFlagNames();
  EXPECT_EQ(names.size(), 10u);
  // The flag lists run in parallel, as clients index them by position.
  for (std::size_t size :
       {state->getFlagStates().size(), state->getFlagStatesConsistent().size(), state->getFlagCollectStates().size(),
        state->getFlagCollectStatesConsistent().size(), state->getFlagCollectSupported().size()})
    EXPECT_EQ(size, names.size());
  const auto fault = static_cast<std::size_t>(std::find(names.begin(), names.end(), "Device Fault") - names.begin());
  ASSERT_LT(fault, names.size());
  EXPECT_FALSE(state->getFlagCollectSupported()[fault]) << "faults are never collected";
  EXPECT_TRUE(state->getFlagCollectSupported()[0]);
  EXPECT_EQ(matrix->getOnline()->getMacAddress(), "") << "a matrix does not show its MAC address";
  EXPECT_TRUE(matrix->getNetwork()->getIsSecondary2Supported());

  // Online, its audio and GPIOs go both ways like any device's.
  const std::string id = bringOnline(matrix);
  EXPECT_TRUE(matrix->getOnline()->getIsOnline());
  service<FtAudioService>()->setLevelInDb(matrix->getAudio()->childrens()[3], -10.0, false);
  service<FtGPIOService>()->setGpoDigital(matrix->getGpio()->childrens()[1], true, false);
  run(300ms);
  EXPECT_DOUBLE_EQ(qm16_->driver(matrix)->getLevel(3), -10.0);
  EXPECT_TRUE(qm16_->driver(matrix)->getGpoDigital(1));
  // The device now reports GPIO 2 as set.
  const auto gpio2 = static_cast<std::size_t>(std::find(names.begin(), names.end(), "GPIO 2") - names.begin());
  ASSERT_LT(gpio2, names.size());
  EXPECT_TRUE(matrix->getDeviceState()->getFlagStates()[gpio2]);

  // Destroying takes every label with it, the audio channels' own included.
  EXPECT_EQ(db().countOfClass(FtLabel::CLASS_NAME), 1u + 16u + 16u + 2u);
  plant_->destroy(matrix);
  EXPECT_EQ(db().countOfClass(FtLabel::CLASS_NAME), 0u);
  EXPECT_EQ(db().countOfClass(Device::CLASS_NAME), 0u);
  EXPECT_EQ(network_->devices().front().sessions, 0) << id << " was let go";
}

TEST_F(BaseMatrixTest, OnlineAndPortValuesComeFromTheMatrix) {
  Device* matrix = service<MatrixService>()->create(type(devicetypes::QM16_TYPE_ID));
  ASSERT_TRUE(matrix);
  FtOnline* online = matrix->getOnline();
  EXPECT_TRUE(online->getFrontPanelLockSupported());
  EXPECT_TRUE(online->getFrontPanelLockPinSupported());
  EXPECT_EQ(online->getFrontPanelLockPinMin(), 1000u);
  EXPECT_EQ(online->getFrontPanelLockPinMax(), 9999u);
  EXPECT_TRUE(online->getIsIpAddressSupported());
  EXPECT_EQ(online->getIpAddress(), "");
  EXPECT_EQ(matrix->getDeviceInfo()->getModel(), "QM-16");
  EXPECT_EQ(matrix->getDeviceInfo()->getFirmware(), "1.4.0");

  bringOnline(matrix);
  ASSERT_TRUE(online->getIsOnline());
  EXPECT_EQ(online->getIpAddress().rfind("169.254.", 0), 0u) << online->getIpAddress();
  EXPECT_EQ(online->getMacAddress(), "");
  FtNetwork* network = matrix->getNetwork();
  EXPECT_EQ(network->getPrimaryStatus(), "Link up, 10 GBit");
  EXPECT_EQ(network->getSecondary2Status(), "Link up, 10 GBit");
  EXPECT_FALSE(network->getPrimaryMacAddress().empty());

  // Locking the front panel reaches the matrix; the device shows it unlocked
  // no more.
  const auto& names = matrix->getDeviceState()->getFlagNames();
  const auto unlocked =
      static_cast<std::size_t>(std::find(names.begin(), names.end(), "Panel Unlocked") - names.begin());
  ASSERT_LT(unlocked, names.size());
  service<FtOnlineService>()->setFrontPanelLock(online, false, false);
  run(300ms);
  EXPECT_TRUE(matrix->getDeviceState()->getFlagStates()[unlocked]);
  service<FtOnlineService>()->setFrontPanelLock(online, true, false);
  run(300ms);
  EXPECT_TRUE(qm16_->driver(matrix)->getFrontPanelLock());
  EXPECT_FALSE(matrix->getDeviceState()->getFlagStates()[unlocked]);

  // Which flags the matrix collects goes both ways, like an amplifier's.
  using fennik::devices::DeviceFlag;
  FtDeviceState* state = matrix->getDeviceState();
  service<FtDeviceStateService>()->collectFlag(state, "Fan Fail", true);
  run(100ms);
  EXPECT_TRUE(qm16_->driver(matrix)->getDeviceFlagCollect(DeviceFlag::FanFail));
  EXPECT_FALSE(qm16_->driver(matrix)->getDeviceFlagCollect(DeviceFlag::NetworkFail));
  auto other = network_->createDriver("QM-16");
  other->setPhysicalDeviceId(qm16_->driver(matrix)->getPhysicalDeviceId());
  other->goOnline(true);
  run(1000ms);
  other->setDeviceFlagCollect(DeviceFlag::NetworkFail, true);
  run(100ms);
  const auto networkFail =
      static_cast<std::size_t>(std::find(names.begin(), names.end(), "Network Fail") - names.begin());
  ASSERT_LT(networkFail, names.size());
  EXPECT_TRUE(state->getFlagCollectStates()[networkFail]);
}

}  // namespace
}  // namespace qor::server::testing
