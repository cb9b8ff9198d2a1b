#include "common/kdtree.h"

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/patch.h"
#include "tervik/exceptions.h"

namespace tervik {
namespace {

using Indices = std::vector<unsigned int>;

std::vector<Patch> patches_at(const std::vector<Point3D>& positions) {
  std::vector<Patch> out;
  for (const Point3D& p : positions) out.push_back(Patch{p, {0, 0, 1}});
  return out;
}

// Random patches; with `grid` > 0 the coordinates are integers in [0, grid), so that many
// patches share positions, coordinates and distances.
std::vector<Patch> random_patches(std::mt19937& rng, int n, int grid) {
  std::uniform_real_distribution<double> real(-1.0, 1.0);
  std::uniform_int_distribution<int> integer(0, std::max(grid - 1, 0));
  std::vector<Point3D> pos;
  for (int i = 0; i < n; ++i) {
    if (grid > 0) {
      pos.emplace_back(integer(rng), integer(rng), integer(rng));
    } else {
      pos.emplace_back(real(rng), real(rng), real(rng));
    }
  }
  return patches_at(pos);
}

// Checks a k-nearest result against brute force: min(k, n) distinct valid indices, distances
// ascending, and the same distances as the k smallest of the whole set.
void expect_nearest(const std::vector<Patch>& pts, const Point3D& q, unsigned k,
                    const Indices& got, const std::string& what) {
  std::vector<double> all;
  for (const Patch& p : pts) all.push_back(dist2(q, p.pos));
  std::sort(all.begin(), all.end());
  const size_t want = std::min<size_t>(k, pts.size());
  ASSERT_EQ(got.size(), want) << what;
  std::set<unsigned> seen;
  for (size_t i = 0; i < got.size(); ++i) {
    ASSERT_LT(got[i], pts.size()) << what;
    EXPECT_TRUE(seen.insert(got[i]).second) << what << ": index " << got[i] << " twice";
    EXPECT_EQ(dist2(q, pts[got[i]].pos), all[i]) << what << ", rank " << i;
  }
}

// Checks a radius result against brute force: exactly the indices with distance below r2.
void expect_radius(const std::vector<Patch>& pts, const Point3D& q, double r2, Indices got,
                   const std::string& what) {
  Indices want;
  for (unsigned i = 0; i < pts.size(); ++i) {
    if (dist2(q, pts[i].pos) < r2) want.push_back(i);
  }
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, want) << what;
}

TEST(KDTree, QueriesMatchBruteForceOnRandomSets) {
  std::mt19937 rng(20261207);
  std::uniform_real_distribution<double> coord(-1.2, 1.2);
  Indices out;
  for (int set = 0; set < 120; ++set) {
    const int n = 1 + set * 7 % 300;
    const int grid = set % 3 == 0 ? 0 : (set % 3 == 1 ? 3 : 6);
    const std::vector<Patch> pts = random_patches(rng, n, grid);
    KDTree<Patch> tree(pts);
    EXPECT_EQ(tree.size(), static_cast<uint32_t>(n));
    for (int query = 0; query < 20; ++query) {
      const std::string what = "set " + std::to_string(set) + " query " + std::to_string(query);
      // Every other query sits on a stored patch.
      const Point3D q = query % 2 ? pts[query % n].pos
                                  : (grid ? Point3D(std::round(coord(rng) * grid),
                                                    std::round(coord(rng) * grid), 0.5)
                                          : Point3D(coord(rng), coord(rng), coord(rng)));
      for (unsigned k : {1u, 2u, 10u, static_cast<unsigned>(n), static_cast<unsigned>(n) + 5}) {
        tree.nearest_neighbors(q, pts, out, k);
        expect_nearest(pts, q, k, out, what + " k " + std::to_string(k));
        if (query % 2) {
          EXPECT_EQ(dist2(q, pts[out[0]].pos), 0.0) << what;
        }
      }
      const double scale = grid ? grid * grid : 1.0;
      for (double r2 : {0.01 * scale, 0.1 * scale, 1.0 * scale, 10.0 * scale}) {
        tree.neighbors(q, pts, r2, out);
        expect_radius(pts, q, r2, out, what + " r2 " + std::to_string(r2));
      }
      // On the integer grid distances are exact integers: r2 equal to one of them excludes it.
      if (grid) {
        const double exact = dist2(q, pts[(query * 13) % n].pos);
        tree.neighbors(q, pts, exact, out);
        expect_radius(pts, q, exact, out, what + " exact r2");
        for (unsigned i : out) EXPECT_LT(dist2(q, pts[i].pos), exact) << what;
      }
    }
  }
}

// The radius query walk without any pruning beyond the split plane: the node's element, the
// query's side, then the other side when the plane is nearer than the radius.
void plain_walk(const KDTree<Patch>& tree, uint32_t node, const std::vector<Patch>& pts,
                const Point3D& q, double r2, Indices& out) {
  while (node != KDTree<Patch>::kNoNode) {
    const auto& n = tree.node_list()[node];
    const Point3D& p = pts[n.index].pos;
    if (r2 > dist2(q, p)) out.push_back(n.index);
    const double diff = q[n.axis] - p[n.axis];
    const bool right_is_near = q[n.axis] > p[n.axis];
    plain_walk(tree, right_is_near ? n.right : n.left, pts, q, r2, out);
    if (!(r2 > diff * diff)) return;
    node = right_is_near ? n.left : n.right;
  }
}

// The radius query skips cells that cannot hold a result; the elements and their order must
// stay those of the plain walk, on scattered, coincident and surface-like sets, for radii from
// a few neighbours to most of the set, and at exact distances.
TEST(KDTree, RadiusQueryListsWhatThePlainWalkListsInItsOrder) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int set = 0; set < 6; ++set) {
    std::vector<Patch> pts;
    if (set < 2) {
      pts = random_patches(rng, 3000, 0);
    } else if (set < 4) {
      pts = random_patches(rng, 2000, 6);  // many ties in coordinates and distances
    } else {
      // A noisy sphere shell, as sampled surfaces are.
      for (int i = 0; i < 4000; ++i) {
        Point3D p(unit(rng), unit(rng), unit(rng));
        if (norm(p) < 1e-3) continue;
        pts.push_back(Patch{p * ((1.0 + 0.01 * unit(rng)) / norm(p)), {0, 0, 1}});
      }
    }
    const KDTree<Patch> tree(pts);
    Indices got, appended = {7}, want;
    for (double r : {0.02, 0.07, 0.3, 1.5, 4.0}) {
      if (set >= 2 && set < 4) r *= 5;
      // A radius that takes in most of the set lists thousands per query: fewer queries there.
      const int queries = r > 1.0 ? 30 : 200;
      for (int k = 0; k < queries; ++k) {
        const Point3D q = k % 2 ? pts[(k * 31) % pts.size()].pos
                                : Point3D(unit(rng), unit(rng), unit(rng));
        for (double r2 : {r * r, dist2(q, pts[(k * 17) % pts.size()].pos)}) {
          want.clear();
          plain_walk(tree, tree.root_node(), pts, q, r2, want);
          tree.neighbors(q, pts, r2, got);
          ASSERT_EQ(got, want) << "set " << set << ", r2 " << r2 << ", query " << k;
          appended.resize(1);
          EXPECT_EQ(tree.append_neighbors(q, pts, r2, appended), want.size());
          ASSERT_EQ(Indices(appended.begin() + 1, appended.end()), want);
          EXPECT_EQ(appended[0], 7u);
        }
      }
    }
  }
}

