// The schema migrations on projects of the older schemas (fixtures in
// fixtures/, their shapes described in docs/migrations.md), one by one on the
// container and all together through opening the project.

#include "custom/LogCapture.h"
#include "custom/speakers/SpeakerModeId.h"
#include "migrations/Migrations.h"
#include "model/GeneratedServices.h"
#include "service/SpeakerDatabaseService.h"
#include "support/ProjectFiles.h"

#include "qor/server/entities/All.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/project/FileContainer.h"
#include "fennik/server/project/HostInterface.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/NotificationService.h"
#include "fennik/server/service/ServiceResolver.h"

#include <gtest/gtest.h>

#include <set>

namespace qor::server::testing {
namespace {

namespace fs = std::filesystem;
using fennik::server::FileContainer;
using fennik::server::Json;

const fs::path FIXTURES = fs::path(MIGRATION_FIXTURES);

// A working container holding a copy of a fixture.
struct Opened {
  ScratchFolder folder;
  std::shared_ptr<FileContainer> container = std::make_shared<FileContainer>(folder.path());
  explicit Opened(const char* fixture) { fs::copy(FIXTURES / fixture, folder.path(), fs::copy_options::recursive); }
  explicit Opened(const Json& entities) { container->store("entities.json", entities); }
  Json doc() const { return container->load("entities.json"); }
};

std::set<std::string> idsOf(const Json& list) {
  std::set<std::string> out;
  for (const auto& e : list) out.insert(e["id"].get<std::string>());
  return out;
}

const Json* find(const Json& doc, const std::string& cls, const std::string& id) {
  for (const auto& e : doc.at(cls)) {
    if (e["id"] == id) return &e;
  }
  return nullptr;
}

std::string id(int n) {
  char text[40];
  std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", n);
  return text;
}

TEST(MigrationTest, ChannelStatesSplitOffAndFeaturesGetTheirGroupStructure) {
  Opened project("amplifiers-1.0.0");
  Migration_100_120().migrate(project.container);
  const Json doc = project.doc();

  EXPECT_EQ(idsOf(doc["qor::server::FtDeviceState"]), (std::set<std::string>{id(11), id(12), id(13)}));
  EXPECT_EQ(idsOf(doc["qor::server::FtChannelState"]),
            (std::set<std::string>{id(111), id(112), id(121), id(122), id(131), id(132)}));
  // A device state lists its channel states and keeps only device-state links.
  const Json& s1 = *find(doc, "qor::server::FtDeviceState", id(11));
  EXPECT_EQ(s1["channelState"], Json::array({id(111), id(112)}));
  EXPECT_EQ(s1["children"], Json::array());
  EXPECT_EQ(s1["parent"], Json::array({id(13)}));
  const Json& group = *find(doc, "qor::server::FtDeviceState", id(13));
  EXPECT_EQ(group["childrenShared"], Json::array({id(11), id(12)}));
  EXPECT_EQ(group["channelState"], Json::array({id(131), id(132)}));
  // A channel state keeps only its group channel state as parent.
  const Json& c11 = *find(doc, "qor::server::FtChannelState", id(111));
  EXPECT_EQ(c11["parent"], Json::array({id(131)}));
  EXPECT_EQ((*find(doc, "qor::server::FtChannelState", id(131)))["childrenShared"], Json::array({id(111), id(121)}));

  // GPIO, device info and label: group entries over the members' features.
  const Json& groupGpio = *find(doc, "qor::server::FtGPIO", id(23));
  EXPECT_EQ(groupGpio["isGroup"], true);
  EXPECT_EQ(groupGpio["childrenShared"], Json::array({id(21), id(22)}));
  EXPECT_EQ((*find(doc, "qor::server::FtGPIO", id(21)))["parent"], Json::array({id(23)}));
  EXPECT_EQ((*find(doc, "qor::server::FtGPIO", id(21)))["isGroup"], false);
  const Json& groupInfo = *find(doc, "qor::server::FtDeviceInfo", id(33));
  EXPECT_EQ(groupInfo["model"], "QA-4");
  EXPECT_EQ(groupInfo["modelConsistent"], true);
  const Json& label = *find(doc, "qor::server::FtLabel", id(41));
  EXPECT_EQ(label["name"], "Left");
  EXPECT_FALSE(label.contains("text"));
  for (const char* key : {"isGroup", "index", "parent", "children", "childrenShared"}) {
    EXPECT_TRUE(label.contains(key)) << key;
  }
}

TEST(MigrationTest, DeviceLevelStatesPassTheSplitUnchanged) {
  Json doc = Json::object();
  doc["qor::server::FtDeviceState"] = Json::array(
      {Json{{"id", id(1)}, {"source", "DEVICE"}, {"children", Json::array()}, {"parent", Json::array({id(3)})}},
       Json{{"id", id(2)}, {"source", "DEVICE"}, {"children", Json::array()}, {"parent", Json::array({id(3)})}},
       Json{{"id", id(3)}, {"source", "GROUP"}, {"childrenShared", Json::array({id(1), id(2)})}}});
  Opened project(doc);
  Migration_100_120().migrate(project.container);
  EXPECT_EQ(project.doc()["qor::server::FtDeviceState"], doc["qor::server::FtDeviceState"]);
  EXPECT_FALSE(project.doc().contains("qor::server::FtChannelState"));
}

TEST(MigrationTest, SessionsLayersAndLoadsAreAllThatChangeWithoutAMatrix) {
  // The 1.0.0 fixture brought to 1.2.4 has amplifiers and no matrix.
  Opened project("amplifiers-1.0.0");
  Migration_100_120().migrate(project.container);
  Migration_120_122(std::weak_ptr<fennik::server::EntityContext>()).migrate(project.container);
  const Json before = project.doc();
  Migration_122_124().migrate(project.container);
  EXPECT_EQ(project.doc(), before);
  Migration_124_130().migrate(project.container);
  const Json after = project.doc();

  const std::set<std::string> changed{"qor::server::Session", "qor::server::SessionWindow", "qor::server::Layer",
                                      "qor::server::FtLoad", "qor::server::Device"};
  for (const auto& [cls, list] : before.items()) {
    if (!changed.contains(cls)) {
      EXPECT_EQ(after[cls], list) << cls;
    }
  }
  // Devices differ only by their load reference.
  for (std::size_t i = 0; i < before["qor::server::Device"].size(); ++i) {
    Json device = after["qor::server::Device"][i];
    device.erase("load");
    EXPECT_EQ(device, before["qor::server::Device"][i]);
  }

  // One load per audio feature of each amplifier, each with its own new id.
  const Json& loads = after["qor::server::FtLoad"];
  ASSERT_EQ(loads.size(), 6u);
  std::set<std::string> every;
  for (const auto& [cls, list] : after.items()) {
    for (const auto& e : list) EXPECT_TRUE(every.insert(e["id"].get<std::string>()).second) << cls;
  }
  const Json& amp = *find(after, "qor::server::Device", id(1));
  const Json* deviceLoad = find(after, "qor::server::FtLoad", amp["load"]);
  ASSERT_TRUE(deviceLoad);
  ASSERT_EQ((*deviceLoad)["children"].size(), 2u);
  for (const auto& channel : (*deviceLoad)["children"]) {
    const Json* load = find(after, "qor::server::FtLoad", channel);
    ASSERT_TRUE(load);
    EXPECT_EQ((*load)["parent"], Json::array({amp["load"]}));
    EXPECT_EQ((*load)["source"], "CHANNEL");
    EXPECT_EQ((*load)["outputPilotLevelDecimals"], 1);
    EXPECT_FALSE(load->contains("levelInDbDecimals"));
    EXPECT_FALSE(load->contains("linked"));
  }
  EXPECT_FALSE(find(after, "qor::server::Device", id(3))->contains("load"));  // the group has no audio

  // The session lists its window on the workspace root, in design mode on the new layer.
  ASSERT_EQ(after["qor::server::Layer"].size(), 1u);
  const Json& layer = after["qor::server::Layer"][0];
  EXPECT_EQ(layer["name"], "Layer");
  EXPECT_EQ(layer["visualItem"].size(), 3u);  // the two amplifiers and their group
  const Json& session = after["qor::server::Session"][0];
  ASSERT_EQ(session["sessionWindows"], Json::array({id(62)}));
  const Json& window = *find(after, "qor::server::SessionWindow", id(62));
  EXPECT_EQ(window["rootVisualItemId"], "c3bca550-a3df-4d37-a8e4-bd545d12b0cb");
  EXPECT_EQ(window["selectionMode"], "DESIGN");
  EXPECT_EQ(window["selectedLayer"], layer["id"]);
  EXPECT_EQ(window["client"], "front-of-house");
  EXPECT_EQ(window["visualItem"], "00000000-0000-0000-0000-000000000000");
}

TEST(MigrationTest, MatrixDataIsClearedAndItsWorkspaceGetsAWindow) {
  Opened project("matrix-1.2.4");
  Migration_124_130().migrate(project.container);
  const Json doc = project.doc();
  for (const char* cls :
       {"qor::server::DSPBlock", "qor::server::DSPNode", "qor::server::MxDspDelay", "qor::server::MxZone"}) {
    ASSERT_TRUE(doc.contains(cls)) << cls;
    EXPECT_EQ(doc[cls], Json::array()) << cls;
  }
  EXPECT_EQ(doc["qor::server::DeviceCorvent"].size(), 1u);
  const std::string matrixRoot = id(202);
  for (const auto& session : doc["qor::server::Session"]) {
    std::set<std::string> roots;
    for (const auto& w : session["sessionWindows"]) {
      roots.insert((*find(doc, "qor::server::SessionWindow", w))["rootVisualItemId"].get<std::string>());
    }
    EXPECT_EQ(roots, (std::set<std::string>{"c3bca550-a3df-4d37-a8e4-bd545d12b0cb", matrixRoot})) << session["client"];
  }
  // Only the amplifier got loads.
  EXPECT_EQ(doc["qor::server::FtLoad"].size(), 3u);
  EXPECT_FALSE(find(doc, "qor::server::Device", id(201))->contains("load"));
}

TEST(MigrationTest, SpeakerModesAndSettingsAreBoundToTheInstalledDatabases) {
  // The server knows the sample databases: point source 1.2 and 1.10, line array 2.1.
  ScratchFolder data;
  auto context = fennik::server::EntityContext::create(fennik::server::JobLoop::Mode::Manual);
  addGeneratedServices(context);
  auto databases = context->services()->get<SpeakerDatabaseService>();
  databases->clearLoadPathes();
  databases->setDataFolder(data.path());
  databases->pushLoadPath((fs::path(QOR_SOURCE_DIR) / "data" / "speakerdb").string());

  LogCapture log;
  Opened project("speakers-1.1.1");
  Migration_120_122(context).migrate(project.container);
  const Json doc = project.doc();
  const std::string ps = "b38f4d4c-74ed-5a43-af7c-f589de0d8b23";
  const std::string dp12 = "55516039-12d6-5c31-8777-7a33476fc4d4";
  auto modeOf = [&](int n) { return (*find(doc, "qor::server::FtSpeakerMode", id(n)))["mode"].get<std::string>(); };
  // A powering mode names the variant; "EXT_" marks an externally powered one.
  EXPECT_EQ(modeOf(11), makeSpeakerModeId("0bae48e7-ff7f-5c17-9286-5a08af912155", dp12,
                                          "6bc8e81e-4af2-5ead-8acb-14174f4d4db0", ps));
  EXPECT_EQ(modeOf(12),
            makeSpeakerModeId("3a481d8b-3400-5d9f-b948-2eb7a7b116ad", "608bd16b-e6c6-5595-9420-2e9fda4a28e4",
                              "614d02cc-8e13-5222-aa6b-9845f11db0d0", ps));
  // What no database offers stays as stored.
  const Json before = Json::parse(readBytes(FIXTURES / "speakers-1.1.1" / "entities.json"));
  EXPECT_EQ(modeOf(13), (*find(before, "qor::server::FtSpeakerMode", id(13)))["mode"]);
  EXPECT_EQ(modeOf(14), (*find(before, "qor::server::FtSpeakerMode", id(14)))["mode"]);

  // Settings carry the name of their chain.
  const Json& hf = *find(doc, "qor::server::FtSpeakerSetting", id(22));
  EXPECT_EQ(hf["name"], "HF speech");
  EXPECT_EQ(hf["aggregatedName"], "HF speech");
  EXPECT_EQ(hf["description"], "Fennik Demo Point Source 1.10");
  EXPECT_EQ((*find(doc, "qor::server::FtSpeakerSetting", id(23)))["name"], "LF speech");
  EXPECT_EQ((*find(doc, "qor::server::FtSpeakerSetting", id(24)))["name"], "kept");
  EXPECT_TRUE(log.contains("Couldn't find according dsp chain"));
  // The database list keeps ids only.
  EXPECT_FALSE(find(doc, "qor::server::SpeakerDatabase", id(901))->contains("version"));

  // The user is told what to install, once per problem.
  std::vector<std::string> texts;
  for (const auto& note : context->notifications()->history()) {
    EXPECT_EQ(note.title, "Speaker Database");
    texts.push_back(note.text);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "Please install the sepaker database Fennik Demo Point Source, Version 2.1 or higher",
                       "The database version couldn't be parsed.", "Error finding a speaker in the databases",
                       "Error finding a required speaker database"}));
  EXPECT_TRUE(log.contains("Project file contains product: " + dp12 + " in the db: Fennik Demo Point Source"));
  EXPECT_TRUE(log.contains("which references a database that is not installed: 00000000-0000-4000-8000-000000000999"));
  context->services()->clear();
}

