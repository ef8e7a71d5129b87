// What a hostile or broken client can try against a real server: values
// that could not be saved, a file that cannot be loaded, foreign web pages,
// tokens in the wrong place, paths outside the project folders, and more
// connections, bytes and silence than the server takes. Whatever it tries,
// the running show stays saveable, openable and reachable.

#include "ServerFixture.h"

#include "support/ProjectFiles.h"

#include "fennik/server/net/ProjectRoute.h"
#include "fennik/server/project/HostInterface.h"
#include "fennik/server/project/ProjectManager.h"
#include "fennik/server/service/NotificationService.h"
#include "qor/server/entities/All.h"
#include "qor/server/fbs/FtDelay_generated.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"
#include "qor/server/fbs/LivesoundProject_generated.h"

#include <filesystem>
#include <fstream>
#include <limits>

namespace qor::testing {
namespace {

namespace fs = std::filesystem;
namespace fbs = qor::server::fbs;
using qor::server::FtDelay;
using qor::server::LivesoundProject;
using qor::server::testing::editProject;
using qor::server::testing::readBytes;
using qor::server::testing::ScratchFolder;

constexpr auto TIMEOUT = 10s;
const std::string PROJECT_ROUTE = net::ProjectRoute::ROUTE;

KspBytes nameUpdate(const std::string& id, const std::string& name) {
  return table([&](flatbuffers::FlatBufferBuilder& b) {
    auto i = b.CreateString(id);
    auto n = b.CreateString(name);
    fbs::LivesoundProjectBuilder t(b);
    t.add_id(i);
    t.add_name(n);
    return t.Finish();
  });
}

KspBytes delayUpdate(const std::string& id, double delay) {
  return table([&](flatbuffers::FlatBufferBuilder& b) {
    auto i = b.CreateString(id);
    fbs::FtDelayBuilder t(b);
    t.add_id(i);
    t.add_delayInMs(delay);
    return t.Finish();
  });
}

KspBytes delayStep(const std::string& id, double step) {
  return table([&](flatbuffers::FlatBufferBuilder& b) {
    auto i = b.CreateString(id);
    return fbs::cmd::CreateFtDelayRelativeArgs(b, i, step);
  });
}

// A server with the host's project route, its files limited to one folder.
class HostileClientTest : public ServerFixture {
 protected:
  std::shared_ptr<ProjectManager> project;
  ScratchFolder folder;

  void SetUp() override {
    ServerFixture::SetUp();
    project = std::make_shared<ProjectManager>(context, "qorserver test");
    dispatcher->mount(std::make_shared<net::ProjectRoute>(context, project, std::vector<fs::path>{folder.path()}));
    project->newProject();
  }
  void TearDown() override {
    project->close();
    project.reset();
    ServerFixture::TearDown();
  }

