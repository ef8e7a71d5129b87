#include "custom/discovery/DanteLauncher.h"
#include "fennik/server/core/AsciiCase.h"

#include "fennik/server/core/Logging.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

namespace qor::server {

namespace {

namespace fs = std::filesystem;

auto launcherLog() { return fennik::server::getLogger(fennik::server::MODULE_LOGGER); }

// The configured executable, when it is a file we may run.
std::optional<std::string> locateDanteController() {
  const char* configured = std::getenv(DANTE_CONTROLLER_VARIABLE);
  if (!configured || !*configured) return std::nullopt;
  struct stat info {};
  if (::stat(configured, &info) != 0 || !S_ISREG(info.st_mode) || ::access(configured, X_OK) != 0) return std::nullopt;
  return std::string(configured);
}

// The base name of every process's executable; processes we may not look
// into are skipped.
bool isProcessRunning(const std::string& executableName) {
  const std::string wanted = fennik::server::asciiLower(executableName);
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const auto pidText = entry.path().filename().string();
    if (pidText.empty() || !std::all_of(pidText.begin(), pidText.end(), ::isdigit)) continue;
    std::error_code linkError;
    const auto exe = fs::read_symlink(entry.path() / "exe", linkError);
    if (linkError) continue;
    auto name = exe.filename().string();
    // A replaced executable shows as "name (deleted)".
    if (const auto mark = name.find(" (deleted)"); mark != std::string::npos) name.resize(mark);
    if (fennik::server::asciiLower(name) == wanted) return true;
  }
  return false;
}

// Starts the program detached: an intermediate child forks it and exits at
// once, so nothing is left for us to reap.
void startDetachedProcess(const std::string& path) {
  std::vector<char> program(path.begin(), path.end());
  program.push_back('\0');
  char* argv[] = {program.data(), nullptr};
  const pid_t child = ::fork();
  if (child < 0) return;
  if (child == 0) {
    ::setsid();
    if (::fork() == 0) {
      ::execv(program.data(), argv);
      ::_exit(127);
    }
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
}

}  // namespace

bool isDanteControllerAvailable() {
  if (locateDanteController()) return true;
  launcherLog()->error("Was not able to read registry key of DanteController");
  return false;
}

void launchDanteController() {
  const auto path = locateDanteController();
  if (!path) {
    launcherLog()->error("Was not able to read registry key of DanteController");
    return;
  }
  launcherLog()->info("{}", *path);
  if (isProcessRunning(fs::path(*path).filename().string())) {
    launcherLog()->info("DanteController is already running!");
    return;
  }
  startDetachedProcess(*path);
}

}  // namespace qor::server
