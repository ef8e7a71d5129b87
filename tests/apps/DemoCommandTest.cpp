// qorserver --demo: the device-type plug-ins are loaded from the folder
// beside the executable and the simulated network gets devices of each model.

#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <csignal>

namespace qor::testing {
namespace {

TEST(DemoCommandTest, LoadsThePlugInsAndPutsDevicesOnTheNetwork) {
  ChildProcess server({QORSERVER_PATH, "--port", "0", "--demo"});
  ASSERT_TRUE(server.waitForOutput("Demo device QM-16-", 30000)) << server.output();
  for (const char* text : {"Device type QA-4 registered", "Device type QA-8 registered", "Device type QM-16 registered",
                           "Demo device QA-4-", "Demo device QA-8-"}) {
    EXPECT_NE(server.output().find(text), std::string::npos) << text << "\n" << server.output();
  }
  // A small design is there at once: mapped amplifiers and matrix, and an
  // amplifier not on the network yet.
  ASSERT_TRUE(server.waitForOutput("Demo: a QA-8 added by type, not mapped", 30000)) << server.output();
  for (const char* text : {"Demo: QA-8 added and mapped onto QA-8-", "Demo: QA-4 added and mapped onto QA-4-",
                           "Demo: QM-16 added and mapped onto QM-16-"}) {
    EXPECT_NE(server.output().find(text), std::string::npos) << text << "\n" << server.output();
  }
  EXPECT_EQ(server.output().find("Demo project:"), std::string::npos) << server.output();
  server.signal(SIGINT);
  EXPECT_EQ(server.wait(30000), 0) << server.output();
}

TEST(DemoCommandTest, AMissingPlugInFolderIsReportedNotFatal) {
  ChildProcess server({QORSERVER_PATH, "--port", "0", "--plugins", "/nonexistent/devicetypes"});
  ASSERT_TRUE(server.waitForOutput("qorserver is running", 30000)) << server.output();
  EXPECT_NE(server.output().find("No device-type plug-in folder at /nonexistent/devicetypes"), std::string::npos)
      << server.output();
  server.signal(SIGTERM);
  EXPECT_EQ(server.wait(30000), 0) << server.output();
}

}  // namespace
}  // namespace qor::testing
