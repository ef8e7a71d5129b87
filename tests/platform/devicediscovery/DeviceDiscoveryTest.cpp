// Device discovery over the simulated network: what the devices report
// becomes DiscoveredDevice entities on the loop, follows the devices'
// changes, and disappears with them.

#include "qor/devicediscovery/DeviceDiscovery.h"
#include "qor/devicediscovery/DeviceDiscoveryService.h"
#include "qor/devicediscovery/DiscoveredDevice.h"
#include "qor/devicediscovery/DiscoveredDeviceService.h"
#include "qor/devicediscovery/SimulatedDiscoverySource.h"

#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/loop/Clock.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>

namespace qor::server {
namespace {

using namespace std::chrono_literals;
using fennik::devices::SimulatedNetwork;
using fennik::server::EntityContext;
using fennik::server::JobLoop;

fennik::devices::DeviceModel model(const std::string& name, const std::string& firmware = "2.1.0") {
  fennik::devices::DeviceModel m;
  m.model = name;
  m.firmware = firmware;
  return m;
}

class DeviceDiscoveryTest : public ::testing::Test {
 protected:
  DeviceDiscoveryTest()
      : context_(EntityContext::create(JobLoop::Mode::Manual, std::make_shared<fennik::server::ManualClock>())),
        network_(SimulatedNetwork::create(SimulatedNetwork::Mode::Manual)) {
    network_->registerModel(model("QA4"));
    network_->registerModel(model("QM16", "1.0"));
  }
  ~DeviceDiscoveryTest() override {
    removeDeviceDiscovery(context_);
    context_->db()->clear();
  }

  void startDiscovery() { addDeviceDiscovery(context_, std::make_shared<SimulatedDiscoverySource>(network_)); }

  // Lets the network answer, then runs the loop.
  void settle() {
    network_->advance(100ms);
    context_->loop()->runUntilIdle();
  }

  std::map<std::string, DiscoveredDevice*> listed() const {
    std::map<std::string, DiscoveredDevice*> byId;
    for (auto* d : context_->db()->all<DiscoveredDevice>()) byId[d->getPhysicalDeviceId()] = d;
    return byId;
  }
  DeviceDiscoveryService& discovery() const { return *context_->services()->get<DeviceDiscoveryService>(); }

