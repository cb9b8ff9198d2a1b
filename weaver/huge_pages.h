#pragma once
// Large arrays that the mesher reads at random (the tree's nodes, the edge rows, the points)
// are asked to live on huge pages: at a million points they span tens of megabytes, and with
// small pages most of their reads would also miss the address-translation cache.
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tervik {

// Advises the kernel to back the 2 MiB pages lying wholly inside [p, p + bytes) with huge pages
// where it can; a hint only (nothing changes where the kernel declines).
inline void advise_huge_pages(const void* p, std::size_t bytes) {
  constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
  const auto begin = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t last = (begin + bytes) & ~(kHuge - 1);
  if (last > first) {
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
}

// Gives v room for n elements, advised onto huge pages before any of them is written.
template <typename T>
void reserve_on_huge_pages(std::vector<T>& v, std::size_t n) {
  v.reserve(n);
  advise_huge_pages(v.data(), v.capacity() * sizeof(T));
}

}  // namespace tervik
