#pragma once
// Runs a program of the build as a child process with its output in a pipe,
// so the tests use the programs exactly as a person at a shell would.

#include <csignal>
#include <string>
#include <vector>

#include <sys/types.h>

namespace qor::testing {

class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads output (stdout and stderr together) until it contains `text` or the
  // timeout passes; returns whether it appeared.
  bool waitForOutput(const std::string& text, int timeoutMs);
  const std::string& output() const { return output_; }
  void signal(int sig);
  pid_t pid() const { return pid_; }
  // Waits for the exit and reads the rest of the output; -1 on timeout
  // (the child is then killed), 128+N when killed by signal N.
  int wait(int timeoutMs);

 private:
  bool readSome(int timeoutMs);

  pid_t pid_ = -1;
  int fd_ = -1;
  std::string output_;
};

// Runs to completion; returns the exit code and fills stdout.
int runToCompletion(const std::vector<std::string>& argv, std::string& output, int timeoutMs = 60000);

}  // namespace qor::testing
