// Wall panels as a sound engineer meets them: a panel added to the design
// gets its features, a template and a driver; its panel JSON reaches the
// panel; what the panel reports shows in its state; the project keeps the
// panels and their drivers, and refuses a damaged panel store.

#include "custom/LogCapture.h"
#include "custom/livesound/LivesoundService.h"
#include "custom/panels/PanelService.h"
#include "service/FtPanelService.h"
#include "support/ProjectFiles.h"

#include "qor/server/entities/All.h"
#include "qor/server/services/DeviceService.h"
#include "qor/server/services/FtDeviceInfoService.h"
#include "qor/server/services/FtDeviceStateService.h"
#include "qor/server/services/FtNetworkService.h"
#include "qor/server/services/FtOnlineService.h"

#include "fennik/devices/PanelDriverSerializer.h"
#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/project/FileContainer.h"
#include "fennik/server/project/HostInterface.h"
#include "fennik/server/project/ProjectManager.h"
#include "fennik/server/service/ServiceResolver.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace qor::server::testing {
namespace {

using namespace std::chrono_literals;
using fennik::devices::PanelDriverSerializer;
using fennik::devices::SimulatedNetwork;
using fennik::server::ProjectError;
using fennik::server::ProjectManager;
using Json = nlohmann::json;

class PanelServiceTest : public ::testing::Test {
 protected:
  PanelServiceTest()
      : context_(makeProjectContext()),
        network_(SimulatedNetwork::create(SimulatedNetwork::Mode::Manual)),
        project_(context_, "test 1.0") {
    panels().attachNetwork(network_);
    project_.newProject();
  }
  ~PanelServiceTest() override {
    project_.close();
    context_->services()->clear();
  }

  template <class S>
  S& service() const {
    return *context_->services()->get<S>();
  }
  PanelService& panels() const { return service<PanelService>(); }
  fennik::server::Database& db() const { return *context_->db(); }
  DeviceType* panelType() const { return db().get<DeviceType>(PanelService::PANEL_TYPE_ID); }
  DeviceType* variantType() const { return db().get<DeviceType>(PanelService::PANEL_VARIANT_TYPE_ID); }
  Device* addPanel(DeviceType* type) { return service<LivesoundService>().deviceAdd(type, 0, 0, true); }
  std::vector<Device*> panelDevices() const {
    std::vector<Device*> out;
    for (Device* d : db().all<Device>())
      if (PanelService::isPanelType(d->typeId())) out.push_back(d);
    return out;
  }
  // Lets simulated time pass on the network and runs what it posted.
  void settle(std::chrono::milliseconds by = 1000ms) {
    network_->advance(by);
    context_->loop()->runUntilIdle();
  }
  // Maps the panel onto a panel of the network and takes it online reading.
  // (As adding a discovered panel does: its short device number is set too.)
  void goOnline(Device* panel, const std::string& physicalId) {
    service<DeviceService>().setDeviceId(panel, physicalId, false);
    service<FtDeviceInfoService>().setDeviceId(panel->getDeviceInfo(), "001", false);
    service<FtOnlineService>().setSupposedState(panel->getOnline(), FtOnlineState::ONLINE_READING, false);
    settle();
  }
  int sessionsOf(const std::string& physicalId) const {
    for (const auto& l : network_->devices())
      if (l.physicalId == physicalId) return l.sessions;
    return -1;
  }

