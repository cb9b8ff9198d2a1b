// Tests of the stored radius neighbourhoods shared by the normals and the smoothing.
#include "sculptor/neighbourhoods.h"

#include <algorithm>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "common/kdtree.h"

namespace tervik {
namespace {

using Indices = std::vector<std::uint32_t>;

// `n` patches on a noisy unit sphere, with a few exact duplicates.
std::vector<Patch> shell(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> g(0.0, 1.0);
  std::vector<Patch> out;
  for (int i = 0; i < n; ++i) {
    if (i % 97 == 5) {
      out.push_back(out.back());
      continue;
    }
    Point3D p(g(rng), g(rng), g(rng));
    p = p * ((1.0 + 0.01 * g(rng)) / norm(p));
    out.push_back(Patch{p, p});
  }
  return out;
}

// Every list holds exactly the patches within the radius (brute force), in the order of a
// KD-tree radius query, for every thread count; also when the radius takes in the whole set
// and the lists are found again on request instead of being stored.
TEST(Neighbourhoods, ListsAreTheTreeQueriesForEveryThreadCount) {
  for (int n : {0, 1, 700, 5000}) {
    const std::vector<Patch> pts = shell(n, 3 + n);
    const KDTree<Patch> tree(pts);
    for (double r : {0.05, 0.12, 2.5}) {
      // With r = 2.5 every patch is everyone's neighbour: 700 patches show the unstored lists.
      if (r > 1.0 && n > 700) continue;
      const double r2 = r * r;
      for (unsigned threads : {1u, 2u, 5u}) {
        SCOPED_TRACE(::testing::Message() << n << " patches, r " << r << ", " << threads
                                          << " threads");
        Neighbourhoods near;
        near.build(pts, r2, threads);
        ASSERT_EQ(near.size(), pts.size());
        EXPECT_EQ(near.stored(), r < 1.0 || n < 65);
        std::vector<unsigned int> want;
        Indices scratch, sorted, brute;
        for (std::size_t i = 0; i < pts.size(); ++i) {
          const auto list = near.of(i, pts, scratch);
          tree.neighbors(pts[i].pos, pts, r2, want);
          ASSERT_TRUE(std::equal(list.begin(), list.end(), want.begin(), want.end())) << i;
          if (i % 50 != 0) continue;
          brute.clear();
          for (std::uint32_t k = 0; k < pts.size(); ++k)
            if (dist2(pts[i].pos, pts[k].pos) < r2) brute.push_back(k);
          sorted.assign(list.begin(), list.end());
          std::sort(sorted.begin(), sorted.end());
          ASSERT_EQ(sorted, brute) << i;
        }
      }
    }
  }
}

// The lists of `near` are exactly the tree's radius queries, in their order, and patch(k) visits
// every patch once.
void expect_tree_lists(const Neighbourhoods& near, const std::vector<Patch>& pts, double r2) {
  const KDTree<Patch> tree(pts);
  std::vector<unsigned int> want;
  Indices scratch;
  std::vector<char> seen(pts.size(), 0);
  for (std::size_t k = 0; k < pts.size(); ++k) {
    const std::uint32_t i = near.patch(k);
    ASSERT_LT(i, pts.size());
    EXPECT_EQ(seen[i]++, 0) << i;
    const auto list = near.of(i, pts, scratch);
    tree.neighbors(pts[i].pos, pts, r2, want);
    ASSERT_TRUE(std::equal(list.begin(), list.end(), want.begin(), want.end())) << i;
  }
}

// Points on a lattice (coordinates equal to the split values, neighbours at exactly the radius,
// stacked duplicates) and points snapped to a coarse grid: the grouped walks must settle every
// tie as the single queries do.
TEST(Neighbourhoods, TiesOnSplitsAndAtTheRadiusGiveTheTreeLists) {
  std::vector<Patch> lattice;
  for (int x = 0; x < 9; ++x)
    for (int y = 0; y < 7; ++y)
      for (int z = 0; z < 5; ++z) {
        const Point3D p(0.5 * x, 0.5 * y, 0.5 * z);
        lattice.push_back(Patch{p, p});
        if ((x + y + z) % 11 == 0) lattice.push_back(Patch{p, p});
      }
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> cell(0, 6);
  std::vector<Patch> snapped;
  for (int i = 0; i < 1500; ++i) {
    const Point3D p(0.25 * cell(rng), 0.25 * cell(rng), 0.25 * cell(rng));
    snapped.push_back(Patch{p, p});
  }
  for (const std::vector<Patch>* pts : {&lattice, &snapped}) {
    for (double r2 : {0.0625, 0.25, 0.26}) {
      for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(::testing::Message() << pts->size() << " patches, r2 " << r2 << ", "
                                          << threads << " threads");
        Neighbourhoods near;
        near.build(*pts, r2, threads);
        expect_tree_lists(near, *pts, r2);
      }
    }
  }
}

// Whether the lists are stored depends on their mean length over the whole set: a dense cluster
// whose own lists are far longer than the mean allowed (300 patches within the radius of each
// other, 90000 entries in one block) is stored with the rest.
TEST(Neighbourhoods, StoringDependsOnTheMeanOverTheWholeSet) {
  std::vector<Patch> pts = shell(1700, 9);
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> u(-0.01, 0.01);
  for (int i = 0; i < 300; ++i) {
    const Point3D p(3 + u(rng), u(rng), u(rng));
    pts.push_back(Patch{p, p});
  }
  for (unsigned threads : {1u, 2u}) {
    Neighbourhoods near;
    near.build(pts, 0.05 * 0.05, threads);
    EXPECT_TRUE(near.stored());
    expect_tree_lists(near, pts, 0.05 * 0.05);
    // A third more in the cluster take the mean past the limit.
    std::vector<Patch> more = pts;
    for (int i = 0; i < 100; ++i) more.push_back(pts[1700 + i]);
    near.build(more, 0.05 * 0.05, threads);
    EXPECT_FALSE(near.stored());
    expect_tree_lists(near, more, 0.05 * 0.05);
  }
}

// A rebuild over a smaller set replaces every list.
TEST(Neighbourhoods, RebuildReplacesTheLists) {
  Neighbourhoods near;
  near.build(shell(3000, 1), 0.01, 2);
  const std::vector<Patch> fewer = shell(1500, 2);
  near.build(fewer, 0.01, 2);
  ASSERT_EQ(near.size(), 1500u);
  const KDTree<Patch> tree(fewer);
  std::vector<unsigned int> want;
  Indices scratch;
  for (std::size_t i = 0; i < fewer.size(); ++i) {
    const auto list = near.of(i, fewer, scratch);
    tree.neighbors(fewer[i].pos, fewer, 0.01, want);
    ASSERT_TRUE(std::equal(list.begin(), list.end(), want.begin(), want.end())) << i;
  }
}

}  // namespace
}  // namespace tervik
