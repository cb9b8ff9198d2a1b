#pragma once
// Transparent huge pages for the program's large buffers.
#include <cstddef>

namespace tervik::texture {

// Makes the next `bytes` of the program's allocations (the photos, silhouettes, z-buffers and
// the atlas: blocks of megabytes, each touched once or twice) come from one stretch of the heap
// on which transparent huge pages are requested, before any of it is touched. With 4 KiB pages
// the kernel's page faults on those buffers cost about as much as the texturing itself in a
// virtual machine. Only a request: where the C library is not glibc, or huge pages are off, or
// the heap cannot grow, nothing changes. Call once, early in main, from the main thread.
void prefer_huge_pages(std::size_t bytes);

}  // namespace tervik::texture
