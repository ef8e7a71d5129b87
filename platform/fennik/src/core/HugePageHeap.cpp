#include "fennik/server/core/HugePageHeap.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <malloc.h>
#include <unistd.h>

namespace fennik::server {

namespace {
constexpr const char* TUNABLE = "glibc.malloc.hugetlb";

// Saving or opening a large show frees and takes back tens of MiB in
// buffers of a few MiB. Handed back to the system, every page of them is
// faulted in and zeroed again the next time, which on a virtual machine
// cost a third of a save. So buffers up to 32 MiB come from the heap, and up
// to 256 MiB of freed heap stay with the process.
void keepFreedHeap() {
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
}
}  // namespace

void useHugePageHeap(char** argv) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 35))
  if (const char* choice = std::getenv("QORSERVER_HEAP_PAGES"); choice && std::strcmp(choice, "default") == 0) return;
  const char* current = std::getenv("GLIBC_TUNABLES");
  // Already set, by us or by whoever started the process: keep their choice.
  if (current && std::strstr(current, TUNABLE)) {
    keepFreedHeap();
    return;
  }
  std::string tunables = current && *current ? std::string(current) + ":" : std::string();
  tunables += TUNABLE;
  tunables += "=1";
  if (setenv("GLIBC_TUNABLES", tunables.c_str(), 1) != 0) return;
  execv("/proc/self/exe", argv);
  // The restart failed (no /proc, say): carry on with the heap as it is.
  if (current) {
    setenv("GLIBC_TUNABLES", current, 1);
  } else {
    unsetenv("GLIBC_TUNABLES");
  }
  keepFreedHeap();
#else
  (void)argv;
#endif
}

}  // namespace fennik::server
