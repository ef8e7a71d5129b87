#pragma once
// Puts the process's heap on transparent huge pages.
//
// A live show keeps hundreds of megabytes in small objects (entities, their
// signals, the simulated drivers). With 4 KiB pages every new page of heap
// costs a page fault, and on virtual machines a fault costs microseconds, so
// making or opening devices on fresh memory took several times as long as on
// reused memory; walking a large heap also misses the TLB on nearly every
// entity. glibc (2.35 and later) madvises its heap as huge pages when the
// tunable "glibc.malloc.hugetlb=1" is set, but reads tunables only when a
// process starts: the process therefore restarts itself once, with the same
// arguments and the tunable added to GLIBC_TUNABLES.
//
// Freed heap is kept too (buffers up to 32 MiB come from the heap, up to
// 256 MiB of it stay with the process): saving and opening a large show free
// and take back tens of MiB, and faulting them in again cost a third of a
// save on a virtual machine.
//
// Where the process allocates with tcmalloc (the server and the benches link
// it) none of this applies: the call returns at once and only the warming
// below is left.
//
// Where the system does not offer transparent huge pages the tunable does
// nothing. Setting QORSERVER_HEAP_PAGES=default in the environment keeps the
// process as it was started.

#include <cstddef>
#include <memory>

namespace fennik::server {

// Call first in main(), before any thread starts or file is opened. Returns
// only when the process keeps running as it is (the tunable is already set,
// the restart was refused, or the platform has no such tunable).
void useHugePageHeap(char** argv);

// Warms `bytes` of heap on a second core while the calling thread goes on:
// the memory is taken on the calling thread (so it comes from that thread's
// heap), a thread of its own touches every page of it and gives it back,
// and the calling thread's next allocations find it faulted in. Opening a
// show builds a few hundred MiB of new entities, drivers and connections
// while the running show is still there; on a virtual machine zeroing each
// fresh page took a third of the open. Does nothing where the heap does not
// keep freed memory (useHugePageHeap) or there is no second core; at most
// 192 MiB, so the freed memory stays below the heap's trim threshold. The
// warming is waited for when the returned object goes.
class HeapWarming {
 public:
  virtual ~HeapWarming() = default;
};
std::unique_ptr<HeapWarming> warmHeap(std::size_t bytes);

// What the server warms on its loop thread when it starts. The first devices
// a user makes on a fresh server otherwise run on fresh pages: making a
// hundred amplifiers (about 25 MiB) took twice as long the first time as
// later. 64 MiB covers a few hundred amplifiers; a larger show comes from an
// open, which warms its own.
constexpr std::size_t START_WARM_BYTES = 64u << 20;

}  // namespace fennik::server