  std::string projectId() {
    return read<std::string>([&] { return context->db()->all<LivesoundProject>().front()->strId(); });
  }
  std::string projectName() {
    return read<std::string>([&] { return context->db()->all<LivesoundProject>().front()->getName(); });
  }
  std::optional<net::ProjectReplyMessage> projectCall(net::KspClient& client, const std::string& path,
                                                      const std::string& file, int expected) {
    auto reply = client.call(PROJECT_ROUTE, KspMethod::Custom, path, {}, net::encodeProjectPathArgs(file), TIMEOUT);
    EXPECT_EQ(status(reply), expected) << path << " " << file;
    return reply ? net::decodeProjectReply(reply->payload) : std::nullopt;
  }
};

TEST_F(HostileClientTest, ValuesThatCouldNotBeSavedAreRefusedAndTheShowStaysSaveable) {
  net::KspClient client;
  connect(client);
  const auto id = projectId();
  const std::string route = "qor::server::LivesoundProject";
  // Bytes that are no UTF-8: a stray continuation byte, an overlong slash, a
  // surrogate half, a sequence cut short at the end.
  for (const std::string bad : {"Arena \xff", "\xc0\xaf", "\xed\xa0\x80", "Halle \xe2\x82"}) {
    EXPECT_EQ(status(client.call(route, KspMethod::Update, {}, id, nameUpdate(id, bad))), 400) << bad;
  }
  // A string far beyond any name.
  EXPECT_EQ(status(client.call(route, KspMethod::Update, {}, id, nameUpdate(id, std::string(2 << 20, 'x')))), 400);
  EXPECT_EQ(projectName(), "Untitled");
  // Real text in any script is taken as it is.
  const std::string name = "B\xc3\xbchne \xe2\x99\xab \xf0\x9f\x8e\xb5";
  EXPECT_EQ(status(client.call(route, KspMethod::Update, {}, id, nameUpdate(id, name))), 204);
  EXPECT_EQ(projectName(), name);

  // NaN and infinities, in entity updates and in command arguments alike.
  auto* delay = create<FtDelay>();
  // A delay as an amplifier channel has it: the service keeps values within the range.
  onLoop([&](EntityContext&) { delay->setDelayInMsMax(1000.0, false); });
  const auto nan = std::numeric_limits<double>::quiet_NaN();
  const auto inf = std::numeric_limits<double>::infinity();
  for (double bad : {nan, inf, -inf}) {
    EXPECT_EQ(status(client.call("qor::server::FtDelay", KspMethod::Update, {}, delay->strId(),
                                 delayUpdate(delay->strId(), bad))),
              400);
    EXPECT_EQ(status(client.call("qor::server::Livesound", KspMethod::Custom, "/ftDelayRelative", {},
                                 delayStep(delay->strId(), bad))),
              400);
  }
  EXPECT_EQ(read<double>([&] { return delay->getDelayInMs(); }), 0.0);
  EXPECT_EQ(status(client.call("qor::server::FtDelay", KspMethod::Update, {}, delay->strId(),
                               delayUpdate(delay->strId(), 2.5))),
            204);
  EXPECT_EQ(read<double>([&] { return delay->getDelayInMs(); }), 2.5);
  // A finite number in a field the file keeps.
  EXPECT_EQ(status(client.call(route, KspMethod::Update, {}, id, table([&](flatbuffers::FlatBufferBuilder& b) {
                                 auto i = b.CreateString(id);
                                 fbs::LivesoundProjectBuilder t(b);
                                 t.add_id(i);
                                 t.add_systemTemperatureInCelsius(31.5);
                                 return t.Finish();
                               }))),
            204);

  // Saved and opened again, the show is as it was.
  auto saved = projectCall(client, "/projectSaveAs", "show.qor", 200);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->file, (fs::weakly_canonical(folder.path()) / "show.qor").string());
  projectCall(client, "/projectOpen", "show.qor", 200);
  EXPECT_EQ(projectName(), name);
  EXPECT_EQ(
      read<double>([&] { return context->db()->all<LivesoundProject>().front()->getSystemTemperatureInCelsius(); }),
      31.5);
}

TEST_F(HostileClientTest, ValuesThatGotInAnywayAreSavedRepairedNotLost) {
  // Requests cannot bring them in; a fault inside the server still must not
  // make the project unsaveable or the file unopenable.
  auto* delay = create<FtDelay>();
  onLoop([&](EntityContext& c) {
    c.db()->all<LivesoundProject>().front()->setName("Arena \xff", false);
    c.db()->all<LivesoundProject>().front()->setDescription("kept", false);
    delay->setDelayInMs(std::numeric_limits<double>::quiet_NaN(), false);
  });
  const auto file = folder / "repaired.qor";
  ASSERT_NO_THROW(project->saveAs(file));
  ASSERT_NO_THROW(project->open(file));
  EXPECT_EQ(read<std::string>([&] { return context->db()->all<LivesoundProject>().front()->getDescription(); }),
            "kept");
  EXPECT_EQ(projectName().rfind("Arena ", 0), 0u) << projectName();
  EXPECT_EQ(read<std::size_t>([&] { return context->db()->all<FtDelay>().size(); }), 1u);
}

TEST_F(HostileClientTest, AFailedOpenLeavesTheRunningShowUntouched) {
  net::KspClient client;
  connect(client);
  const auto id = projectId();
  ASSERT_EQ(status(client.call("qor::server::LivesoundProject", KspMethod::Update, {}, id, nameUpdate(id, "Arena"))),
            204);
  projectCall(client, "/projectSaveAs", "arena.qor", 200);

  // A copy whose layer takes the master session's fixed id.
  const auto bad = folder / "clash.qor";
  fs::copy_file(folder / "arena.qor", bad);
  editProject(bad, [](Json& doc) {
    Json layer = doc["qor::server::Layer"].at(0);
    layer["id"] = "f1858cb6-20d2-43bf-a817-61548631ae6e";
    auto& sessions = doc["qor::server::Session"];
    for (auto it = sessions.begin(); it != sessions.end();) {
      it = (*it)["id"] == "f1858cb6-20d2-43bf-a817-61548631ae6e" ? sessions.erase(it) : it + 1;
    }
    doc["qor::server::Layer"].push_back(layer);
  });

  net::KspClient watcher;
  connect(watcher);
  ASSERT_EQ(status(watcher.call(net::SubscriptionHub::ROUTE, KspMethod::Subscribe, {}, {},
                                net::encodeSubscriptionArgs({id}, {}))),
            200);
  const auto entities = read<std::size_t>([&] { return context->db()->size(); });

  auto refused = projectCall(client, "/projectOpen", "clash.qor", 422);
  ASSERT_TRUE(refused);
  EXPECT_NE(refused->error.find("clash.qor"), std::string::npos) << refused->error;
  EXPECT_NE(refused->error.find("f1858cb6-20d2-43bf-a817-61548631ae6e"), std::string::npos) << refused->error;
  EXPECT_EQ(refused->error.find("/tmp/qorproject"), std::string::npos) << refused->error;
  EXPECT_EQ(refused->file, (fs::weakly_canonical(folder.path()) / "arena.qor").string());
  EXPECT_EQ(projectName(), "Arena");
  EXPECT_EQ(projectId(), id);
  EXPECT_EQ(read<std::size_t>([&] { return context->db()->size(); }), entities);

  // The watcher still gets the project's changes, and no deletion came first.
  ASSERT_EQ(status(client.call("qor::server::LivesoundProject", KspMethod::Update, {}, id, nameUpdate(id, "Late"))),
            204);
  auto change = watcher.next(TIMEOUT);
  ASSERT_TRUE(change);
  EXPECT_EQ(change->kind, net::MessageKind::Changed);
  EXPECT_EQ(change->entityId, id);

  // Saving still goes to the running show's own file.
  const auto clashBytes = readBytes(bad);
  projectCall(client, "/projectSave", "", 200);
  EXPECT_EQ(readBytes(bad), clashBytes);
  projectCall(client, "/projectOpen", "arena.qor", 200);
  EXPECT_EQ(projectName(), "Late");
}

TEST_F(HostileClientTest, RefusedFilesAreNamedWithTheirEntryNeverTheWorkingFolder) {
  const auto expectRefused = [&](const fs::path& file, const std::string& entry) {
    try {
      project->open(file);
      ADD_FAILURE() << file << " was opened";
    } catch (const ProjectError& e) {
      const std::string why = e.what();
      EXPECT_NE(why.find(file.filename().string()), std::string::npos) << why;
      EXPECT_NE(why.find(entry), std::string::npos) << why;
      EXPECT_EQ(why.find((fs::temp_directory_path() / "qorproject").string()), std::string::npos) << why;
    }
    EXPECT_EQ(projectName(), "Untitled");
  };
  // An entry that is a file and a folder at once.
  ScratchFolder empty;
  const std::string some = "x";
  HostInterface::zip(empty.path(), folder / "clash.qor", {{"cache", some}, {"cache/one.sps", some}});
  expectRefused(folder / "clash.qor", "cache");

  // Entities that are no JSON, under a valid version record.
  ScratchFolder entries;
  std::ofstream(entries / "entities.json") << "{\"qor::server::Layer\": [";
  qor::server::testing::packProject(entries.path(), folder / "cut.qor", project->currentVersion().toString());
  expectRefused(folder / "cut.qor", "entities.json");

  // A zip bomb: one entry far beyond the limit (lowered here), and entries
  // that only together pass the total; the folder never holds them whole.
  project->setLimits({1 << 20, 2 << 20});
  const std::string zeros(3 << 20, '\0');
  HostInterface::zip(empty.path(), folder / "bomb.qor", {{"sps-file-cache/big.sps", zeros}});
  expectRefused(folder / "bomb.qor", "sps-file-cache/big.sps");
  const std::string part(800 << 10, '\0');
  HostInterface::zip(empty.path(), folder / "many.qor", {{"a.sps", part}, {"b.sps", part}, {"c.sps", part}});
  expectRefused(folder / "many.qor", "c.sps");
}

TEST_F(HostileClientTest, ClientsReachOnlyProjectsInTheAllowedFolders) {
  net::KspClient client;
  connect(client);
  ScratchFolder elsewhere;
  // Outside the folder, directly, through "..", and through a link inside it.
  for (const std::string& path :
       {(elsewhere / "x.qor").string(), (folder / ".." / "x.qor").string(), std::string("../x.qor")}) {
    auto reply = projectCall(client, "/projectSaveAs", path, 422);
    ASSERT_TRUE(reply);
    EXPECT_NE(reply->error.find(path), std::string::npos) << reply->error;
  }
  fs::create_directory_symlink(elsewhere.path(), folder / "link");
  projectCall(client, "/projectSaveAs", "link/x.qor", 422);
  EXPECT_TRUE(fs::is_empty(elsewhere.path()));

  // A file that is not a project is never written over.
  std::ofstream(folder / "notes.txt") << "set list";
  auto kept = projectCall(client, "/projectSaveAs", "notes.txt", 422);
  ASSERT_TRUE(kept);
  EXPECT_NE(kept->error.find("notes.txt"), std::string::npos) << kept->error;
  EXPECT_EQ(readBytes(folder / "notes.txt"), "set list");

  // Inside, saving (again, over the project) and opening work; opening
  // outside is refused like saving.
  projectCall(client, "/projectSaveAs", "inside.qor", 200);
  projectCall(client, "/projectSaveAs", (folder / "inside.qor").string(), 200);
  projectCall(client, "/projectOpen", "inside.qor", 200);
  fs::copy_file(folder / "inside.qor", elsewhere / "x.qor");
  projectCall(client, "/projectOpen", (elsewhere / "x.qor").string(), 422);
}

}  // namespace
}  // namespace qor::testing
