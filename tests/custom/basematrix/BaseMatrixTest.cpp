// Matrices built from the simulated model.

#include "DeviceFixture.h"

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
  const auto& names = matrix->getDeviceState()->getFlagNames();
  EXPECT_EQ(names.size(), 10u);
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

}  // namespace
}  // namespace qor::server::testing
