// Input routing of amplifiers: the selection travels both ways, and the
// routing of a group shows what its members' channels have in common, also
// when the devices change their selection themselves.

#include "DeviceFixture.h"

#include "qor/server/services/FtInputRoutingService.h"

#include <gtest/gtest.h>

namespace qor::server::testing {
namespace {

class InputRoutingTest : public DeviceFixture {
 protected:
  static FtInputRouting* routingOf(Device* device, FtInputRoutingType type) {
    for (FtInputRouting* r : device->inputRoutings()) {
      if (r && r->getRoutingType() == type) return r;
    }
    return nullptr;
  }
  static FtInputRouting* channel(FtInputRouting* routing, int index) {
    for (FtInputRouting* c : routing ? routing->childrens().toVector() : std::vector<FtInputRouting*>{}) {
      if (c && c->getIndex() == index) return c;
    }
    return nullptr;
  }
  static std::vector<int> selected(const FtInputRouting* routing) {
    std::vector<int> result;
    for (const FtInputSource* s : routing->selectedInputSources()) result.push_back(s->getIndex());
    return result;
  }
  // A second driver on the same physical device: changes it makes reach the
  // project only as the device's reports.
  std::unique_ptr<fennik::devices::FennikDevice> otherDriver(const std::string& id) {
    auto other = network_->createDriver("QA-8");
    other->setPhysicalDeviceId(id);
    other->goOnline(true);
    run(1000ms);
    return other;
  }
};

TEST_F(InputRoutingTest, TheDevicesRoutingListsWhatItsChannelsShare) {
  Device* amp = createDevice(devicetypes::QA8_TYPE_ID);
  Device* small = createDevice(devicetypes::QA4_TYPE_ID);
  FtInputRouting* routing = routingOf(amp, FtInputRoutingType::DEFAULT);
  ASSERT_TRUE(routing && routingOf(amp, FtInputRoutingType::FAILOVER));
  ASSERT_EQ(routing->childrens().size(), 8u);
  EXPECT_EQ(routing->allInputSources().size(), 5u);
  EXPECT_EQ(routing->possibleInputSources().size(), 5u);
  EXPECT_EQ(channel(routing, 7)->allInputSources().size(), 5u);
  // Every channel plays the first source at first; failover plays none.
  EXPECT_EQ(selected(routing), std::vector<int>{0});
  EXPECT_TRUE(selected(routingOf(amp, FtInputRoutingType::FAILOVER)).empty());
  EXPECT_EQ(routingOf(small, FtInputRoutingType::DEFAULT)->allInputSources().size(), 4u);

  // A selection on one channel goes to that channel of the driver only.
  auto routings = service<FtInputRoutingService>();
  routings->selectInputSource(channel(routing, 2), amp->getInputSource()->childrens()[3]);
  run(100ms);
  EXPECT_EQ(qa8_->driver(amp)->getSelectedInputSources(2, 0), (std::vector<int>{0, 3}));
  EXPECT_EQ(qa8_->driver(amp)->getSelectedInputSources(1, 0), std::vector<int>{0});
  EXPECT_EQ(selected(routing), std::vector<int>{0});
  EXPECT_FALSE(routing->getSelectedInputSourcesConsistent());

  // Clearing the device's routing clears every channel.
  routings->clearInputRouting(routing);
  run(100ms);
  EXPECT_TRUE(qa8_->driver(amp)->getSelectedInputSources(2, 0).empty());
  EXPECT_TRUE(qa8_->driver(amp)->getSelectedInputSources(5, 0).empty());
  EXPECT_TRUE(selected(routing).empty());
  EXPECT_TRUE(routing->getSelectedInputSourcesConsistent());
}

TEST_F(InputRoutingTest, AGroupMergesItsMembersListsWheneverTheDevicesReport) {
  Device* a = createDevice(devicetypes::QA8_TYPE_ID);
  Device* b = createDevice(devicetypes::QA8_TYPE_ID);
  Device* group = service<DeviceService>()->createGroup(fennik::server::random_uuid(), {a, b});
  ASSERT_TRUE(group);
  FtInputRouting* first = channel(routingOf(group, FtInputRoutingType::DEFAULT), 0);
  FtInputRouting* second = channel(routingOf(group, FtInputRoutingType::DEFAULT), 1);
  ASSERT_TRUE(first && second);
  ASSERT_EQ(first->childrenShareds().size(), 2u);
  // Grouped, the group channel shows the members' common selection.
  EXPECT_EQ(first->allInputSources().size(), 5u);
  EXPECT_EQ(selected(first), std::vector<int>{0});
  EXPECT_TRUE(first->getSelectedInputSourcesConsistent());

  // Connecting reads the drivers' selections and merges them: the settings
  // the drivers hold before going online (as after a project load).
  for (Device* d : {a, b}) qa8_->driver(d)->setSelectedInputSources(1, 0, {2, 4});
  plant_->reconnect(a);
  EXPECT_TRUE(selected(second).empty()) << "b still plays source 0";
  EXPECT_FALSE(second->getSelectedInputSourcesConsistent());
  plant_->reconnect(b);
  EXPECT_EQ(selected(second), (std::vector<int>{2, 4}));
  EXPECT_TRUE(second->getSelectedInputSourcesConsistent());

  // Online, changes made on the devices themselves reach the group.
  const std::string idA = bringOnline(a);
  const std::string idB = bringOnline(b);
  auto otherA = otherDriver(idA);
  auto otherB = otherDriver(idB);
  otherA->setSelectedInputSources(0, 0, {3});
  otherB->setSelectedInputSources(0, 0, {3});
  run(100ms);
  EXPECT_EQ(selected(channel(routingOf(a, FtInputRoutingType::DEFAULT), 0)), std::vector<int>{3});
  EXPECT_EQ(selected(first), std::vector<int>{3});
  EXPECT_TRUE(first->getSelectedInputSourcesConsistent());

  // One member differs: the group channel shows no common selection.
  otherA->setSelectedInputSources(0, 0, {1});
  run(100ms);
  EXPECT_TRUE(selected(first).empty());
  EXPECT_FALSE(first->getSelectedInputSourcesConsistent());

  // A selection made on the group reaches both devices and comes back merged.
  service<FtInputRoutingService>()->selectInputSource(first, a->getInputSource()->childrens()[4]);
  run(100ms);
  EXPECT_EQ(otherA->getSelectedInputSources(0, 0), (std::vector<int>{1, 4}));
  EXPECT_EQ(otherB->getSelectedInputSources(0, 0), (std::vector<int>{3, 4}));
  EXPECT_EQ(selected(first), std::vector<int>{4});
}

}  // namespace
}  // namespace qor::server::testing
