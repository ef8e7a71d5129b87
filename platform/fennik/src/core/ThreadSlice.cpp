#include "fennik/server/core/ThreadSlice.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace fennik::server {

namespace {

// The kernel's struct sched_attr, first version (its header clashes with
// glibc's <sched.h>).
struct SchedAttr {
  std::uint32_t size = sizeof(SchedAttr);
  std::uint32_t sched_policy = 0;
  std::uint64_t sched_flags = 0;
  std::int32_t sched_nice = 0;
  std::uint32_t sched_priority = 0;
  std::uint64_t sched_runtime = 0;
  std::uint64_t sched_deadline = 0;
  std::uint64_t sched_period = 0;
};
static_assert(sizeof(SchedAttr) == 48);
constexpr std::uint64_t SCHED_RESET_ON_FORK_FLAG = 0x01;

}  // namespace

bool useShortSlice(std::chrono::microseconds slice) {
  if (const char* choice = std::getenv("QORSERVER_THREAD_SLICE"); choice && std::strcmp(choice, "default") == 0)
    return false;
  // The thread keeps its nice value (raising its priority would need a
  // privilege; the slice does not).
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  if (nice == -1 && errno != 0) return false;
  SchedAttr attr;
  attr.sched_policy = SCHED_OTHER;
  attr.sched_nice = nice;
  // Threads it starts (a save's deflater, the heap's warming) keep the
  // default: they are not waited on.
  attr.sched_flags = SCHED_RESET_ON_FORK_FLAG;
  // For the normal policy the kernel reads the runtime as the slice
  // (clamped to 0.1..100 ms).
  attr.sched_runtime = static_cast<std::uint64_t>(std::chrono::nanoseconds(slice).count());
  if (syscall(SYS_sched_setattr, 0, &attr, 0) != 0) return false;
  // Kernels before 6.12 accept the call and drop the runtime; they report
  // it back as zero.
  SchedAttr now;
  if (syscall(SYS_sched_getattr, 0, &now, sizeof now, 0) != 0) return false;
  return now.sched_runtime == std::clamp<std::uint64_t>(attr.sched_runtime, 100'000, 100'000'000);
}

}  // namespace fennik::server