TEST(MigrationTest, ContainersWithoutEntitiesOrWithBrokenOnesAreLeftAlone) {
  ScratchFolder folder;
  auto container = std::make_shared<FileContainer>(folder.path());
  container->set("PanelService/panels.json", "{}");
  std::vector<std::shared_ptr<fennik::server::Migration>> all{
      std::make_shared<Migration_100_120>(),
      std::make_shared<Migration_120_122>(std::weak_ptr<fennik::server::EntityContext>()),
      std::make_shared<Migration_122_124>(), std::make_shared<Migration_124_130>()};
  for (const auto& m : all) {
    m->migrate(container);
    EXPECT_EQ(container->ls(), std::vector<std::string>{"PanelService"}) << m->name();
  }
  // A document the steps cannot work on is logged and not stored.
  container->set("entities.json", "{\"qor::server::Session\": 5}");
  Migration_124_130().migrate(container);
  EXPECT_EQ(container->get("entities.json"), "{\"qor::server::Session\": 5}");
  container->set("entities.json", "[1, 2]");
  Migration_100_120().migrate(container);
  EXPECT_EQ(container->get("entities.json"), "[1, 2]");
}

TEST(MigrationTest, OpeningAnOldProjectMigratesAndLoadsIt) {
  ScratchFolder scratch;
  ScratchFolder copy;
  fs::copy(FIXTURES / "amplifiers-1.0.0", copy.path(), fs::copy_options::recursive);
  const fs::path file = scratch / "arena-2019.qor";
  packProject(copy.path(), file, "1.0.0");
  const std::string original = readBytes(file);

  auto context = makeProjectContext();
  fennik::server::ProjectManager project(context, "test");
  project.open(file);
  EXPECT_EQ(readBytes(file), original);  // migrated in the working copy only
  EXPECT_EQ(project.storedVersion(), (fennik::server::SchemaVersion{1, 0, 0}));
  const auto& db = *context->db();
  EXPECT_EQ(db.countOfClass("qor::server::FtChannelState"), 6u);
  EXPECT_EQ(db.countOfClass("qor::server::FtLoad"), 6u);
  auto* amp = db.get<Device>(fennik::server::UuidFromS(id(1)));
  ASSERT_TRUE(amp);
  ASSERT_TRUE(amp->getDeviceState());
  ASSERT_EQ(amp->getDeviceState()->channelStates().size(), 2u);
  EXPECT_EQ(amp->getDeviceState()->channelStates()[0]->getIndex(), 0);
  ASSERT_TRUE(amp->getLoad());
  EXPECT_EQ(amp->getLoad()->childrens().size(), 2u);
  ASSERT_TRUE(amp->getLabel());
  EXPECT_EQ(amp->getLabel()->getName(), "Left");
  auto* groupGpio = db.get<FtGPIO>(fennik::server::UuidFromS(id(23)));
  ASSERT_TRUE(groupGpio);
  EXPECT_EQ(groupGpio->childrenShareds().size(), 2u);

  // Saved again, it is a current project that opens without migrating; the
  // file the older server wrote is kept beside it, once.
  project.save();
  EXPECT_EQ(readBytes(scratch / "arena-2019.schema-1.0.0.qor"), original);
  project.save();
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), fs::directory_iterator()), 2);
  fennik::server::ProjectManager again(makeProjectContext(), "test");
  again.open(file);
  EXPECT_EQ(again.storedVersion(), (fennik::server::SchemaVersion{1, 3, 0}));
  project.close();
  context->services()->clear();
}

}  // namespace
}  // namespace qor::server::testing
