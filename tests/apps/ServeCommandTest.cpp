// qorserver started as a user starts it: it comes up on a new project, logs
// what it did, and stops cleanly on Ctrl-C (SIGINT) or SIGTERM.

#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>

namespace qor::testing {
namespace {

void expectCleanStop(int sig, const char* name) {
  ChildProcess server({QORSERVER_PATH, "--port", "0"});
  ASSERT_TRUE(server.waitForOutput("qorserver is running", 30000)) << server.output();
  EXPECT_NE(server.output().find("qorserver serving ws://127.0.0.1:"), std::string::npos) << server.output();
  // The module and the host agree on how many services joined.
  std::smatch module;
  std::smatch host;
  const std::string out = server.output();
  ASSERT_TRUE(std::regex_search(out, module, std::regex("Live-sound services registered: (\\d+)"))) << out;
  ASSERT_TRUE(std::regex_search(out, host, std::regex("Module registered: (\\d+) services"))) << out;
  EXPECT_EQ(module[1], host[1]);
  EXPECT_GE(std::stoi(module[1]), 42);
  EXPECT_NE(server.output().find("New project ready"), std::string::npos);
  server.signal(sig);
  EXPECT_EQ(server.wait(30000), 0) << server.output();
  EXPECT_NE(server.output().find(std::string("Received ") + name), std::string::npos) << server.output();
  EXPECT_NE(server.output().find("Module deregistered"), std::string::npos) << server.output();
  EXPECT_NE(server.output().find("qorserver stopped"), std::string::npos) << server.output();
}

TEST(ServeCommandTest, StartsOnANewProjectAndStopsCleanlyOnSigint) { expectCleanStop(SIGINT, "SIGINT"); }

TEST(ServeCommandTest, StopsCleanlyOnSigterm) { expectCleanStop(SIGTERM, "SIGTERM"); }

// The environment the running server process sees, one "NAME=value" per entry.
std::string environmentOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
  std::string env((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (auto& c : env) {
    if (c == '\0') c = '\n';
  }
  return env;
}

std::size_t startLines(const std::string& output) {
  const std::regex line("qorserver \\S+ starting");
  return static_cast<std::size_t>(
      std::distance(std::sregex_iterator(output.begin(), output.end(), line), std::sregex_iterator()));
}

std::string mapsOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(ServeCommandTest, RunsOnTheHeapItIsBuiltFor) {
  setenv("GLIBC_TUNABLES", "glibc.malloc.tcache_count=8", 1);
  if (QORSERVER_USES_TCMALLOC) {
    // Built with tcmalloc: it allocates, and glibc's tunables are left as
    // the user set them (no restart for them).
    ChildProcess server({QORSERVER_PATH, "--port", "0"});
    ASSERT_TRUE(server.waitForOutput("qorserver is running", 30000)) << server.output();
    EXPECT_NE(mapsOf(server.pid()).find("libtcmalloc"), std::string::npos);
    EXPECT_EQ(environmentOf(server.pid()).find("hugetlb"), std::string::npos);
    EXPECT_EQ(startLines(server.output()), 1u) << server.output();
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait(30000), 0) << server.output();
    unsetenv("GLIBC_TUNABLES");
    return;
  }
  // On glibc's allocator the server restarts itself once with the
  // huge-page tunable; a tunable the user set stays.
  {
    ChildProcess server({QORSERVER_PATH, "--port", "0"});
    ASSERT_TRUE(server.waitForOutput("qorserver is running", 30000)) << server.output();
    // glibc may split the variable at its ':' in the process's own copy, so
    // look for both tunables rather than for the joined text.
    const std::string env = environmentOf(server.pid());
    EXPECT_NE(env.find("GLIBC_TUNABLES=glibc.malloc.tcache_count=8"), std::string::npos) << env;
    EXPECT_NE(env.find("glibc.malloc.hugetlb=1"), std::string::npos) << env;
    // The restart happens before anything runs: the server starts once.
    EXPECT_EQ(startLines(server.output()), 1u) << server.output();
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait(30000), 0) << server.output();
  }
  unsetenv("GLIBC_TUNABLES");
  setenv("QORSERVER_HEAP_PAGES", "default", 1);
  ChildProcess server({QORSERVER_PATH, "--port", "0"});
  ASSERT_TRUE(server.waitForOutput("qorserver is running", 30000)) << server.output();
  EXPECT_EQ(environmentOf(server.pid()).find("GLIBC_TUNABLES"), std::string::npos);
  server.signal(SIGTERM);
  EXPECT_EQ(server.wait(30000), 0) << server.output();
  unsetenv("QORSERVER_HEAP_PAGES");
}

// The scheduling slice of one thread in nanoseconds, as the kernel reports
// it (zero on kernels that keep no slice per thread).
std::uint64_t sliceOf(pid_t tid) {
  std::uint64_t attr[7] = {sizeof attr};  // struct sched_attr, first version
  if (syscall(SYS_sched_getattr, tid, attr, sizeof attr, 0) != 0) return 0;
  return attr[3];  // sched_runtime: the slice, for the normal policy
}

// The server's threads by name, with their slices (a thread takes the name
// of the thread that started it until it names itself), once both threads
// of a request's round trip have started.
std::map<std::string, std::multiset<std::uint64_t>> threadSlicesOf(pid_t pid) {
  std::map<std::string, std::multiset<std::uint64_t>> slices;
  for (int attempt = 0; attempt < 100; ++attempt) {
    slices.clear();
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
      std::ifstream comm(task.path() / "comm");
      std::string name;
      std::getline(comm, name);
      slices[name].insert(sliceOf(static_cast<pid_t>(std::stol(task.path().filename().string()))));
    }
    if (slices.contains("event-loop") && slices.contains("ksp-network")) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return slices;
}

TEST(ServeCommandTest, ItsNetworkThreadAndEventLoopAskForShortSlices) {
  // A fader move's request and reply pass these two threads; on busy cores
  // a woken thread with the default slice waits up to a scheduler tick.
  const std::uint64_t defaultSlice = sliceOf(0);
  if (defaultSlice == 0) GTEST_SKIP() << "this kernel keeps no scheduling slice per thread";
  {
    ChildProcess server({QORSERVER_PATH, "--port", "0"});
    ASSERT_TRUE(server.waitForOutput("qorserver is running", 30000)) << server.output();
    const auto slices = threadSlicesOf(server.pid());
    ASSERT_TRUE(slices.contains("event-loop") && slices.contains("ksp-network")) << slices.size() << " threads";
    EXPECT_TRUE(slices.at("event-loop").contains(100'000));
    EXPECT_TRUE(slices.at("ksp-network").contains(100'000));
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait(30000), 0) << server.output();
  }
  // The environment can keep the kernel's default, for comparing the two.
  setenv("QORSERVER_THREAD_SLICE", "default", 1);
  ChildProcess server({QORSERVER_PATH, "--port", "0"});
  ASSERT_TRUE(server.waitForOutput("qorserver is running", 30000)) << server.output();
  const auto slices = threadSlicesOf(server.pid());
  EXPECT_TRUE(slices.at("event-loop").contains(defaultSlice));
  EXPECT_FALSE(slices.at("event-loop").contains(100'000));
  EXPECT_FALSE(slices.at("ksp-network").contains(100'000));
  server.signal(SIGTERM);
  EXPECT_EQ(server.wait(30000), 0) << server.output();
  unsetenv("QORSERVER_THREAD_SLICE");
}

TEST(ServeCommandTest, MakesItsProjectsFolderWhenMissing) {
  // On a fresh machine the projects folder does not exist yet; a client's
  // first "save as" into it must not be refused for that.
  const auto folder = std::filesystem::temp_directory_path() / ("qortest-projects-" + std::to_string(::getpid()));
  ChildProcess server({QORSERVER_PATH, "--port", "0", "--projects-folder", (folder / "shows").string()});
  ASSERT_TRUE(server.waitForOutput("qorserver is running", 30000)) << server.output();
  EXPECT_TRUE(std::filesystem::is_directory(folder / "shows")) << server.output();
  EXPECT_NE(server.output().find("Created the projects folder"), std::string::npos) << server.output();
  server.signal(SIGTERM);
  EXPECT_EQ(server.wait(30000), 0) << server.output();
  std::filesystem::remove_all(folder);
}

TEST(ServeCommandTest, HelpExplainsAndBadOptionsFail) {
  std::string out;
  EXPECT_EQ(runToCompletion({QORSERVER_PATH, "--help"}, out), 0);
  EXPECT_NE(out.find("catalogue"), std::string::npos) << out;
  EXPECT_NE(out.find("--log-level"), std::string::npos) << out;
  EXPECT_NE(runToCompletion({QORSERVER_PATH, "--log-level", "loud"}, out), 0);
  EXPECT_NE(runToCompletion({QORSERVER_PATH, "--module", "/nonexistent/module.so"}, out), 0);
  EXPECT_NE(out.find("/nonexistent/module.so"), std::string::npos) << out;
  // Serving other machines needs a token; the server says so and stops.
  EXPECT_NE(runToCompletion({QORSERVER_PATH, "--port", "0", "--listen", "0.0.0.0"}, out), 0);
  EXPECT_NE(out.find("--token"), std::string::npos) << out;
}

}  // namespace
}  // namespace qor::testing
