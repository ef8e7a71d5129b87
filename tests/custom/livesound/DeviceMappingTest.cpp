// Putting devices found on the network into the project and mapping project
// devices onto them, as a sound engineer meets it going online.

#include "custom/livesound/ProjectFixture.h"

#include "qor/devicediscovery/DeviceDiscovery.h"
#include "qor/devicediscovery/DiscoveredDevice.h"
#include "qor/devicediscovery/SimulatedDiscoverySource.h"

#include <algorithm>
#include <map>

namespace qor::server::testing {
namespace {

class DeviceMappingTest : public ProjectFixture {
 protected:
  DeviceMappingTest() { addDeviceDiscovery(context_, std::make_shared<SimulatedDiscoverySource>(network_)); }
  ~DeviceMappingTest() override { removeDeviceDiscovery(context_); }

  // A device on the network, listed once the network answered.
  DiscoveredDevice* onNetwork(const std::string& model, const std::string& physicalId, const std::string& name) {
    network_->addDevice(model, physicalId);
    network_->renameDevice(physicalId, name);
    settle();
    for (auto* d : db().all<DiscoveredDevice>()) {
      if (d->getPhysicalDeviceId() == physicalId) return d;
    }
    return nullptr;
  }
  void settle() {
    network_->advance(100ms);
    context_->loop()->runUntilIdle();
  }
  bool identifying(const std::string& physicalId) const {
    for (const auto& listing : network_->devices()) {
      if (listing.physicalId == physicalId) return listing.identifying;
    }
    return false;
  }
};

TEST_F(DeviceMappingTest, AddingADiscoveredDeviceMapsItOnceAndOnlyForAKnownModel) {
  DiscoveredDevice* left = onNetwork("QA-8", "qa8-left", "Stage Left");
  ASSERT_NE(left, nullptr);

  Device* device = livesound().discoveredDeviceAdd(left, 0, 0);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->getType(), qa8());
  EXPECT_EQ(device->getDeviceId(), "qa8-left");
  EXPECT_EQ(nameOf(device), "Stage Left");
  ASSERT_EQ(selection().size(), 1u);
  EXPECT_EQ(selection().front(), device->getVisualItem());

  // The same network device a second time: nothing.
  const std::size_t devices = db().all<Device>().size();
  EXPECT_EQ(livesound().discoveredDeviceAdd(left, 0, 0), nullptr);
  EXPECT_EQ(db().all<Device>().size(), devices);

