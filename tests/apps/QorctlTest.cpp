// qorctl against a running qorserver, as a user at a shell runs them.

#include "ChildProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>

namespace qor::testing {
namespace {

class QorctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<ChildProcess>(std::vector<std::string>{QORSERVER_PATH, "--port", "0"});
    ASSERT_TRUE(server_->waitForOutput("qorserver is running", 30000)) << server_->output();
    std::smatch m;
    const std::string out = server_->output();
    ASSERT_TRUE(std::regex_search(out, m, std::regex("qorserver serving (ws://\\S+)"))) << out;
    url_ = m[1].str();
  }
  void TearDown() override {
    server_->signal(SIGTERM);
    EXPECT_EQ(server_->wait(30000), 0) << server_->output();
  }

  int qorctl(std::vector<std::string> args, std::string& out) {
    args.insert(args.begin(), {QORCTL_PATH, "--url", url_});
    return runToCompletion(args, out);
  }

  std::unique_ptr<ChildProcess> server_;
  std::string url_;
};

TEST_F(QorctlTest, IndexShowUpdateAndTheirFailures) {
  std::string out;
  ASSERT_EQ(qorctl({"index", "FtDelay"}, out), 0) << out;
  auto doc = nlohmann::json::parse(out);
  EXPECT_EQ(doc["type"], "FtDelay");
  EXPECT_TRUE(doc["ids"].is_array());
  EXPECT_TRUE(doc["ids"].empty());

  const std::string nobody = "3f2c7d2e-5a55-4c39-9a52-6d8c5c3bd0e1";
  EXPECT_EQ(qorctl({"show", nobody}, out), 1);
  EXPECT_NE(out.find("404"), std::string::npos) << out;
  // A read-only field is refused by the server; an unknown field by qorctl.
  EXPECT_EQ(qorctl({"update", "FtDelay", nobody, "delayInMsMax=3"}, out), 1);
  EXPECT_NE(out.find("400"), std::string::npos) << out;
  EXPECT_EQ(qorctl({"update", "FtDelay", nobody, "loudness=11"}, out), 2);
  EXPECT_NE(out.find("FtDelay has no field 'loudness'"), std::string::npos) << out;
  EXPECT_EQ(qorctl({"update", "FtDelay", nobody, "isBypassed=maybe"}, out), 2);
  EXPECT_EQ(qorctl({"call", "/presetRecall", "preset=" + nobody, "slot=A"}, out), 1);
  EXPECT_NE(out.find("500"), std::string::npos) << out;
  EXPECT_EQ(qorctl({"call", "/presetRecall"}, out), 1);
  EXPECT_NE(out.find("400"), std::string::npos) << out;

  // Nothing listens there: a clear error, not a hang.
  EXPECT_EQ(runToCompletion({QORCTL_PATH, "--url", "ws://127.0.0.1:1/ksp", "index", "FtDelay"}, out), 1);
  EXPECT_NE(out.find("cannot connect"), std::string::npos) << out;
}

}  // namespace
}  // namespace qor::testing
