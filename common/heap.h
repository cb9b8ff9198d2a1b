#pragma once
// How the programs ask the C library's allocator to treat the large blocks they allocate and free
// frame after frame or step after step.
#include <cstddef>

namespace tervik {

// Blocks up to 32 MiB come from the heap instead of mappings of their own, and freed memory stays
// in the heap (up to `keep` bytes at its top): a block that is allocated again then reuses pages
// the process already touched instead of faulting fresh ones in. No effect outside glibc.
void keep_freed_memory(std::size_t keep);

// Grows the heap by about `bytes` now, untouched, and asks the kernel to back that stretch with
// transparent huge pages (where it does so only on request); every thread then allocates from
// this one heap (glibc would give other threads heaps of their own, which it maps in 4 KiB
// pages). A first frame that fills the heap with a few hundred megabytes of images, points and
// trees then takes one page fault per 2 MiB instead of one per 4 KiB: on a virtual machine each
// fault costs microseconds. The stretch is address space only until it is used; it takes at most
// a quarter of the limits on address space and data size (ulimit -v, -d). Call after
// keep_freed_memory(keep) with keep > bytes + 2 MiB (so that the stretch stays in the heap),
// early, before the large allocations and before any thread starts. Returns the number of bytes
// advised: 0 where the allocator is not glibc's heap (sanitizer builds, other C libraries), the
// heap did not grow, or the kernel declined (no transparent huge pages); the threads then keep
// heaps of their own.
std::size_t back_heap_with_huge_pages(std::size_t bytes);

}  // namespace tervik
