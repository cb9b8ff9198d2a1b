// The counting sort by vertex against the standard library's stable sort.
#include "weaver/vertex_sort.h"

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

}  // namespace
}  // namespace tervik