  // A model no device type knows, and no device at all.
  auto unknown = DiscoveredDevice::createDefaultInitialized(fennik::server::random_uuid());
  unknown->setPhysicalDeviceId("xz-1", false);
  unknown->setDeviceType("XZ-9000", false);
  EXPECT_EQ(livesound().discoveredDeviceAdd(unknown.get(), 0, 0), nullptr);
  EXPECT_EQ(livesound().discoveredDeviceAdd(nullptr, 0, 0), nullptr);
  EXPECT_EQ(db().all<Device>().size(), devices);
}

TEST_F(DeviceMappingTest, AddingAllTakesEveryDeviceByNameAndSelectsThemSideBySide) {
  onNetwork("QA-8", "p-3", "Center");
  onNetwork("QA-4", "p-1", "Sub Left");
  onNetwork("QM-16", "p-2", "FOH Matrix");
  livesound().discoveredDeviceAddAll(0, 0);

  std::map<std::string, Device*> byId;
  for (Device* d : db().all<Device>()) {
    if (!d->getDeviceId().empty()) byId[d->getDeviceId()] = d;
  }
  ASSERT_EQ(byId.size(), 3u);
  EXPECT_EQ(byId.at("p-2")->getType(), qm16());
  EXPECT_EQ(selection().size(), 3u);
  // Added in the order of the network names (Center before Sub Left), so
  // the amplifiers' numbers follow the names, not the order they were found.
  EXPECT_EQ(nameOf(byId.at("p-1")), "Sub Left");
  EXPECT_EQ(byId.at("p-3")->getDeviceInfo()->getDeviceIntId(), 1);
  EXPECT_EQ(byId.at("p-1")->getDeviceInfo()->getDeviceIntId(), 2);
  const VisualItem* a = byId.at("p-3")->getVisualItem();
  const VisualItem* b = byId.at("p-1")->getVisualItem();
  EXPECT_TRUE(a->getX() + a->getWidth() <= b->getX() || b->getX() + b->getWidth() <= a->getX() ||
              a->getY() + a->getHeight() <= b->getY() || b->getY() + b->getHeight() <= a->getY());

  // Run again, nothing is added twice.
  const std::size_t devices = db().all<Device>().size();
  livesound().discoveredDeviceAddAll(0, 0);
  EXPECT_EQ(db().all<Device>().size(), devices);
}

TEST_F(DeviceMappingTest, SearchOffersUnmappedDevicesOfTheModelAndLoadTakesTheirIdentity) {
  DiscoveredDevice* stage = onNetwork("QA-8", "qa8-3", "Stage AMP 3");
  onNetwork("QA-8", "qa8-4", "Front fill");
  onNetwork("QA-4", "qa4-1", "Delay amp");  // another model
  network_->setIpAddress("qa8-3", "10.0.0.33");
  network_->setFirmware("qa8-3", "2.4.1");
  settle();

  Device* offline = livesound().deviceAdd(qa8(), 0, 0, true);
  ASSERT_NE(offline, nullptr);
  auto ids = [](const std::vector<DiscoveredDevice*>& list) {
    std::vector<std::string> out;
    for (auto* d : list) out.push_back(d->getPhysicalDeviceId());
    std::sort(out.begin(), out.end());
    return out;
  };
  EXPECT_EQ(ids(livesound().deviceMappingSearch(offline, "")), (std::vector<std::string>{"qa8-3", "qa8-4"}));
  EXPECT_EQ(ids(livesound().deviceMappingSearch(offline, "amp")), (std::vector<std::string>{"qa8-3"}));
  EXPECT_TRUE(livesound().deviceMappingSearch(nullptr, "").empty());

  livesound().deviceMappingLoad(offline, stage->id());
  EXPECT_EQ(offline->getDeviceId(), "qa8-3");
  EXPECT_EQ(nameOf(offline), "Stage AMP 3");
  EXPECT_EQ(offline->getDeviceInfo()->getIpaddress(), "10.0.0.33");
  EXPECT_EQ(offline->getDeviceInfo()->getFirmware(), "2.4.1");
  // A mapped device is never offered again.
  EXPECT_EQ(ids(livesound().deviceMappingSearch(offline, "")), (std::vector<std::string>{"qa8-4"}));
  // An unknown id changes nothing.
  livesound().deviceMappingLoad(offline, fennik::server::random_uuid());
  EXPECT_EQ(offline->getDeviceId(), "qa8-3");

  // Cleared, it is offered again and keeps its number.
  livesound().deviceMappingClear(offline);
  EXPECT_EQ(nameOf(offline), "Amp1");
  EXPECT_EQ(ids(livesound().deviceMappingSearch(offline, "")), (std::vector<std::string>{"qa8-3", "qa8-4"}));
}

TEST_F(DeviceMappingTest, FindTogglesAndTheDeviceOnTheNetworkFlashes) {
  DiscoveredDevice* amp = onNetwork("QA-4", "qa4-9", "Rack 9");
  ASSERT_NE(amp, nullptr);
  livesound().deviceFind(amp->id(), true);
  EXPECT_TRUE(amp->getFindActive());
  settle();
  EXPECT_TRUE(identifying("qa4-9"));

  livesound().deviceFind(amp->id(), true);  // the flag toggles, whatever is asked
  EXPECT_FALSE(amp->getFindActive());
  settle();
  EXPECT_FALSE(identifying("qa4-9"));
}

}  // namespace
}  // namespace qor::server::testing
