// Stands in for the routing application in the launcher's tests: leaves a
// mark "started-<pid>" beside its executable and waits to be stopped.

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

int main() {
  const auto self = std::filesystem::read_symlink("/proc/self/exe");
  std::ofstream(self.parent_path() / ("started-" + std::to_string(::getpid()))) << "started\n";
  // Never outlives a test run that forgot it.
  std::this_thread::sleep_for(std::chrono::seconds(60));
  return 0;
}
