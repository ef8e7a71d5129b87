#pragma once
// A short scheduling slice for the threads a user waits on.
//
// A fader move wakes the network thread, which reads it, and the event
// loop, which runs it and writes the reply. On a machine whose cores are all
// busy (metering clients, the simulated network, a browser on the same
// laptop) each of these threads, when woken, waited for the running thread's
// slice to end: up to a scheduler tick, 4 ms at HZ=250, per hop. Linux 6.12
// and later let a thread ask for a shorter slice; a woken thread with a
// shorter slice than the running one takes the core at once. Its share of
// the CPU is unchanged: it runs in shorter turns. Older kernels ignore the
// request.
//
// Setting QORSERVER_THREAD_SLICE=default in the environment leaves every
// thread with the kernel's default slice (for comparing the two).

#include <chrono>

namespace fennik::server {

// The slice the server's network thread and event loop ask for. The kernel
// takes 0.1 ms to 100 ms; its default grows with the number of cores
// (1.4 ms on the two-core machine of docs/performance.md).
constexpr std::chrono::microseconds RESPONSIVE_SLICE{100};

// Asks the kernel for the slice on the calling thread. Returns whether the
// kernel took it (false where the environment says so, on kernels that do
// not know the call, and where the kernel keeps the default slice).
bool useShortSlice(std::chrono::microseconds slice = RESPONSIVE_SLICE);

}  // namespace fennik::server
