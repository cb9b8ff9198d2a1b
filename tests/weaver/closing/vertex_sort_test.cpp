// The counting sort by vertex against the standard library's stable sort.
#include "weaver/closing/vertex_sort.h"

#include <random>
#include <tuple>

#include <gtest/gtest.h>

namespace tervik {
namespace {

TEST(VertexSort, SameOrderAsStableSortIncludingTiesAndCrowdedVertices) {
  std::mt19937 rng(11);
  // (vertex, second key, original position); vertex 3 gets many records (the bucket sort).
  std::vector<std::tuple<long, long, int>> items;
  for (int i = 0; i < 2000; ++i) {
    const long v = i % 5 == 0 ? 3 : long(rng() % 400);
    items.emplace_back(v, long(rng() % 7), i);
  }
  auto expected = items;
  std::stable_sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
    return std::get<0>(a) != std::get<0>(b) ? std::get<0>(a) < std::get<0>(b)
                                            : std::get<1>(a) < std::get<1>(b);
  });
  sort_by_vertex(items, 400, [](const auto& t) { return std::get<0>(t); },
                 [](const auto& t) { return std::get<1>(t); });
  EXPECT_EQ(items, expected);
}

TEST(VertexSort, RecordsMadeInPlaceComeOutAsSortingThemAfterwards) {
  using Record = std::tuple<long, long, int>;  // vertex, second key, original position
  std::mt19937 rng(12);
  std::vector<Record> made;
  for (int i = 0; i < 3000; ++i) made.emplace_back(i % 7 == 0 ? 5 : long(rng() % 300), long(rng() % 9), i);
  const auto make = [&](std::size_t i) { return made[i]; };
  const auto first = [](const Record& t) { return std::get<0>(t); };
  const auto second = [](const Record& t) { return std::get<1>(t); };
  auto expected = made;
  sort_by_vertex(expected, 300, first, second);
  EXPECT_EQ(sorted_by_vertex<Record>(made.size(), 300, make, first, second), expected);
}

}  // namespace
}  // namespace tervik
