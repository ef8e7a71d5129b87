#include "ChildProcess.h"

#include <chrono>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qor::testing {

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  // Built before the fork: the tests run servers on other threads, and a
  // child of a threaded process may only make async-signal-safe calls until
  // it execs (an allocation there can wait forever for a lock that another
  // thread held at the moment of the fork).
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(fds[1], STDOUT_FILENO);
    dup2(fds[1], STDERR_FILENO);
    close(fds[0]);
    close(fds[1]);
    execv(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  fd_ = fds[0];
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (fd_ >= 0) close(fd_);
}

bool ChildProcess::readSome(int timeoutMs) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return false;
  char buffer[4096];
  ssize_t n = read(fd_, buffer, sizeof buffer);
  if (n <= 0) return false;
  output_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

bool ChildProcess::waitForOutput(const std::string& text, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (output_.find(text) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    if (!readSome(static_cast<int>(left.count())) && std::chrono::steady_clock::now() >= deadline) return false;
  }
  return true;
}

void ChildProcess::signal(int sig) {
  if (pid_ > 0) kill(pid_, sig);
}

int ChildProcess::wait(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    readSome(20);
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      while (readSome(0)) {
      }
      pid_ = -1;
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
      return -1;
    }
  }
  return -1;
}

int runToCompletion(const std::vector<std::string>& argv, std::string& output, int timeoutMs) {
  ChildProcess child(argv);
  int rc = child.wait(timeoutMs);
  output = child.output();
  return rc;
}

}  // namespace qor::testing