  std::shared_ptr<fennik::server::EntityContext> context_;
  std::shared_ptr<SimulatedNetwork> network_;
  ProjectManager project_;
  ScratchFolder scratch_;
};

TEST_F(PanelServiceTest, ANewPanelHasItsFeaturesItsSizeAndTheFirstTemplateOfItsFamily) {
  ASSERT_TRUE(panelType() && variantType());
  EXPECT_EQ(panelType()->getModel(), "Panel");
  EXPECT_EQ(panelType()->getLabel(), "Panel");
  EXPECT_EQ(panelType()->getVendor(), "Panel");
  EXPECT_EQ(panelType()->getImplementation(), DeviceTypeImplementation::PANEL);

  Device* panel = addPanel(panelType());
  Device* portrait = addPanel(variantType());
  ASSERT_TRUE(panel && portrait);
  EXPECT_EQ(panel->getDeviceInfo()->getName(), "Panel1");
  EXPECT_EQ(portrait->getDeviceInfo()->getName(), "Panel2");
  EXPECT_EQ(panel->getVisualItem()->getWidth(), 104);
  EXPECT_EQ(panel->getVisualItem()->getHeight(), 80);
  EXPECT_EQ(portrait->getVisualItem()->getWidth(), 80);
  EXPECT_EQ(portrait->getVisualItem()->getHeight(), 104);
  for (Device* d : {panel, portrait}) {
    ASSERT_TRUE(d->getLabel() && d->getDeviceInfo() && d->getOnline() && d->getPanel() && d->getNetwork() &&
                d->getDeviceState());
    EXPECT_TRUE(d->getPanel()->getLocked());
    EXPECT_FALSE(d->getOnline()->getIsOnline());
    EXPECT_TRUE(d->getNetwork()->getIsControlSupported());
    EXPECT_TRUE(d->getDeviceState()->getIsReactingOnRealAmpChannel());
    EXPECT_EQ(d->getDeviceState()->getFlagNames(),
              (std::vector<std::string>{"ControlServer Fail", "Unlocked", "Awake"}));
    ASSERT_NE(panels().driver(d->id()), nullptr);
  }
  // The shipped templates: "MZD/Basic" (title "Stage") for the landscape
  // panel, "RLX/Basic" (title "Room") first of the portrait family.
  const Json mzd = Json::parse(panel->getPanel()->getJson());
  const Json rlx = Json::parse(portrait->getPanel()->getJson());
  EXPECT_EQ(mzd["schema"], "mzd");
  EXPECT_EQ(mzd["title"], "Stage");
  EXPECT_EQ(rlx["schema"], "rlx");
  EXPECT_EQ(rlx["title"], "Room");
  // ... and the panel has it.
  EXPECT_EQ(Json::parse(panels().driver(panel->id())->getProperty("panelJson")), mzd);

  // A template chosen by name, and the type a template is for.
  service<LivesoundService>().panelSetTemplate(portrait->getPanel(), "RLX/Presets");
  EXPECT_EQ(Json::parse(portrait->getPanel()->getJson())["title"], "Scenes");
  EXPECT_EQ(panels().deviceTypeIdForTemplate("MZD/Basic"), PanelService::PANEL_TYPE_ID);
  EXPECT_EQ(panels().deviceTypeIdForTemplate("RLX/Presets"), PanelService::PANEL_VARIANT_TYPE_ID);
  EXPECT_FALSE(panels().deviceTypeIdForTemplate("RLX/Nope"));
  const auto added = service<LivesoundService>().deviceAdd("Panel", "RLX/Presets", 1, 0, 0, true);
  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(added[0]->getType(), variantType());
  EXPECT_EQ(Json::parse(added[0]->getPanel()->getJson())["title"], "Scenes");

  // A duplicate is a panel of the same type with the same panel JSON.
  Device* copy = service<LivesoundService>().deviceDuplicate(portrait);
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->getType(), variantType());
  EXPECT_EQ(copy->getPanel()->getJson(), portrait->getPanel()->getJson());
  EXPECT_EQ(copy->getVisualItem()->getParent(), portrait->getVisualItem()->getParent());
}

TEST_F(PanelServiceTest, ThePanelJsonReachesThePanelAndTextThatIsNoJsonChangesNothing) {
  Device* panel = addPanel(panelType());
  const std::string id = network_->addDevice("MZD");
  goOnline(panel, id);
  ASSERT_TRUE(panel->getOnline()->getIsOnline());
  auto& panelJson = service<FtPanelService>();
  FtPanel* feature = panel->getPanel();

  LogCapture log;
  EXPECT_FALSE(panelJson.store(feature, R"({"schema":"mzd","title":"Foyer"})"));
  EXPECT_TRUE(log.contains("No keywords have to be resolved"));
  settle(100ms);
  // Another driver reading the panel finds the new document on it.
  fennik::devices::PanelDriver reader(network_, "MZD");
  reader.setPhysicalDeviceId(id);
  reader.goOnline(true);
  settle();
  EXPECT_EQ(Json::parse(reader.getProperty("panelJson"))["title"], "Foyer");

  // Text that is no JSON: logged, refused, nothing changes anywhere.
  const std::string before = feature->getJson();
  const auto error = panelJson.store(feature, R"({"schema": "mzd", )");
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("PanelJson could not be parsed"), std::string::npos);
  EXPECT_TRUE(log.contains("PanelJson could not be parsed"));
  EXPECT_EQ(feature->getJson(), before);
  // Written past the keyword service, the driver still refuses to send it.
  panelJson.FtPanelServiceBase::setJson(feature, "[[[", false);
  EXPECT_TRUE(log.contains("Couldn't parse panel json"));
  settle(100ms);
  EXPECT_EQ(Json::parse(reader.getProperty("panelJson"))["title"], "Foyer");
  EXPECT_EQ(Json::parse(panels().driver(panel->id())->getProperty("panelJson"))["title"], "Foyer");

  // Keywords are resolved to the names the module offers, whatever their case.
  EXPECT_FALSE(panelJson.store(
      feature,
      R"({"schema":"mzd","keywordMappings":[{"humanKey":"Level","fqdnKey":" LIVESOUND.ftaudio.LEVELINDB "}]})"));
  EXPECT_EQ(Json::parse(feature->getJson())["keywordMappings"][0]["fqdnKey"], "livesound.FtAudio.levelInDb");
  // A keyword nobody offers: logged, the document kept as written.
  const std::string unknown =
      R"({"schema":"mzd","keywordMappings":[{"humanKey":"Dim","fqdnKey":"livesound.FtAudio.dimmer"}]})";
  EXPECT_FALSE(panelJson.store(feature, unknown));
  EXPECT_TRUE(log.contains("Couldn't resolve keywords"));
  EXPECT_EQ(feature->getJson(), unknown);
}

