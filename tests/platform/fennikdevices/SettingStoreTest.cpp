// The settings of a simulated device: keys shared by the devices of a model,
// values each device's own, keys outside the model's list kept all the same.

#include "NetworkState.h"

#include <gtest/gtest.h>

#include <vector>

namespace fennik::devices::sim {
namespace {

std::shared_ptr<DeviceModel> model(int channels) {
  auto m = std::make_shared<DeviceModel>();
  m->channelCount = channels;
  return m;
}

TEST(SettingStoreTest, DevicesOfAModelShareKeysButNotValues) {
  const auto qa = model(4);
  ParamMap first = initialSettings(qa);
  ParamMap second = initialSettings(qa);
  EXPECT_EQ(first.sharedKeys(), second.sharedKeys());
  EXPECT_NE(first.sharedKeys(), initialSettings(model(8)).sharedKeys());

  first[{P::Gain, 2}] = 27.5;
  first[{P::LoadSettings, 1}] = LoadState{.impedance = 6.5};
  ParamMap copy = first;
  first[{P::LoadSettings, 1}] = LoadState{.impedance = 4.0};
  EXPECT_DOUBLE_EQ(read<double>(first, {P::Gain, 2}), 27.5);
  EXPECT_DOUBLE_EQ(read<double>(second, {P::Gain, 2}), 32.0);  // a fresh device's gain
  EXPECT_DOUBLE_EQ(read<double>(initialSettings(qa), {P::Gain, 2}), 32.0);
  EXPECT_DOUBLE_EQ(read<LoadState>(copy, {P::LoadSettings, 1}).impedance, 6.5);
  EXPECT_DOUBLE_EQ(read<LoadState>(first, {P::LoadSettings, 1}).impedance, 4.0);
  // A kind the setting does not hold, or a channel the model lacks, reads as the fallback.
  EXPECT_EQ(read<int>(first, {P::Gain, 2}, -1), -1);
  EXPECT_EQ(read<double>(first, {P::Gain, 9}, -1.0), -1.0);
}

TEST(SettingStoreTest, KeysOutsideTheModelAreKeptInOrder) {
  ParamMap store = initialSettings(model(2));
  const std::size_t fresh = store.size();
  EXPECT_FALSE(store.contains({P::PanelJson}));
  store[{P::PanelJson}] = std::string("{}");
  store[{P::Gain, 7}] = 30.0;
  store[{P::Gain, 7}] = 31.0;
  EXPECT_EQ(store.size(), fresh + 2);
  EXPECT_EQ(read<std::string>(store, {P::PanelJson}), "{}");
  EXPECT_DOUBLE_EQ(read<double>(store, {P::Gain, 7}), 31.0);

  std::vector<Key> seen;
  store.forEach([&](const Key& key, const Value&) { seen.push_back(key); });
  ASSERT_EQ(seen.size(), store.size());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
}

}  // namespace
}  // namespace fennik::devices::sim
