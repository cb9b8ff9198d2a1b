#include "weaver/point_tree.h"

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/kdtree.h"
#include "common/patch.h"

namespace tervik {
namespace {

using Indices = std::vector<unsigned int>;

// Random patches; with `grid` > 0 the coordinates are integers in [0, grid), so that many
// patches share positions and many distances tie exactly (also with edge midpoints).
std::vector<Patch> random_patches(std::mt19937& rng, int n, int grid) {
  std::uniform_real_distribution<double> real(-1.0, 1.0);
  std::uniform_int_distribution<int> integer(0, std::max(grid - 1, 0));
  std::vector<Patch> out(n);
  for (Patch& p : out) {
    p.pos = grid > 0 ? Point3D(integer(rng), integer(rng), integer(rng))
                     : Point3D(real(rng), real(rng), real(rng));
  }
  return out;
}

// The first of the nearest points of `listed` (PointTree::kNone when it is empty).
uint32_t first_nearest(const std::vector<Patch>& pts, const Point3D& q, const Indices& listed) {
  uint32_t best = PointTree::kNone;
  for (const unsigned int k : listed)
    if (best == PointTree::kNone || dist2(pts[k].pos, q) < dist2(pts[best].pos, q)) best = k;
  return best;
}

// Both trees answer every query with the same indices in the same order, ties included.
void expect_same_answers(const std::vector<Patch>& pts, const std::vector<Point3D>& queries,
                         const std::string& what) {
  KDTree<Patch> reference(pts);
  const PointTree tree(pts);
  ASSERT_EQ(tree.size(), pts.size());
  PointTree::Scratch scratch;
  Indices want, got;
  for (const Point3D& q : queries) {
    for (unsigned k : {0u, 1u, 3u, 20u, 200u, 100000u}) {
      reference.nearest_neighbors(q, pts, want, k);
      tree.nearest(q, k, got, scratch);
      ASSERT_EQ(got, want) << what << ", k " << k;
    }
    for (double r2 : {-1.0, 0.0, 0.01, 0.5, 2.0, 9.0, 1e9}) {
      reference.neighbors(q, pts, r2, want);
      tree.within(q, r2, got);
      ASSERT_EQ(got, want) << what << ", r2 " << r2;
      ASSERT_EQ(tree.nearest_within(q, r2), first_nearest(pts, q, want)) << what << ", r2 " << r2;
    }
  }
}

TEST(PointTree, AnswersLikeTheKDTreeOnRandomCloudsWithTiesAndTwins) {
  std::mt19937 rng(23);
  for (int round = 0; round < 9; ++round) {
    const int n = 1 + static_cast<int>(rng() % 3000);
    const int grid = round % 3 == 0 ? 0 : 3 + round;
    const std::vector<Patch> pts = random_patches(rng, n, grid);
    std::vector<Point3D> queries;
    for (int i = 0; i < 20; ++i) {
      const Point3D& a = pts[rng() % n].pos;
      const Point3D& b = pts[rng() % n].pos;
      queries.push_back(a);                // a stored point
      queries.push_back(0.5 * (a + b));    // an edge midpoint, equidistant from a and b
    }
    expect_same_answers(pts, queries, "round " + std::to_string(round));
  }
}

TEST(PointTree, EmptySingleAndCoincidentSets) {
  expect_same_answers({}, {Point3D(0, 0, 0)}, "empty");
  std::vector<Patch> same(50);
  for (Patch& p : same) p.pos = Point3D(1, 2, 3);
  same[7].pos = Point3D(-0.0, 2, 3);  // not the same position
  expect_same_answers(same, {Point3D(1, 2, 3), Point3D(0, 0, 0)}, "coincident");
  expect_same_answers({same[0]}, {Point3D(1, 2, 3), Point3D(5, 5, 5)}, "single");
}

// NaN coordinates (a corrupt file) leave the candidate list unordered; the answers still match.
TEST(PointTree, NaNPositionsAnswerLikeTheKDTree) {
  std::mt19937 rng(31);
  std::vector<Patch> pts = random_patches(rng, 500, 6);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int i = 0; i < 500; i += 37) pts[i].pos.y = nan;
  expect_same_answers(pts, {pts[1].pos, pts[2].pos, Point3D(nan, 0, 0), Point3D(3, 3, 3)},
                      "nan");
}

// Large ranges are split on several threads: node for node the tree of one thread, ties and
// twins included.
TEST(PointTree, BuiltOnThreadsIsTheSameTree) {
  std::mt19937 rng(43);
  for (int grid : {0, 40}) {
    const std::vector<Patch> pts = random_patches(rng, 100001, grid);
    PointTree one(pts, 1);
    const std::vector<uint32_t> order = one.renumber();
    for (unsigned threads : {2u, 3u, 8u}) {
      PointTree many(pts, threads);
      ASSERT_EQ(many.renumber(), order) << threads;
      for (uint32_t i = 0; i < pts.size(); i += 997) EXPECT_EQ(many.position(i), one.position(i));
      PointTree::Scratch a, b;
      Indices want, got;
      for (int q = 0; q < 50; ++q) {
        const Point3D& at = pts[rng() % pts.size()].pos;
        one.nearest(at, 20, want, a);
        many.nearest(at, 20, got, b);
        ASSERT_EQ(got, want);
      }
    }
  }
}

// Queries from several threads, each with its own scratch, give the one-thread answers.
TEST(PointTree, ConcurrentQueriesWithOwnScratch) {
  std::mt19937 rng(41);
  const std::vector<Patch> pts = random_patches(rng, 5000, 0);
  const PointTree tree(pts);
  std::vector<Point3D> queries;
  for (int i = 0; i < 400; ++i) queries.push_back(pts[rng() % pts.size()].pos);
  std::vector<Indices> want(queries.size()), got(queries.size());
  PointTree::Scratch scratch;
  for (std::size_t i = 0; i < queries.size(); ++i) tree.nearest(queries[i], 30, want[i], scratch);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      PointTree::Scratch own;
      for (std::size_t i = t; i < queries.size(); i += 4) tree.nearest(queries[i], 30, got[i], own);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(got, want);
}

// Renumbered, the tree answers in node numbers: mapped back through the returned table they
// are the original answers, in the same order; positions follow the new numbers.
TEST(PointTree, RenumberedAnswersMapBackToTheOriginalOnes) {
  std::mt19937 rng(53);
  const std::vector<Patch> pts = random_patches(rng, 2000, 9);
  KDTree<Patch> reference(pts);
  PointTree tree(pts);
  const std::vector<uint32_t> original = tree.renumber();
  ASSERT_EQ(original.size(), pts.size());
  std::vector<bool> seen(pts.size(), false);
  for (uint32_t i = 0; i < original.size(); ++i) {
    ASSERT_FALSE(seen[original[i]]);
    seen[original[i]] = true;
    ASSERT_EQ(tree.position(i), pts[original[i]].pos);
  }
  PointTree::Scratch scratch;
  Indices want, got;
  for (int i = 0; i < 100; ++i) {
    const Point3D q = 0.5 * (pts[rng() % pts.size()].pos + pts[rng() % pts.size()].pos);
    reference.nearest_neighbors(q, pts, want, 40);
    tree.nearest(q, 40, got, scratch);
    for (unsigned int& g : got) g = original[g];
    ASSERT_EQ(got, want);
    reference.neighbors(q, pts, 2.0, want);
    tree.within(q, 2.0, got);
    for (unsigned int& g : got) g = original[g];
    ASSERT_EQ(got, want);
  }
}

// Successive queries with the same k are bounded by the previous answer; on clouds full of
// exact ties, twins and far jumps between queries the answers stay those of the KDTree.
TEST(PointTree, SuccessiveQueriesAnswerLikeTheKDTree) {
  std::mt19937 rng(61);
  for (int grid : {0, 5, 12}) {
    const std::vector<Patch> pts = random_patches(rng, 3000, grid);
    KDTree<Patch> reference(pts);
    const PointTree tree(pts);
    PointTree::Scratch scratch;
    Indices want, got;
    for (unsigned k : {1u, 3u, 20u, 200u}) {
      Point3D q = pts[0].pos;
      for (int i = 0; i < 300; ++i) {
        // Mostly small steps between edge midpoints, now and then a jump.
        const Point3D& a = pts[rng() % pts.size()].pos;
        q = i % 37 == 0 ? a : 0.5 * (q + a);
        if (i % 3 == 0) q = 0.5 * (pts[rng() % pts.size()].pos + pts[rng() % pts.size()].pos);
        reference.nearest_neighbors(q, pts, want, k);
        tree.nearest(q, k, got, scratch);
        ASSERT_EQ(got, want) << "grid " << grid << " k " << k << " query " << i;
      }
    }
  }
}

}  // namespace
}  // namespace tervik
