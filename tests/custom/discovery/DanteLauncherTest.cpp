// The routing application's launcher: not configured it is unavailable and
// only logs; configured it starts the program once, and a running process of
// the same name (in any letter case) keeps it from starting a second one.

#include "custom/discovery/DanteLauncher.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace qor::server {
namespace {

namespace fs = std::filesystem;
using testing::LogCapture;

constexpr const char* REGISTRY_MESSAGE = "Was not able to read registry key of DanteController";

// The pids of the stand-ins started from `folder`, by their marks.
std::vector<int> started(const fs::path& folder) {
  std::vector<int> pids;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const auto name = entry.path().filename().string();
    if (name.rfind("started-", 0) == 0) pids.push_back(std::stoi(name.substr(8)));
  }
  return pids;
}

// A started process leaves its mark in a moment; waits for it, bounded.
std::vector<int> waitForStart(const fs::path& folder) {
  for (int i = 0; i < 500 && started(folder).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return started(folder);
}

// Stops a stand-in and waits until it no longer counts as running (its
// executable link goes with it), so the next test starts from nothing.
void stop(int pid) {
  ::kill(pid, SIGTERM);
  const auto exe = fs::path("/proc") / std::to_string(pid) / "exe";
  std::error_code ec;
  for (int i = 0; i < 500; ++i) {
    (void)fs::read_symlink(exe, ec);
    if (ec) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

class DanteLauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("dante-launcher-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "installed");
    fs::create_directories(root_ / "other");
    ::unsetenv(DANTE_CONTROLLER_VARIABLE);
  }
  void TearDown() override {
    for (const auto& folder : {root_ / "installed", root_ / "other"}) {
      for (int pid : started(folder)) stop(pid);
    }
    ::unsetenv(DANTE_CONTROLLER_VARIABLE);
    fs::remove_all(root_);
  }

  fs::path install(const fs::path& folder, const std::string& name) {
    const auto path = folder / name;
    fs::copy_file(DANTE_STAND_IN, path);
    return path;
  }

  fs::path root_;
};

TEST_F(DanteLauncherTest, WithoutAConfiguredProgramItIsUnavailableAndTheLaunchOnlyLogs) {
  LogCapture log;
  EXPECT_FALSE(isDanteControllerAvailable());
  // A path that names nothing counts as not configured.
  ::setenv(DANTE_CONTROLLER_VARIABLE, (root_ / "installed" / "missing").c_str(), 1);
  EXPECT_FALSE(isDanteControllerAvailable());
  launchDanteController();
  EXPECT_TRUE(log.contains(REGISTRY_MESSAGE));
  EXPECT_FALSE(log.contains("already running"));
}

TEST_F(DanteLauncherTest, StartsTheProgramOnceAndNotWhileOneOfThatNameRuns) {
  const auto program = install(root_ / "installed", "DanteController");
  ::setenv(DANTE_CONTROLLER_VARIABLE, program.c_str(), 1);
  ASSERT_TRUE(isDanteControllerAvailable());

  LogCapture log;
  launchDanteController();
  ASSERT_EQ(waitForStart(root_ / "installed").size(), 1u);
  EXPECT_TRUE(log.contains(program.string()));  // the path it starts is logged

  launchDanteController();
  EXPECT_TRUE(log.contains("DanteController is already running!"));
  EXPECT_EQ(started(root_ / "installed").size(), 1u);
}

TEST_F(DanteLauncherTest, ARunningProcessInAnotherLetterCaseCounts) {
  // Another copy, started from elsewhere under a lower-case name.
  const auto other = install(root_ / "other", "dantecontroller");
  ::setenv(DANTE_CONTROLLER_VARIABLE, other.c_str(), 1);
  launchDanteController();
  ASSERT_EQ(waitForStart(root_ / "other").size(), 1u);

  const auto program = install(root_ / "installed", "DanteController");
  ::setenv(DANTE_CONTROLLER_VARIABLE, program.c_str(), 1);
  LogCapture log;
  launchDanteController();
  EXPECT_TRUE(log.contains("DanteController is already running!"));
  EXPECT_TRUE(started(root_ / "installed").empty());
}

}  // namespace
}  // namespace qor::server
