// qorserver under conditions that used to cost a show: no descriptors left,
// a start that is refused, a save at stop that fails, working folders left
// by servers that were killed.

#include "ChildProcess.h"
#include "support/ProjectFiles.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <thread>

namespace qor::testing {
namespace {

namespace fs = std::filesystem;
using qor::server::testing::readBytes;
using qor::server::testing::ScratchFolder;

std::string portOf(const std::string& output) {
  std::smatch m;
  if (!std::regex_search(output, m, std::regex("serving ws://127\\.0\\.0\\.1:(\\d+)/ksp"))) return {};
  return m[1];
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(ServerResilienceTest, OutOfDescriptorsTheServerWaitsQuietlyAndServesAgainAfterwards) {
  // The server's own descriptor limit lowered (setrlimit through the shell's
  // ulimit), then far more plain TCP connections than it allows.
  ChildProcess server({"/bin/sh", "-c", "ulimit -n 64 && exec \"$0\" \"$@\"", QORSERVER_PATH, "--port", "0"});
  ASSERT_TRUE(server.waitForOutput("qorserver is running", 30000)) << server.output();
  const auto port = portOf(server.output());
  ASSERT_FALSE(port.empty()) << server.output();

  std::vector<int> flood;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(port)));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int i = 0; i < 120; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    flood.push_back(fd);
  }
  // The server runs out of descriptors; it must neither spin nor flood the log.
  ASSERT_TRUE(server.waitForOutput("Accept failed", 30000)) << server.output().substr(0, 4000);
  server.waitForOutput("never printed", 1500);
  EXPECT_LE(count(server.output(), "Accept failed"), 2u) << server.output().size() << " bytes of output";

  for (int fd : flood) ::close(fd);
  // Served again once the connections are gone.
  std::string out;
  const auto url = "ws://127.0.0.1:" + port + "/ksp";
  int code = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (code != 0 && std::chrono::steady_clock::now() < deadline) {
    code = runToCompletion({QORCTL_PATH, "--url", url, "project", "info"}, out);
  }
  EXPECT_EQ(code, 0) << out;
  server.signal(SIGINT);
  EXPECT_EQ(server.wait(30000), 0);
}

TEST(ServerResilienceTest, ARefusedStartCreatesNoProjectFile) {
  ScratchFolder scratch;
  std::string out;
  // Refused for its options: another address without a token.
  EXPECT_EQ(
      runToCompletion(
          {QORSERVER_PATH, "--port", "0", "--listen", "0.0.0.0", "--project", (scratch / "open.qor").string()}, out),
      1);
  EXPECT_NE(out.find("--token"), std::string::npos) << out;
  // Refused for a port another server holds.
  ChildProcess first({QORSERVER_PATH, "--port", "0"});
  ASSERT_TRUE(first.waitForOutput("qorserver is running", 30000)) << first.output();
  const auto port = portOf(first.output());
  EXPECT_EQ(runToCompletion({QORSERVER_PATH, "--port", port, "--project", (scratch / "busy.qor").string()}, out), 1);
  EXPECT_NE(out.find(port), std::string::npos) << out;
  first.signal(SIGINT);
  EXPECT_EQ(first.wait(30000), 0);
  EXPECT_TRUE(fs::is_empty(scratch.path()));
}

TEST(ServerResilienceTest, ASaveThatFailsAtStopKeepsTheLastFileAndExitsWithTheReason) {
  ScratchFolder scratch;
  fs::create_directory(scratch / "show");
  const fs::path file = scratch / "show" / "arena.qor";
  ChildProcess server({QORSERVER_PATH, "--port", "0", "--project", file.string()});
  ASSERT_TRUE(server.waitForOutput("qorserver is running", 30000)) << server.output();
  const auto saved = readBytes(file);
  // The folder goes away under the running server.
  fs::rename(scratch / "show", scratch / "moved");
  server.signal(SIGINT);
  EXPECT_NE(server.wait(30000), 0) << server.output();
  EXPECT_NE(server.output().find("could not be saved at stop"), std::string::npos) << server.output();
  EXPECT_NE(server.output().find("does not exist"), std::string::npos) << server.output();
  EXPECT_EQ(readBytes(scratch / "moved" / "arena.qor"), saved);
}

TEST(ServerResilienceTest, WorkingFoldersOfServersThatAreGoneAreRemovedAtStart) {
  // A process that has ended: its working folder is stale.
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const fs::path stale = fs::temp_directory_path() / ("qorproject-" + std::to_string(gone) + "-Xy12ab");
  const fs::path alive = fs::temp_directory_path() / ("qorproject-" + std::to_string(::getpid()) + "-Xy12ab");
  fs::create_directories(stale / "sps-file-cache");
  fs::create_directories(alive);
  ChildProcess server({QORSERVER_PATH, "--port", "0"});
  ASSERT_TRUE(server.waitForOutput("qorserver is running", 30000)) << server.output();
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(alive));  // this test still runs
  server.signal(SIGINT);
  EXPECT_EQ(server.wait(30000), 0);
  fs::remove_all(alive);
  fs::remove_all(stale);
}

}  // namespace
}  // namespace qor::testing
