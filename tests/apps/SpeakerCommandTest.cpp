// Speakers with the real server and qorctl, as an engineer at a shell works:
// find a speaker in the catalog, add it in a mode, change the mode, let a
// band run an SPS file, save, move the project file elsewhere, reopen it.

#include "ChildProcess.h"
#include "support/ProjectFiles.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <regex>

namespace qor::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const fs::path SPS = fs::path(QOR_SOURCE_DIR) / "data" / "speakerdb" / "sps" / "demo-fullrange.sps";
const std::string DP12 = "55516039-12d6-5c31-8777-7a33476fc4d4";
const std::string MASTER_WINDOW = "c3bca550-a3df-4d37-a8e4-bd545d12b0cb";

class SpeakerCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Installed and precompiled databases of this test only.
    ::setenv("QORSERVER_DATA_DIR", (scratch / "data").c_str(), 1);
  }
  void TearDown() override {
    stop();
    ::unsetenv("QORSERVER_DATA_DIR");
  }

  void start(const fs::path& project) {
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{QORSERVER_PATH, "--port", "0", "--project", project.string()});
    ASSERT_TRUE(server_->waitForOutput("qorserver is running", 30000)) << server_->output();
    std::smatch m;
    const std::string out = server_->output();
    ASSERT_TRUE(std::regex_search(out, m, std::regex("qorserver serving (ws://\\S+)"))) << out;
    url_ = m[1].str();
  }
  void stop() {
    if (!server_) return;
    server_->signal(SIGTERM);
    EXPECT_EQ(server_->wait(30000), 0) << server_->output();
    server_.reset();
  }

  json qorctl(std::vector<std::string> args) {
    args.insert(args.begin(), {QORCTL_PATH, "--url", url_});
    std::string out;
    const int rc = runToCompletion(args, out);
    EXPECT_EQ(rc, 0) << out;
    return json::parse(out, nullptr, false);
  }
  json call(const std::string& path, const std::vector<std::string>& args) {
    std::vector<std::string> all{"call", path};
    all.insert(all.end(), args.begin(), args.end());
    return qorctl(all);
  }
  json show(const std::string& id) { return qorctl({"show", id})["entity"]; }

  // The catalog item of one kind whose label ends with the text.
  std::string catalogId(const std::string& query, const std::string& kind, const std::string& labelEnd) {
    const json reply = call("/deviceCatalogQuery", {"queries=" + query});
    for (const auto& item : reply["result"]["matches"][0]["items"]) {
      const std::string label = item["label"];
      if (item["kind"] == kind && label.size() >= labelEnd.size() &&
          label.compare(label.size() - labelEnd.size(), labelEnd.size(), labelEnd) == 0)
        return item["id"];
    }
    ADD_FAILURE() << "no " << kind << " '" << labelEnd << "' in " << reply.dump();
    return {};
  }

  qor::server::testing::ScratchFolder scratch;
  std::unique_ptr<ChildProcess> server_;
  std::string url_;
};

TEST_F(SpeakerCommandTest, AddSetModeLoadSpsSaveMoveAndReopen) {
  fs::create_directories(scratch / "first");
  start(scratch / "first" / "show.qor");

  // The demo databases are found beside the server: the catalog offers them.
  const std::string biamped = catalogId("model:dp12 kind:speakermode -band", "SpeakerMode", "Standard, Bi-amped");
  const std::string speech = catalogId("model:dp12 kind:speakermode -band", "SpeakerMode", "Speech, Passive");
  const json added = call("/deviceAdd", {"kind=SpeakerMode", "id=" + biamped, "count=1", "x=0", "y=0"});
  ASSERT_EQ(added["status"], 200) << added.dump();
  const std::string speaker = added["result"]["devices"][0];
  json device = show(speaker);
  EXPECT_EQ(device["type"], DP12);
  EXPECT_EQ(show(device["speakerMode"])["mode"], biamped);
  EXPECT_EQ(show(device["speakerSetting"])["children"].size(), 2u);
  EXPECT_EQ(show(device["connector"])["children"].size(), 2u);

  // Another mode: one band now.
  EXPECT_EQ(call("/speakerModeSetMode",
                 {"speakerMode=" + device["speakerMode"].get<std::string>(), "mode=" + speech})["status"],
            200);
  device = show(speaker);
  EXPECT_EQ(show(device["speakerMode"])["mode"], speech);
  const json bands = show(device["speakerSetting"])["children"];
  ASSERT_EQ(bands.size(), 1u);
  const std::string band = bands[0];

  // The band runs an SPS file from the server's disk.
  fs::copy_file(SPS, scratch / "user.sps");
  EXPECT_EQ(
      call("/speakerSettingLoadSps", {"speakerSetting=" + band, "path=" + (scratch / "user.sps").string()})["status"],
      200);
  const std::string cached = show(band)["supposedSpsFilePath"];
  EXPECT_TRUE(std::regex_match(cached, std::regex("[0-9a-f]{40}\\.sps"))) << cached;
  EXPECT_EQ(qorctl({"project", "save"})["status"], 200);
  stop();

  // The project moves to another folder; the user's file is gone.
  fs::create_directories(scratch / "second");
  fs::rename(scratch / "first" / "show.qor", scratch / "second" / "moved.qor");
  fs::remove(scratch / "user.sps");
  start(scratch / "second" / "moved.qor");
  EXPECT_EQ(show(band)["supposedSpsFilePath"], cached);

  // A copy of the speaker runs the same file, read from the project's own copy.
  EXPECT_EQ(call("/visualItemSelect", {"sessionWindow=" + MASTER_WINDOW,
                                       "items=" + show(speaker)["visualItem"].get<std::string>()})["status"],
            200);
  EXPECT_EQ(call("/visualItemDuplicateSelected", {})["status"], 200);
  const json devices = qorctl({"index", "Device"})["ids"];
  ASSERT_EQ(devices.size(), 2u);
  const std::string copy = devices[0] == speaker ? devices[1] : devices[0];
  const json copyBands = show(show(copy)["speakerSetting"])["children"];
  ASSERT_EQ(copyBands.size(), 1u);
  EXPECT_EQ(show(copyBands[0])["supposedSpsFilePath"], cached);

  // A clear: the band runs its database chain again.
  EXPECT_EQ(call("/speakerSettingClear", {"speakerSetting=" + band})["status"], 200);
  EXPECT_EQ(show(band)["supposedSpsFilePath"], "");
}

}  // namespace
}  // namespace qor::testing
