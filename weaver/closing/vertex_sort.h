#pragma once
// Sorting of records keyed by a vertex index and a second number (edges, faces), in linear time:
// a counting sort by the vertex, then a sort of each vertex's few records. The meshes' repairs
// sort every edge use several times, which std::sort made a large share of their time.
#include <algorithm>
#include <cstdint>
#include <vector>

namespace tervik {

namespace detail {

// Sorts each run out[begin(v) .. begin(v + 1)) by second(item), stably.
template <typename T, typename Second>
void sort_runs(std::vector<T>& out, const std::vector<std::size_t>& start, Second second) {
  const auto less = [&](const T& a, const T& b) { return second(a) < second(b); };
  for (std::size_t v = 0; v + 1 < start.size(); ++v) {
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
}

}  // namespace detail

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
  detail::sort_runs(out, start, second);
  items.swap(out);
}

// The records make(0) .. make(count - 1), sorted as sort_by_vertex sorts them, made straight
// into their places: no unsorted copy is held, which halves the memory that large tables touch.
// make(i) is called twice for each i and must return the same record both times.
template <typename T, typename Make, typename First, typename Second>
std::vector<T> sorted_by_vertex(std::size_t count, std::size_t bound, Make make, First first,
                                Second second) {
  std::vector<std::size_t> start(bound + 1, 0);
  for (std::size_t i = 0; i < count; ++i) ++start[std::size_t(first(make(i))) + 1];
  for (std::size_t v = 0; v < bound; ++v) start[v + 1] += start[v];
  std::vector<T> out(count);
  // start[v] runs through v's places; afterwards it is where v + 1's begin, and shifting it
  // back restores the beginnings.
  for (std::size_t i = 0; i < count; ++i) {
    const T t = make(i);
    out[start[std::size_t(first(t))]++] = t;
  }
  for (std::size_t v = bound; v > 0; --v) start[v] = start[v - 1];
  start[0] = 0;
  detail::sort_runs(out, start, second);
  return out;
}

// The same for records that do not hold their vertex: record i is make(i), its vertex vertex(i)
// (below `bound`). `start` receives where each vertex's records begin (start[bound] = count), so
// that the vertex of a record is the run it lies in. vertex(i) is called twice for each i, make(i)
// once.
template <typename T, typename Vertex, typename Make, typename Second>
std::vector<T> runs_by_vertex(std::size_t count, std::size_t bound, Vertex vertex, Make make, Second second,
                              std::vector<std::size_t>& start) {
  start.assign(bound + 1, 0);
  for (std::size_t i = 0; i < count; ++i) ++start[vertex(i) + 1];
  for (std::size_t v = 0; v < bound; ++v) start[v + 1] += start[v];
  std::vector<T> out(count);
  for (std::size_t i = 0; i < count; ++i) out[start[vertex(i)]++] = make(i);
  for (std::size_t v = bound; v > 0; --v) start[v] = start[v - 1];
  start[0] = 0;
  detail::sort_runs(out, start, second);
  return out;
}

}  // namespace tervik