TEST_F(PanelServiceTest, WhatThePanelReportsArrivesInItsState) {
  Device* panel = addPanel(panelType());
  const std::string id = network_->addDevice("MZD");
  goOnline(panel, id);
  ASSERT_TRUE(panel->getOnline()->getIsOnline());
  FtDeviceState* state = panel->getDeviceState();
  // Online, awake and not locked; the control server is there.
  EXPECT_EQ(state->getFlagStates(), (std::vector<bool>{false, true, true}));
  EXPECT_FALSE(state->getError());
  EXPECT_EQ(panel->getDeviceInfo()->getFirmware(), "2.1.0");

  // The user collects "ControlServer Fail" into the error state; the panel
  // loses its control server.
  service<FtDeviceStateService>().setFlagCollectStates(state, {true, false, false}, false);
  network_->injectFault(id, SimulatedNetwork::Fault::NetworkFail);
  settle(300ms);
  EXPECT_EQ(state->getFlagStates(), (std::vector<bool>{true, true, true}));
  EXPECT_EQ(state->getFlagCollectStates(), (std::vector<bool>{true, false, false}));
  EXPECT_TRUE(state->getError());

  // Someone locks the front panel at the panel: "Unlocked" goes off.
  fennik::devices::PanelDriver other(network_, "MZD");
  other.setPhysicalDeviceId(id);
  other.goOnline(true);
  settle();
  auto raw = network_->createDriver("MZD");
  raw->setPhysicalDeviceId(id);
  raw->goOnline(true);
  settle();
  raw->setFrontPanelLock(true);
  settle(300ms);
  EXPECT_FALSE(state->getFlagStates()[1]);

  // Address and firmware changed at the panel.
  network_->setIpAddress(id, "10.0.4.17");
  network_->setFirmware(id, "2.2.0");
  settle(300ms);
  EXPECT_EQ(panel->getDeviceInfo()->getIpaddress(), "10.0.4.17");
  EXPECT_EQ(panel->getOnline()->getIpAddress(), "10.0.4.17");
  EXPECT_EQ(panel->getDeviceInfo()->getFirmware(), "2.2.0");

  // Identify from the design reaches the panel.
  service<FtOnlineService>().setIsIdentifyActive(panel->getOnline(), true, false);
  settle(300ms);
  EXPECT_TRUE(other.isIdentifyActive());
}

