// A panel driver on the simulated network: it goes online with its panel,
// reports the panel's state flags, address and firmware, and carries the
// panel JSON to the panel and back.

#include "fennik/devices/PanelDriver.h"
#include "fennik/devices/PanelDriverSerializer.h"
#include "fennik/devices/SimulatedNetwork.h"

#include <gtest/gtest.h>

namespace fennik::devices {
namespace {

using namespace std::chrono_literals;

class PanelDriverTest : public ::testing::Test {
 protected:
  PanelDriverTest() : network(SimulatedNetwork::create(SimulatedNetwork::Mode::Manual)) {
    DeviceModel panel;
    panel.model = "RLX-1";
    panel.channelCount = 0;
    panel.deviceFlags.set(static_cast<std::size_t>(DeviceFlag::NetworkFail));
    network->registerModel(panel);
    id = network->addDevice("RLX-1");
  }

  std::shared_ptr<SimulatedNetwork> network;
  std::string id;
};

TEST_F(PanelDriverTest, ReportsTheFlagsOfThePanelItIsOnlineWith) {
  PanelDriver driver(network, "RLX-1");
  int stateReports = 0;
  auto watch = driver.onStateChanged([&] { ++stateReports; });
  EXPECT_FALSE(driver.getStateFlag(PanelFlag::Awake));  // offline: nothing known
  driver.setPhysicalDeviceId(id);
  driver.goOnline(true);
  network->advance(1000ms);
  ASSERT_TRUE(driver.isOnline());
  EXPECT_GT(stateReports, 0);
  EXPECT_TRUE(driver.getStateFlag(PanelFlag::Awake));
  EXPECT_TRUE(driver.getStateFlag(PanelFlag::Unlocked));  // a fresh panel is not locked
  EXPECT_FALSE(driver.getStateFlag(PanelFlag::ControlServerFail));

  // The panel loses its control server.
  const int before = stateReports;
  network->injectFault(id, SimulatedNetwork::Fault::NetworkFail);
  network->advance(300ms);
  EXPECT_TRUE(driver.getStateFlag(PanelFlag::ControlServerFail));
  EXPECT_GT(stateReports, before);

  EXPECT_EQ(std::string(panelFlagName(PanelFlag::ControlServerFail)), "ControlServer Fail");
  EXPECT_EQ(std::string(panelFlagName(PanelFlag::Unlocked)), "Unlocked");
  EXPECT_EQ(std::string(panelFlagName(PanelFlag::Awake)), "Awake");
}

TEST_F(PanelDriverTest, CarriesThePanelJsonAndReportsAddressAndFirmware) {
  PanelDriver writer(network, "RLX-1");
  writer.setProperty("panelJson", R"({"schema":"rlx","pages":[]})");
  writer.setProperty("collectedStateFlags", "ControlServer Fail,Unlocked");
  writer.setPhysicalDeviceId(id);
  writer.goOnline(false);  // writing: the panel takes the driver's values
  network->advance(1000ms);
  ASSERT_TRUE(writer.isOnline());

  // Another driver reading the panel finds what was written.
  PanelDriver reader(network, "RLX-1");
  reader.setPhysicalDeviceId(id);
  reader.goOnline(true);
  network->advance(1000ms);
  EXPECT_EQ(reader.getProperty("panelJson"), R"({"schema":"rlx","pages":[]})");
  EXPECT_EQ(reader.getProperty("collectedStateFlags"), "ControlServer Fail,Unlocked");
  EXPECT_EQ(reader.getProperty("unknown"), "");

  int addressReports = 0, firmwareReports = 0;
  auto a = reader.onIpAddressChanged([&] { ++addressReports; });
  auto f = reader.onFirmwareChanged([&] { ++firmwareReports; });
  network->setIpAddress(id, "10.1.2.3");
  network->setFirmware(id, "4.0.1");
  network->advance(100ms);
  EXPECT_EQ(reader.getIpAddress(), "10.1.2.3");
  EXPECT_EQ(reader.getFirmware(), "4.0.1");
  EXPECT_GE(addressReports, 1);
  EXPECT_GE(firmwareReports, 1);

  // Online, a new panel JSON reaches the panel after the network's latency.
  writer.setProperty("panelJson", R"({"schema":"rlx","pages":[1]})");
  network->advance(100ms);
  EXPECT_EQ(reader.getProperty("panelJson"), R"({"schema":"rlx","pages":[1]})");

  writer.setIdentifyActive(true);
  network->advance(100ms);
  EXPECT_TRUE(reader.isIdentifyActive());
}

TEST_F(PanelDriverTest, AnUnknownModelIsRefused) { EXPECT_THROW(PanelDriver(network, "nope"), std::invalid_argument); }

TEST_F(PanelDriverTest, ItsStateSurvivesBeingWrittenAndReadBack) {
  PanelDriver driver(network, "RLX-1");
  driver.setPhysicalDeviceId(id);
  driver.setProperty("panelJson", R"({"schema":"rlx"})");
  driver.setProperty("name", "Foyer");
  driver.setProperty("collectedStateFlags", "Unlocked");
  driver.setIpConfiguration(2);
  driver.setCollectedErrorHold(true);
  const auto text = PanelDriverSerializer::serialize(driver);

  auto back = PanelDriverSerializer::deserialize(network, text);
  EXPECT_EQ(back->getModel(), "RLX-1");
  EXPECT_EQ(back->getPhysicalDeviceId(), id);
  EXPECT_EQ(back->getProperty("panelJson"), R"({"schema":"rlx"})");
  EXPECT_EQ(back->getProperty("name"), "Foyer");
  EXPECT_EQ(back->getProperty("collectedStateFlags"), "Unlocked");
  EXPECT_EQ(back->getIpMode(), 2);
  EXPECT_TRUE(back->getCollectedErrorHold());
  EXPECT_FALSE(back->isOnline());
  EXPECT_EQ(PanelDriverSerializer::serialize(*back), text);
}

TEST_F(PanelDriverTest, ADamagedStateIsRefusedWithWhatIsWrong) {
  auto message = [&](const std::string& text) {
    try {
      PanelDriverSerializer::deserialize(network, text);
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  const std::string good =
      R"({"model":"RLX-1","physicalDeviceId":"p","panelJson":"","name":"","collectedStateFlags":"","ipMode":1,"collectedErrorHold":false})";
  EXPECT_EQ(message(good), "accepted");
  EXPECT_EQ(message("{\"model\": "), "the panel driver is no JSON document");
  EXPECT_EQ(message("[1,2]"), "the panel driver is no JSON object");
  EXPECT_EQ(message(std::string(100000, '[')), "the panel driver is nested too deeply");
  EXPECT_EQ(message(R"({"physicalDeviceId":"p"})"), "the panel driver has no \"model\"");
  std::string wrongType = good;
  wrongType.replace(wrongType.find("\"panelJson\":\"\""), 14, "\"panelJson\":{}");
  EXPECT_EQ(message(wrongType), "\"panelJson\" of the panel driver is not a text");
  std::string badMode = good;
  badMode.replace(badMode.find("\"ipMode\":1"), 10, "\"ipMode\":9");
  EXPECT_EQ(message(badMode), "\"ipMode\" of the panel driver is outside 0 to 3");
  std::string unknown = good;
  unknown.replace(unknown.find("RLX-1"), 5, "XYZ-9");
  EXPECT_EQ(message(unknown), "the panel driver's model 'XYZ-9' is unknown");
}

TEST(SimulatedNetworkAnnouncements, DevicesAnnounceArrivalChangesAndLeaving) {
  auto network = SimulatedNetwork::create(SimulatedNetwork::Mode::Manual);
  DeviceModel m;
  m.model = "T-1";
  m.firmware = "1.0";
  network->registerModel(m);
  std::vector<SimulatedNetwork::Announcement> heard;
  auto c = network->onAnnouncement([&](const SimulatedNetwork::Announcement& a) { heard.push_back(a); });
  const auto id = network->addDevice("T-1", "dev-1");
  EXPECT_TRUE(heard.empty());  // it has not booted yet
  network->advance(100ms);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_TRUE(heard[0].present);
  EXPECT_EQ(heard[0].name, "dev-1");
  EXPECT_EQ(heard[0].firmware, "1.0");

  network->renameDevice(id, "Delay tower");
  network->renameDevice(id, "Delay tower");  // the same again: nothing new to tell
  network->advance(100ms);
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[1].name, "Delay tower");

  // A name written through a driver is announced too.
  auto driver = network->createDriver("T-1");
  driver->setPhysicalDeviceId(id);
  driver->goOnline(true);
  network->advance(1000ms);
  driver->setName("Tower 2");
  network->advance(100ms);
  ASSERT_EQ(heard.size(), 3u);
  EXPECT_EQ(heard[2].name, "Tower 2");

  network->search();  // everybody answers a search, changed or not
  network->advance(100ms);
  ASSERT_EQ(heard.size(), 4u);

  network->setReachable(id, false);
  network->advance(100ms);
  ASSERT_EQ(heard.size(), 5u);
  EXPECT_FALSE(heard[4].present);
  EXPECT_EQ(heard[4].physicalId, id);
  network->removeDevice(id);  // already gone: said once
  network->advance(100ms);
  EXPECT_EQ(heard.size(), 5u);
}

}  // namespace
}  // namespace fennik::devices
