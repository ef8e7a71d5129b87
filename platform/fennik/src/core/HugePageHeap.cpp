#include "fennik/server/core/HugePageHeap.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

namespace fennik::server {

namespace {
constexpr const char* TUNABLE = "glibc.malloc.hugetlb";
}

void useHugePageHeap(char** argv) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 35))
  if (const char* choice = std::getenv("QORSERVER_HEAP_PAGES"); choice && std::strcmp(choice, "default") == 0) return;
  const char* current = std::getenv("GLIBC_TUNABLES");
  // Already set, by us or by whoever started the process: keep their choice.
  if (current && std::strstr(current, TUNABLE)) return;
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
#else
  (void)argv;
#endif
}

}  // namespace fennik::server