  std::shared_ptr<EntityContext> context_;
  std::shared_ptr<SimulatedNetwork> network_;
};

TEST_F(DeviceDiscoveryTest, ListsWhatEveryDeviceReports) {
  const auto amp = network_->addDevice("QA4", "amp-left");
  const auto matrix = network_->addDevice("QM16", "matrix-1");
  startDiscovery();
  network_->advance(100ms);
  // The network has answered, but entities change only on the loop.
  EXPECT_TRUE(listed().empty());
  context_->loop()->runUntilIdle();

  auto devices = listed();
  ASSERT_EQ(devices.size(), 2u);
  const DiscoveredDevice* a = devices.at(amp);
  EXPECT_EQ(a->getDeviceType(), "QA4");
  EXPECT_EQ(a->getName(), "amp-left");  // a fresh device is named after its id
  EXPECT_TRUE(a->getHasDeviceId());
  EXPECT_EQ(a->getDeviceId(), "001");  // the device's number, three digits at least
  EXPECT_EQ(a->getIpaddress(), "169.254.1.2");
  EXPECT_EQ(a->getFirmware(), "2.1.0");
  EXPECT_FALSE(a->getFirmwareUpdateRequired());
  EXPECT_FALSE(a->getFindActive());
  EXPECT_TRUE(a->getVisible());
  EXPECT_EQ(a->className(), "qor::server::DiscoveredDevice");
  EXPECT_EQ(devices.at(matrix)->getDeviceType(), "QM16");
  EXPECT_EQ(devices.at(matrix)->getDeviceId(), "002");

  // A search finds the same devices again: nothing is listed twice.
  discovery().startRefreshDiscoveredDevices();
  settle();
  EXPECT_EQ(listed().size(), 2u);
}

TEST_F(DeviceDiscoveryTest, FollowsRenamesAddressesAndDevicesComingAndGoing) {
  const auto amp = network_->addDevice("QA4", "amp-left");
  startDiscovery();
  settle();
  DiscoveredDevice* entity = listed().at(amp);
  const auto entityId = entity->id();
  int changes = 0;
  auto watch = entity->onChanged([&](fennik::server::Entity*, std::string_view, bool) { ++changes; });

  network_->renameDevice(amp, "Stage left");
  network_->setIpAddress(amp, "10.0.0.7");
  settle();
  EXPECT_EQ(entity->getName(), "Stage left");
  EXPECT_EQ(entity->getIpaddress(), "10.0.0.7");
  EXPECT_EQ(changes, 2);  // what did not change is not announced

  // A device that is added later appears by itself.
  const auto late = network_->addDevice("QA4", "amp-right");
  settle();
  EXPECT_EQ(listed().count(late), 1u);

  // Unreachable: gone from the list; back: listed again under the same id.
  watch.disconnect();
  network_->setReachable(amp, false);
  settle();
  EXPECT_EQ(listed().count(amp), 0u);
  network_->setReachable(amp, true);
  settle();
  ASSERT_EQ(listed().count(amp), 1u);
  EXPECT_EQ(listed().at(amp)->id(), entityId);
  EXPECT_EQ(listed().at(amp)->getName(), "Stage left");

  // Removed for good.
  network_->removeDevice(late);
  settle();
  EXPECT_EQ(listed().count(late), 0u);
  EXPECT_EQ(listed().size(), 1u);
}

TEST_F(DeviceDiscoveryTest, PhysicalIdsThatDifferInLetterCaseAreDifferentDevices) {
  network_->addDevice("QA4", "amp-A");
  network_->addDevice("QA4", "AMP-a");
  startDiscovery();
  settle();
  EXPECT_EQ(listed().size(), 2u);
}

TEST_F(DeviceDiscoveryTest, OlderFirmwareThanTheNewestOfItsModelNeedsAnUpdate) {
  const auto a = network_->addDevice("QA4", "a");
  const auto b = network_->addDevice("QA4", "b");
  const auto m = network_->addDevice("QM16", "m");
  startDiscovery();
  settle();
  network_->setFirmware(b, "2.10.0");  // newer than 2.1.0 (numbers, not text)
  network_->setFirmware(m, "0.9");     // another model: compared only with its own kind
  settle();
  EXPECT_TRUE(listed().at(a)->getFirmwareUpdateRequired());
  EXPECT_FALSE(listed().at(b)->getFirmwareUpdateRequired());
  EXPECT_FALSE(listed().at(m)->getFirmwareUpdateRequired());

  // The newest device leaves: the others are the newest again.
  network_->removeDevice(b);
  settle();
  EXPECT_FALSE(listed().at(a)->getFirmwareUpdateRequired());

  EXPECT_TRUE(DeviceDiscoveryService::isOlderFirmware("1.9", "1.10"));
  EXPECT_FALSE(DeviceDiscoveryService::isOlderFirmware("1.2", "1.2.0"));
  EXPECT_TRUE(DeviceDiscoveryService::isOlderFirmware("1.2.0", "1.2.1"));
  EXPECT_TRUE(DeviceDiscoveryService::isOlderFirmware("1.2-beta", "1.2-rc"));
  EXPECT_FALSE(DeviceDiscoveryService::isOlderFirmware("", "9.0"));
  EXPECT_FALSE(DeviceDiscoveryService::isOlderFirmware("9.0", ""));
}

TEST_F(DeviceDiscoveryTest, AProjectThatClearedTheDatabaseGetsTheDevicesListedAgain) {
  const auto amp = network_->addDevice("QA4", "amp-left");
  startDiscovery();
  settle();
  const auto id = listed().at(amp)->id();
  // What closing a project and starting the next one does.
  context_->db()->clear();
  context_->services()->forEach([](fennik::server::Service& s) { s.loaded(); });
  ASSERT_EQ(listed().count(amp), 1u);
  EXPECT_EQ(listed().at(amp)->id(), id);
  EXPECT_EQ(listed().at(amp)->getName(), "amp-left");
}

TEST_F(DeviceDiscoveryTest, VisibilityAndFindStateAreSetThroughTheService) {
  const auto amp = network_->addDevice("QA4");
  startDiscovery();
  settle();
  auto service = context_->services()->get<DiscoveredDeviceService>();
  DiscoveredDevice* device = service->find(amp);
  ASSERT_NE(device, nullptr);
  int visibleChanges = 0;
  auto watch = device->onChanged([&](fennik::server::Entity*, std::string_view key, bool) {
    if (key == DiscoveredDevice::FIELD_VISIBLE) ++visibleChanges;
  });
  service->setVisible(device, false, false);
  service->setVisible(device, false, false);  // a normal write is announced every time
  service->setVisible(device, false, true);   // an external one only when it changes
  EXPECT_FALSE(device->getVisible());
  EXPECT_EQ(visibleChanges, 2);
  service->setFindActive(device, true, false);
  EXPECT_TRUE(device->getFindActive());
  service->setVisible(nullptr, true, false);  // nothing happens
  // A new report of the device keeps what the module set.
  network_->renameDevice(amp, "renamed");
  settle();
  EXPECT_FALSE(device->getVisible());
  EXPECT_TRUE(device->getFindActive());
}

}  // namespace
}  // namespace qor::server
