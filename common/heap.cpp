#include "common/heap.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#if defined(__linux__) && defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace tervik {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Blocks above this size get mappings of their own.
constexpr std::size_t kMappedBlocks = std::size_t{32} << 20;
// glibc's padding of every heap growth, restored after the large one.
constexpr int kDefaultTopPad = 128 << 10;

}  // namespace

void keep_freed_memory(std::size_t keep) {
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(kMappedBlocks));
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(std::min<std::size_t>(keep, std::size_t{1} << 30)));
#else
  (void)keep;
#endif
}

std::size_t back_heap_with_huge_pages(std::size_t bytes) {
#if defined(__linux__) && defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(__SANITIZE_THREAD__)
  bytes = std::min<std::size_t>(bytes, std::size_t{1} << 30);
  // The stretch counts against the limits on address space and data size: it takes at most a
  // quarter of them, so that a run the limits admit still fits.
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit limit{};
    if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
      bytes = std::min<std::size_t>(bytes, limit.rlim_cur / 4);
  }
  if (bytes < 2 * kHugePage) return 0;
  // A block larger than the heap's free top makes the allocator grow the heap by the block plus
  // the padding; freed, it joins the top, which stays below the trim threshold.
  const std::size_t probe_size = mallinfo2().keepcost + kHugePage;
  if (probe_size >= kMappedBlocks) return 0;
  const auto before = reinterpret_cast<std::uintptr_t>(sbrk(0));
  mallopt(M_TOP_PAD, static_cast<int>(bytes));
  void* volatile probe = std::malloc(probe_size);  // volatile: the pair must stay
  std::free(probe);
  mallopt(M_TOP_PAD, kDefaultTopPad);
  const auto after = reinterpret_cast<std::uintptr_t>(sbrk(0));
  const std::uintptr_t begin = (before + kHugePage - 1) & ~(kHugePage - 1);
  if (before == static_cast<std::uintptr_t>(-1) || after <= begin + kHugePage) return 0;
  const std::size_t length = after - begin;
  if (madvise(reinterpret_cast<void*>(begin), length, MADV_HUGEPAGE) != 0) return 0;
  // The threads' blocks come from the advised heap too; the programs' threads allocate little
  // while they work (a few buffers per piece of work), so they seldom wait for each other here.
  mallopt(M_ARENA_MAX, 1);
  return length;
#else
  (void)bytes;
  return 0;
#endif
}

}  // namespace tervik
