#include "fennik/server/core/HugePageHeap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>
#include <unistd.h>

namespace fennik::server {

namespace {
constexpr const char* TUNABLE = "glibc.malloc.hugetlb";
constexpr std::size_t MMAP_THRESHOLD = 32u << 20;
constexpr std::size_t TRIM_THRESHOLD = 256u << 20;
bool freedHeapKept = false;

// Saving or opening a large show frees and takes back tens of MiB in
// buffers of a few MiB. Handed back to the system, every page of them is
// faulted in and zeroed again the next time, which on a virtual machine
// cost a third of a save. So buffers up to 32 MiB come from the heap, and up
// to 256 MiB of freed heap stay with the process.
void keepFreedHeap() {
  freedHeapKept = mallopt(M_MMAP_THRESHOLD, MMAP_THRESHOLD) == 1 && mallopt(M_TRIM_THRESHOLD, TRIM_THRESHOLD) == 1;
}

// Blocks below the mmap threshold come from the heap and go back to it.
constexpr std::size_t WARM_BLOCK = 16u << 20;
constexpr std::size_t MAX_WARM = 192u << 20;

class Warming final : public HeapWarming {
 public:
  explicit Warming(std::size_t bytes) {
    const long page = sysconf(_SC_PAGESIZE);
    const std::size_t step = page > 0 ? static_cast<std::size_t>(page) : 4096;
    std::vector<char*> blocks;
    for (std::size_t taken = 0; taken < bytes; taken += WARM_BLOCK) {
      if (char* block = static_cast<char*>(std::malloc(WARM_BLOCK))) blocks.push_back(block);
    }
    try {
      thread_ = std::thread([blocks, step] {
        pthread_setname_np(pthread_self(), "heap-warming");
        for (char* block : blocks) {
          for (std::size_t at = 0; at < WARM_BLOCK; at += step) static_cast<volatile char*>(block)[at] = 0;
          std::free(block);
        }
      });
    } catch (const std::system_error&) {
      for (char* block : blocks) std::free(block);  // no thread to be had
    }
  }
  ~Warming() override {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};
}  // namespace

std::unique_ptr<HeapWarming> warmHeap(std::size_t bytes) {
  if (!freedHeapKept || bytes == 0 || std::thread::hardware_concurrency() < 2) return nullptr;
  return std::make_unique<Warming>(std::min(bytes, MAX_WARM));
}

// Whether the process allocates with tcmalloc (the server links it): glibc's
// tunables and settings then concern an allocator nobody uses, and
// tcmalloc keeps freed memory for reuse by itself.
static bool tcmallocAllocates() { return dlsym(RTLD_DEFAULT, "tc_version") != nullptr; }

void useHugePageHeap(char** argv) {
  if (tcmallocAllocates()) {
    freedHeapKept = true;
    return;
  }
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
