// Transparent huge pages under glibc's malloc: one arena, large blocks from the heap rather than
// from mappings of their own, the heap grown once by the expected amount and advised.
#include "tools/texture/huge_pages.h"

#include <cstdint>
#include <cstdlib>

#if defined(__GLIBC__) && defined(__linux__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace tervik::texture {

void prefer_huge_pages(std::size_t bytes) {
#if defined(__GLIBC__) && defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
  if (bytes < kHuge || bytes > (std::size_t(1) << 40)) return;
  // Every thread allocates from the main heap, blocks of any size included, and the heap is not
  // given back while the program runs (it ends after one frame).
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_TOP_PAD, 16 << 20);
  // Grow the heap once by `bytes`: the freed block stays at its top, untouched but for its
  // header, and is where the following allocations are carved from.
  const auto before = reinterpret_cast<std::uintptr_t>(sbrk(0));
  void* block = std::malloc(bytes);
  const auto after = reinterpret_cast<std::uintptr_t>(sbrk(0));
  std::free(block);
  const std::uintptr_t from = (before + kHuge - 1) / kHuge * kHuge, to = after / kHuge * kHuge;
  if (block != nullptr && to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
  (void)bytes;
#endif
}

}  // namespace tervik::texture
