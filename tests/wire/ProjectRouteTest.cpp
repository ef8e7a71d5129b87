// The project route against a real server: qorctl saves the running project
// under a file, a change made over the entity route is saved, a damaged file
// is refused without touching the running project, and opening the saved
// file brings the change back.

#include "ServerFixture.h"

#include "apps/ChildProcess.h"
#include "fennik/server/net/ProjectRoute.h"
#include "fennik/server/project/ProjectManager.h"
#include "qor/server/entities/All.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace qor::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class ProjectRouteTest : public ServerFixture {
 protected:
  std::shared_ptr<ProjectManager> project;
  fs::path folder;

  void SetUp() override {
    ServerFixture::SetUp();
    project = std::make_shared<ProjectManager>(context, "qorserver test");
    dispatcher->mount(std::make_shared<net::ProjectRoute>(context, project));
    project->newProject();
    folder = fs::temp_directory_path() / ("project-route-" + std::to_string(::getpid()));
    fs::create_directories(folder);
  }
  void TearDown() override {
    project->close();
    project.reset();
    ServerFixture::TearDown();
    fs::remove_all(folder);
  }

  std::string url() const { return "ws://127.0.0.1:" + std::to_string(server().port()) + "/ksp"; }
  // Runs qorctl; `first` is its first output line as JSON (null when none).
  int qorctl(std::vector<std::string> args, json& first, std::string& out) {
    args.insert(args.begin(), {QORCTL_PATH, "--url", url()});
    const int code = runToCompletion(args, out);
    const auto line = out.substr(0, out.find('\n'));
    first = json::parse(line, nullptr, false);
    return code;
  }
  std::string projectName() {
    return read<std::string>([&] {
      auto all = context->db()->all<qor::server::LivesoundProject>();
      return all.size() == 1 ? all.front()->getName() : std::string("<" + std::to_string(all.size()) + " projects>");
    });
  }
  std::string projectId() {
    return read<std::string>([&] { return context->db()->all<qor::server::LivesoundProject>().front()->strId(); });
  }
};

TEST_F(ProjectRouteTest, SaveChangeRefuseDamagedAndReopen) {
  const auto file = (folder / "arena.qor").string();
  json reply;
  std::string out;

  ASSERT_EQ(qorctl({"project", "info"}, reply, out), 0) << out;
  EXPECT_EQ(reply["status"], 200);
  EXPECT_EQ(reply["open"], true);
  EXPECT_TRUE(reply["file"].is_null());

  // A project without a file cannot be saved in place; the reason says so.
  EXPECT_EQ(qorctl({"project", "save"}, reply, out), 1) << out;
  EXPECT_EQ(reply["status"], 422);
  EXPECT_FALSE(reply["error"].get<std::string>().empty());
  EXPECT_NE(out.find("qorctl: fennik::server::Project/projectSave answered 422"), std::string::npos) << out;

  ASSERT_EQ(qorctl({"project", "save-as", file}, reply, out), 0) << out;
  EXPECT_EQ(reply["file"], file);
  EXPECT_FALSE(reply["schemaVersion"].is_null());
  ASSERT_TRUE(fs::exists(file));

  const auto id = projectId();
  ASSERT_EQ(qorctl({"update", "LivesoundProject", id, "name=Arena"}, reply, out), 0) << out;
  EXPECT_EQ(projectName(), "Arena");
  ASSERT_EQ(qorctl({"project", "save"}, reply, out), 0) << out;
  EXPECT_EQ(reply["file"], file);

  // A damaged copy (a byte of the zip's end record flipped) is refused with
  // the file's name; the running project and its file stay as they were.
  const auto damaged = (folder / "damaged.qor").string();
  {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    for (std::size_t i = bytes.size() / 2; i < bytes.size(); ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
    std::ofstream(damaged, std::ios::binary) << bytes;
  }
  EXPECT_EQ(qorctl({"project", "open", damaged}, reply, out), 1) << out;
  EXPECT_EQ(reply["status"], 422);
  EXPECT_NE(reply["error"].get<std::string>().find(damaged), std::string::npos) << out;
  EXPECT_EQ(reply["file"], file);
  EXPECT_EQ(projectName(), "Arena");
  EXPECT_EQ(projectId(), id);

  // An unsaved change is dropped by opening the file again; the saved one is there.
  ASSERT_EQ(qorctl({"update", "LivesoundProject", id, "name=Unsaved"}, reply, out), 0) << out;
  EXPECT_EQ(projectName(), "Unsaved");
  ASSERT_EQ(qorctl({"project", "open", file}, reply, out), 0) << out;
  EXPECT_EQ(reply["status"], 200);
  EXPECT_EQ(reply["file"], file);
  EXPECT_EQ(projectName(), "Arena");
  EXPECT_EQ(projectId(), id);

  // A new project has no file and the default name.
  ASSERT_EQ(qorctl({"project", "new"}, reply, out), 0) << out;
  EXPECT_TRUE(reply["file"].is_null());
  EXPECT_EQ(projectName(), "Untitled");
}

TEST_F(ProjectRouteTest, BadArgumentsAreRefusedBeforeAnythingRuns) {
  net::KspClient client;
  connect(client);
  const std::string route = net::ProjectRoute::ROUTE;
  // open and save as need a path: no payload, an empty path, bytes that are no table.
  EXPECT_EQ(status(client.call(route, KspMethod::Custom, "/projectOpen", {}, {}, 10s)), 400);
  EXPECT_EQ(status(client.call(route, KspMethod::Custom, "/projectSaveAs", {}, net::encodeProjectPathArgs(""), 10s)),
            400);
  EXPECT_EQ(status(client.call(route, KspMethod::Custom, "/projectOpen", {}, KspBytes{1, 2, 3}, 10s)), 400);
  EXPECT_EQ(status(client.call(route, KspMethod::Custom, "/projectClose", {}, {}, 10s)), 404);

  // A file that does not exist: refused, the message names it.
  const auto missing = (folder / "missing.qor").string();
  auto reply = client.call(route, KspMethod::Custom, "/projectOpen", {}, net::encodeProjectPathArgs(missing), 10s);
  ASSERT_EQ(status(reply), 422);
  auto state = net::decodeProjectReply(reply->payload);
  ASSERT_TRUE(state);
  EXPECT_NE(state->error.find(missing), std::string::npos) << state->error;
  EXPECT_TRUE(state->open);
  EXPECT_EQ(projectName(), "Untitled");

  // qorctl checks its own arguments before it connects.
  std::string out;
  EXPECT_EQ(runToCompletion({QORCTL_PATH, "--url", url(), "project", "open"}, out), 2) << out;
  EXPECT_EQ(runToCompletion({QORCTL_PATH, "--url", url(), "project", "close"}, out), 2) << out;
}

}  // namespace
}  // namespace qor::testing
