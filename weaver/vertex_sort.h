#pragma once
// Sorting of records keyed by a vertex index and a second number (edges, faces), in linear time:
// a counting sort by the vertex, then a sort of each vertex's few records. The meshes' repairs
// sort every edge use several times, which std::sort made a large share of their time.
#include <algorithm>
#include <cstdint>
#include <vector>

namespace tervik {

// Sorts `items` by (first(item), second(item)), stably: items with equal keys keep their order.
// first(item) must be below `bound`.
template <typename T, typename First, typename Second>
void sort_by_vertex(std::vector<T>& items, std::size_t bound, First first, Second second) {
  std::vector<std::size_t> start(bound + 1, 0);
  for (const T& t : items) ++start[std::size_t(first(t)) + 1];
  for (std::size_t v = 0; v < bound; ++v) start[v + 1] += start[v];
  std::vector<T> out(items.size());
  {
    std::vector<std::size_t> next(start.begin(), start.end() - 1);
    for (const T& t : items) out[next[std::size_t(first(t))]++] = t;
  }
  const auto less = [&](const T& a, const T& b) { return second(a) < second(b); };
  for (std::size_t v = 0; v < bound; ++v) {
    const auto lo = out.begin() + std::ptrdiff_t(start[v]), hi = out.begin() + std::ptrdiff_t(start[v + 1]);
    if (hi - lo < 2) continue;
    if (hi - lo <= 32) {
      // Insertion sort: a vertex has a handful of records.
      for (auto i = lo + 1; i != hi; ++i)
        for (auto j = i; j != lo && less(*j, *(j - 1)); --j) std::iter_swap(j, j - 1);
    } else {
      std::stable_sort(lo, hi, less);
    }
  }
  items.swap(out);
}

}  // namespace tervik