TEST(KDTree, PatchAndPointQueriesAgree) {
  std::mt19937 rng(7);
  const std::vector<Patch> pts = random_patches(rng, 500, 0);
  KDTree<Patch> tree(pts);
  Indices a, b;
  for (int i = 0; i < 50; ++i) {
    Patch q = pts[i * 7];
    q.pos.x += 0.01;
    tree.nearest_neighbors(q, pts, a, 12);
    tree.nearest_neighbors(q.pos, pts, b, 12);
    EXPECT_EQ(a, b);
    tree.neighbors(q, pts, 0.05, a);
    tree.neighbors(q.pos, pts, 0.05, b);
    EXPECT_EQ(a, b);
  }
}

TEST(KDTree, EmptyTreeAndZeroCountsReturnNothing) {
  const std::vector<Patch> none;
  KDTree<Patch> empty(none);
  EXPECT_TRUE(empty.empty());
  Indices out = {1, 2, 3};
  empty.nearest_neighbors(Point3D(0, 0, 0), none, out, 5);
  EXPECT_TRUE(out.empty());
  out = {1};
  empty.neighbors(Point3D(0, 0, 0), none, 1e30, out);
  EXPECT_TRUE(out.empty());

  const std::vector<Patch> pts = patches_at({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  KDTree<Patch> tree(pts);
  out = {9};
  tree.nearest_neighbors(Point3D(0, 0, 0), pts, out, 0);
  EXPECT_TRUE(out.empty());
  for (double r2 : {0.0, -1.0}) {
    out = {9};
    tree.neighbors(Point3D(0, 0, 0), pts, r2, out);
    EXPECT_TRUE(out.empty()) << "r2 " << r2;
  }
  // The radius query keeps room for a typical neighbourhood.
  EXPECT_GE(out.capacity(), 5000u);
}

TEST(KDTree, SinglePatchAndCoincidentPatches) {
  const std::vector<Patch> one = patches_at({{3, -4, 5}});
  KDTree<Patch> tree(one);
  Indices out;
  tree.nearest_neighbors(Point3D(100, 100, 100), one, out, 3);
  EXPECT_EQ(out, Indices{0});
  tree.neighbors(Point3D(3, -4, 5), one, 1e-300, out);
  EXPECT_EQ(out, Indices{0});

  const std::vector<Patch> same = patches_at(std::vector<Point3D>(9, Point3D(1, 1, 1)));
  KDTree<Patch> stack(same);
  stack.nearest_neighbors(Point3D(1, 1, 1), same, out, 4);
  expect_nearest(same, Point3D(1, 1, 1), 4, out, "coincident");
  stack.neighbors(Point3D(1, 1, 2), same, 1.0, out);
  EXPECT_TRUE(out.empty());
  stack.neighbors(Point3D(1, 1, 2), same, 1.0000001, out);
  EXPECT_EQ(out.size(), 9u);
}

// Two patches on the x axis: the larger-x one is the root (middle of the sorted pair), the
// other is found after it.
TEST(KDTree, EqualDistancesFavourTheLaterFoundAndFullListRejectsTies) {
  const std::vector<Patch> pts = patches_at({{-1, 0, 0}, {1, 0, 0}});
  KDTree<Patch> tree(pts);
  Indices out;
  tree.nearest_neighbors(Point3D(0, 0, 0), pts, out, 2);
  EXPECT_EQ(out, (Indices{0, 1}));
  tree.nearest_neighbors(Point3D(0, 0, 0), pts, out, 1);
  EXPECT_EQ(out, Indices{1});
  tree.nearest_neighbors(Point3D(0, 0, 0), pts, out, 7);
  EXPECT_EQ(out, (Indices{0, 1}));
}

// Three patches on the x axis at 0, 1, 2: the root holds x = 1, its children 0 and 2.
TEST(KDTree, RadiusQueryVisitsNodeThenNearThenFarSide) {
  const std::vector<Patch> pts = patches_at({{2, 0, 0}, {0, 0, 0}, {1, 0, 0}});
  KDTree<Patch> tree(pts);
  Indices out;
  tree.neighbors(Point3D(1.9, 0, 0), pts, 10.0, out);
  EXPECT_EQ(out, (Indices{2, 0, 1}));
  tree.neighbors(Point3D(0.1, 0, 0), pts, 10.0, out);
  EXPECT_EQ(out, (Indices{2, 1, 0}));
  // At exactly the radius a patch is left out: (2,0,0) is at squared distance 1 from (1,0,0).
  tree.neighbors(Point3D(1, 0, 0), pts, 1.0, out);
  EXPECT_EQ(out, Indices{2});
}

// The split axis follows the longest extent, ties preferring x then y; visible in the
// radius query's visiting order.
TEST(KDTree, SplitAxisTiesPreferXThenY) {
  // Extents x = 2, y = 2, z = 1: split along x, root (1, 1, 0.5) then the near side x > 1
  // (a split along y would visit (0, 2, 0) second).
  const std::vector<Patch> pts = patches_at({{0, 2, 0}, {1, 1, 0.5}, {2, 0, 1}});
  KDTree<Patch> tree(pts);
  Indices out;
  tree.neighbors(Point3D(1.5, 1.5, 0.5), pts, 100.0, out);
  EXPECT_EQ(out, (Indices{1, 2, 0}));
  // Extents x = 1, y = 2, z = 2: split along y; query with larger x but smaller y goes left.
  const std::vector<Patch> yz = patches_at({{0, 0, 2}, {0.5, 1, 1}, {1, 2, 0}});
  KDTree<Patch> tree_yz(yz);
  tree_yz.neighbors(Point3D(1, 0.5, 1), yz, 100.0, out);
  EXPECT_EQ(out, (Indices{1, 0, 2}));
}

TEST(KDTree, CopiedTreeAnswersLikeTheOriginal) {
  std::mt19937 rng(11);
  const std::vector<Patch> pts = random_patches(rng, 300, 0);
  KDTree<Patch> tree(pts);
  KDTree<Patch> copy = tree;
  Indices a, b;
  tree.nearest_neighbors(pts[5], pts, a, 20);
  copy.nearest_neighbors(pts[5], pts, b, 20);
  EXPECT_EQ(a, b);
  copy.destroy();
  EXPECT_TRUE(copy.empty());
  tree.neighbors(pts[5], pts, 0.1, a);
  EXPECT_FALSE(a.empty());
}

// A tree built on several threads has the nodes, in the same order, of the one-thread tree: on
// real and on integer coordinates (equal split values), large enough for subtrees built apart.
TEST(KDTree, ThreadsBuildTheSameTree) {
  std::mt19937 rng(17);
  for (int grid : {0, 30}) {
    const std::vector<Patch> pts = random_patches(rng, 41000, grid);
    const KDTree<Patch> one(pts);
    // Five threads: the top split's subtrees on two threads, then theirs on further ones.
    for (unsigned threads : {5u}) {
      const KDTree<Patch> many(pts, threads);
      ASSERT_EQ(many.root_node(), one.root_node());
      ASSERT_EQ(many.node_list().size(), one.node_list().size());
      for (std::size_t i = 0; i < one.node_list().size(); ++i) {
        const auto& a = one.node_list()[i];
        const auto& b = many.node_list()[i];
        ASSERT_TRUE(a.index == b.index && a.axis == b.axis && a.left == b.left &&
                    a.right == b.right)
            << "node " << i << ", " << threads << " threads, grid " << grid;
        ASSERT_EQ(one.node_positions()[i], pts[a.index].pos);
        ASSERT_EQ(many.node_positions()[i], pts[a.index].pos);
      }
    }
  }
}

TEST(KDTree, QueryWithAnotherVectorIsRefused) {
  const std::vector<Patch> pts = patches_at({{0, 0, 0}, {1, 0, 0}});
  KDTree<Patch> tree(pts);
  const std::vector<Patch> other = patches_at({{0, 0, 0}});
  Indices out;
  try {
    tree.neighbors(Point3D(0, 0, 0), other, 1.0, out);
    ADD_FAILURE() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("given 1 points, the tree was built over 2"),
              std::string::npos)
        << e.what();
  }
  EXPECT_THROW(tree.nearest_neighbors(Point3D(0, 0, 0), other, out, 1), TervikError);
}

TEST(KDTree, NaNPositionsDoNotBreakTheBuild) {
  std::mt19937 rng(3);
  std::vector<Patch> pts = random_patches(rng, 200, 0);
  for (int i = 0; i < 200; i += 9) pts[i].pos.y = std::nan("");
  KDTree<Patch> tree(pts);
  Indices out;
  tree.neighbors(Point3D(0, 0, 0), pts, 100.0, out);
  // Every patch with a real position is within reach; no NaN one can be.
  std::set<unsigned> got(out.begin(), out.end());
  for (unsigned i = 0; i < pts.size(); ++i) EXPECT_EQ(got.count(i), i % 9 ? 1u : 0u) << i;
}

}  // namespace
}  // namespace tervik