TEST_F(PanelServiceTest, ASavedProjectComesBackWithTheSamePanelsAndDrivers) {
  Device* landscape = addPanel(panelType());
  Device* portrait = addPanel(variantType());
  const std::string id = network_->addDevice("RLX-1");
  service<FtPanelService>().store(portrait->getPanel(), R"({"schema":"rlx","title":"Lobby"})");
  service<FtDeviceInfoService>().setName(portrait->getDeviceInfo(), "Lobby", false);
  service<FtDeviceStateService>().setFlagCollectStates(portrait->getDeviceState(), {false, true, false}, false);
  service<FtNetworkService>().setIpMode(portrait->getNetwork(), NetworkIPMode::DHCP, false);
  service<FtDeviceStateService>().setIsCollectedErrorHold(portrait->getDeviceState(), true, false);
  service<DeviceService>().setDeviceId(portrait, id, false);
  const std::map<std::string, std::string> before{
      {landscape->strId(), PanelDriverSerializer::serialize(*panels().driver(landscape->id()))},
      {portrait->strId(), PanelDriverSerializer::serialize(*panels().driver(portrait->id()))}};
  const std::string portraitJson = portrait->getPanel()->getJson();
  const auto portraitId = portrait->id();
  const auto file = scratch_ / "show.qor";
  project_.saveAs(file);

  project_.newProject();
  EXPECT_TRUE(panelDevices().empty());
  project_.open(file);
  const auto reopened = panelDevices();
  ASSERT_EQ(reopened.size(), 2u);
  std::map<std::string, std::string> after;
  for (Device* d : reopened) {
    ASSERT_NE(panels().driver(d->id()), nullptr);
    after[d->strId()] = PanelDriverSerializer::serialize(*panels().driver(d->id()));
  }
  EXPECT_EQ(after, before);
  Device* back = db().get<Device>(portraitId);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->getType(), variantType());
  EXPECT_EQ(back->getPanel()->getJson(), portraitJson);
  // What the file keeps in the drivers shows in the features again.
  EXPECT_EQ(back->getNetwork()->getIpMode(), NetworkIPMode::DHCP);
  EXPECT_EQ(back->getDeviceState()->getFlagCollectStates(), (std::vector<bool>{false, true, false}));
  EXPECT_TRUE(back->getDeviceState()->getIsCollectedErrorHold());
  EXPECT_EQ(back->getDeviceState()->getFlagNames(),
            (std::vector<std::string>{"ControlServer Fail", "Unlocked", "Awake"}));

  // The reopened panel is wired again: it goes online with its panel.
  service<FtOnlineService>().setSupposedState(back->getOnline(), FtOnlineState::ONLINE_WRITING, false);
  settle();
  EXPECT_TRUE(back->getOnline()->getIsOnline());
  EXPECT_EQ(sessionsOf(id), 1);

  // Closing the project takes every panel offline.
  project_.close();
  settle();
  EXPECT_EQ(sessionsOf(id), 0);
}

TEST_F(PanelServiceTest, ADamagedPanelStoreIsRefusedNamingTheEntryAndChangesNothing) {
  Device* panel = addPanel(panelType());
  const auto file = scratch_ / "show.qor";
  project_.saveAs(file);
  const std::string entry = "PanelService/" + panel->strId();

  // The running project: one panel, with an edited panel JSON not yet saved.
  service<FtPanelService>().store(panel->getPanel(), R"({"schema":"mzd","title":"Unsaved"})");
  const std::string running = PanelDriverSerializer::serialize(*panels().driver(panel->id()));

  auto damage = [&](const std::string& name, const std::string& text) {
    ScratchFolder folder;
    fennik::server::HostInterface::unzip(file, folder.path());
    std::ofstream(folder / name, std::ios::binary | std::ios::trunc) << text;
    const auto damaged = scratch_ / ("damaged-" + std::to_string(std::hash<std::string>{}(name + text)) + ".qor");
    fennik::server::FileContainer c(folder.path());
    packProject(folder.path(), damaged, c.load(ProjectManager::VERSION_ENTRY)["schemaVersion"]);
    return damaged;
  };
  auto refusal = [&](const std::filesystem::path& damaged) {
    try {
      project_.open(damaged);
    } catch (const ProjectError& e) {
      return std::string(e.what());
    }
    return std::string("opened");
  };

  for (
      const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
          {entry, R"({"model": 5})"},
          {entry, "not json at all"},
          {entry, std::string(5000, '[')},
          {entry,
           R"({"model":"QA-8","physicalDeviceId":"","panelJson":"","name":"","collectedStateFlags":"","ipMode":1,"collectedErrorHold":false})"},
      }) {
    const std::string message = refusal(damage(name, text));
    EXPECT_NE(message.find(entry), std::string::npos) << message;
    // Nothing changed: the same panel, its unsaved JSON, its driver.
    ASSERT_EQ(panelDevices().size(), 1u);
    Device* still = db().get<Device>(panel->id());
    ASSERT_TRUE(still);
    EXPECT_EQ(Json::parse(still->getPanel()->getJson())["title"], "Unsaved");
    ASSERT_NE(panels().driver(still->id()), nullptr);
    EXPECT_EQ(PanelDriverSerializer::serialize(*panels().driver(still->id())), running);
  }
  // The list names a device that is no panel of the project.
  const std::string message = refusal(damage("PanelService/driverIds", R"(["00000000-0000-4000-8000-000000000001"])"));
  EXPECT_NE(message.find("PanelService/00000000-0000-4000-8000-000000000001"), std::string::npos) << message;
}

}  // namespace
}  // namespace qor::server::testing
