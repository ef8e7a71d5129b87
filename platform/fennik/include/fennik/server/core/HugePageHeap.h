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
// Where the system does not offer transparent huge pages the tunable does
// nothing. Setting QORSERVER_HEAP_PAGES=default in the environment keeps the
// process as it was started.

namespace fennik::server {

// Call first in main(), before any thread starts or file is opened. Returns
// only when the process keeps running as it is (the tunable is already set,
// the restart was refused, or the platform has no such tunable).
void useHugePageHeap(char** argv);

}  // namespace fennik::server
