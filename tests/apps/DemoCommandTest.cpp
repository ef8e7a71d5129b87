// qorserver --demo: the device-type plug-ins are loaded from the folder
// beside the executable and the simulated network gets devices of each model.

#include "ChildProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <regex>
#include <thread>

namespace qor::testing {
namespace {

TEST(DemoCommandTest, LoadsThePlugInsAndPutsDevicesOnTheNetwork) {
  ChildProcess server({QORSERVER_PATH, "--port", "0", "--demo"});
  ASSERT_TRUE(server.waitForOutput("Demo device QM-16-", 30000)) << server.output();
  for (const char* text : {"Device type QA-4 registered", "Device type QA-8 registered", "Device type QM-16 registered",
                           "Demo device QA-4-", "Demo device QA-8-"}) {
    EXPECT_NE(server.output().find(text), std::string::npos) << text << "\n" << server.output();
  }
  // A small design is there at once: amplifiers and the matrix added from
  // the network, and an amplifier not on the network yet.
  ASSERT_TRUE(server.waitForOutput("Demo: a QA-8 added by type, not mapped", 30000)) << server.output();
  for (const char* text : {"Demo: QA-8 QA-8-", "Demo: QA-4 QA-4-", "Demo: QM-16 QM-16-"}) {
    EXPECT_NE(server.output().find(text), std::string::npos) << text << "\n" << server.output();
  }
  EXPECT_EQ(server.output().find("Demo project:"), std::string::npos) << server.output();
  server.signal(SIGINT);
  EXPECT_EQ(server.wait(30000), 0) << server.output();
}

TEST(DemoCommandTest, ClientsFindEveryDemoDeviceAmongTheDiscoveredDevices) {
  ChildProcess server({QORSERVER_PATH, "--port", "0", "--demo"});
  ASSERT_TRUE(server.waitForOutput("qorserver serving ", 30000)) << server.output();
  std::smatch m;
  const std::string started = server.output();
  ASSERT_TRUE(std::regex_search(started, m, std::regex("qorserver serving (ws://\\S+)"))) << started;
  const std::string url = m[1].str();
  std::size_t demoDevices = 0;
  for (auto at = started.find("Demo device "); at != std::string::npos; at = started.find("Demo device ", at + 1))
    ++demoDevices;
  ASSERT_GE(demoDevices, 9u);  // three of each model

  // Listed as soon as they have answered; a client polls until they are all there.
  std::size_t listed = 0;
  for (int attempt = 0; attempt < 100 && listed < demoDevices; ++attempt) {
    std::string out;
    ASSERT_EQ(runToCompletion({QORCTL_PATH, "--url", url, "index", "DiscoveredDevice"}, out), 0) << out;
    listed = nlohmann::json::parse(out)["ids"].size();
    if (listed < demoDevices) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(listed, demoDevices);

  // qorctl shows one with every field.
  std::string out;
  ASSERT_EQ(runToCompletion({QORCTL_PATH, "--url", url, "index", "DiscoveredDevice"}, out), 0) << out;
  const auto first = nlohmann::json::parse(out)["ids"][0].get<std::string>();
  ASSERT_EQ(runToCompletion({QORCTL_PATH, "--url", url, "show", first}, out), 0) << out;
  const auto shown = nlohmann::json::parse(out);
  EXPECT_EQ(shown["type"], "DiscoveredDevice");
  EXPECT_TRUE(shown["entity"]["visible"].get<bool>());
  EXPECT_FALSE(shown["entity"]["physicalDeviceId"].get<std::string>().empty());
  EXPECT_FALSE(shown["entity"]["ipaddress"].get<std::string>().empty());
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
