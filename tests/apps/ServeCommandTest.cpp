// qorserver started as a user starts it: it comes up on a new project, logs
// what it did, and stops cleanly on Ctrl-C (SIGINT) or SIGTERM.

#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <csignal>

namespace qor::testing {
namespace {

void expectCleanStop(int sig, const char* name) {
  ChildProcess server({QORSERVER_PATH});
  ASSERT_TRUE(server.waitForOutput("qorserver is running", 30000)) << server.output();
  EXPECT_NE(server.output().find("Live-sound services registered: 44"), std::string::npos) << server.output();
  EXPECT_NE(server.output().find("New project ready"), std::string::npos);
  server.signal(sig);
  EXPECT_EQ(server.wait(30000), 0) << server.output();
  EXPECT_NE(server.output().find(std::string("Received ") + name), std::string::npos) << server.output();
  EXPECT_NE(server.output().find("Module deregistered"), std::string::npos) << server.output();
  EXPECT_NE(server.output().find("qorserver stopped"), std::string::npos) << server.output();
}

TEST(ServeCommandTest, StartsOnANewProjectAndStopsCleanlyOnSigint) { expectCleanStop(SIGINT, "SIGINT"); }

TEST(ServeCommandTest, StopsCleanlyOnSigterm) { expectCleanStop(SIGTERM, "SIGTERM"); }

TEST(ServeCommandTest, HelpExplainsAndBadOptionsFail) {
  std::string out;
  EXPECT_EQ(runToCompletion({QORSERVER_PATH, "--help"}, out), 0);
  EXPECT_NE(out.find("catalogue"), std::string::npos) << out;
  EXPECT_NE(out.find("--log-level"), std::string::npos) << out;
  EXPECT_NE(runToCompletion({QORSERVER_PATH, "--log-level", "loud"}, out), 0);
  EXPECT_NE(runToCompletion({QORSERVER_PATH, "--module", "/nonexistent/module.so"}, out), 0);
  EXPECT_NE(out.find("/nonexistent/module.so"), std::string::npos) << out;
}

}  // namespace
}  // namespace qor::testing
