#include "weaver/closing/empty_cells.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace tervik {
namespace {

// Whether some point lies within the radius of q, the way a radius search tells it.
bool any_within(const std::vector<Patch>& pts, const Point3D& q, double radius) {
  return std::any_of(pts.begin(), pts.end(),
                     [&](const Patch& p) { return dist2(p.pos, q) < radius * radius; });
}

// The largest distance along one axis from q to its nearest point in that measure.
double axis_gap(const std::vector<Patch>& pts, const Point3D& q) {
  double gap = std::numeric_limits<double>::infinity();
  for (const Patch& p : pts)
    gap = std::min(gap, std::max({std::abs(p.pos.x - q.x), std::abs(p.pos.y - q.y), std::abs(p.pos.z - q.z)}));
  return gap;
}

// Whether q lies in the points' bounding box.
bool inside(const std::vector<Patch>& pts, const Point3D& q) {
  for (int a = 0; a < 3; ++a) {
    const auto [lo, hi] = std::minmax_element(pts.begin(), pts.end(), [a](const Patch& u, const Patch& v) {
      return u.pos[a] < v.pos[a];
    });
    if (!(q[a] >= lo->pos[a] && q[a] <= hi->pos[a])) return false;
  }
  return true;
}

// A place is called clear only when no point lies within the radius, also for places just
// inside the radius of a point along an axis or a diagonal, on grids of every width (the cap on
// the cells widens them); and, where the cells are not widened, a place inside the box farther
// than two radii from every point along some axis is called clear.
TEST(EmptyCells, ClearOnlyWhereNoPointIsNearAndWhereAllAreFar) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> real(-1.0, 1.0);
  for (int round = 0; round < 12; ++round) {
    std::vector<Patch> pts(1 + rng() % 300);
    for (Patch& p : pts) {
      // Points on a sphere of radius 1 (a shell with an empty inside), some on a coarse lattice.
      Point3D d(real(rng), real(rng), real(rng));
      if (round % 3 == 0) d = Point3D(std::round(4 * d.x), std::round(4 * d.y), std::round(4 * d.z));
      const double len = norm(d);
      p.pos = len > 0.0 ? d / len : Point3D(1, 0, 0);
    }
    if (round == 5) pts[0].pos.x = std::numeric_limits<double>::quiet_NaN();
    const double radius = round % 4 == 3 ? 0.5 : 0.05 + 0.05 * (round % 4);
    const std::size_t max_cells = round % 2 ? 50 : 1000000;
    const EmptyCells grid(pts, radius, max_cells);
    std::vector<Point3D> queries;
    for (int i = 0; i < 400; ++i) queries.emplace_back(1.3 * real(rng), 1.3 * real(rng), 1.3 * real(rng));
    for (const Patch& p : pts) {
      const double in = radius * (1.0 - 1e-12), diagonal = in / std::sqrt(3.0);
      queries.push_back(p.pos);
      queries.push_back(p.pos + Point3D(in, 0, 0));
      queries.push_back(p.pos - Point3D(0, 0, in));
      queries.push_back(p.pos + Point3D(diagonal, -diagonal, diagonal));
    }
    int clear = 0;
    for (const Point3D& q : queries) {
      const bool near = any_within(pts, q, radius);
      if (grid.clear(q)) {
        ++clear;
        ASSERT_FALSE(near) << "round " << round << " at " << q.x << " " << q.y << " " << q.z;
      } else if (max_cells > 1000 && round != 5 && inside(pts, q) && axis_gap(pts, q) > 2.01 * radius) {
        FAIL() << "round " << round << ": far from every point but not clear";
      }
    }
    if (max_cells > 1000 && radius < 0.2) EXPECT_GT(clear, 0) << "round " << round;
  }
}

TEST(EmptyCells, NothingIsClearWithoutPointsOrRadiusOrForNonFinitePlaces) {
  std::vector<Patch> pts(2);
  pts[0].pos = Point3D(0, 0, 0);
  pts[1].pos = Point3D(10, 10, 10);
  const Point3D middle(5, 5, 5);
  EXPECT_TRUE(EmptyCells(pts, 1.0, 100000).clear(middle));
  EXPECT_FALSE(EmptyCells({}, 1.0, 100000).clear(middle));
  EXPECT_FALSE(EmptyCells(pts, 0.0, 100000).clear(middle));
  EXPECT_FALSE(EmptyCells(pts, std::numeric_limits<double>::quiet_NaN(), 100000).clear(middle));
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(EmptyCells(pts, 1.0, 100000).clear(Point3D(nan, 5, 5)));
  EXPECT_FALSE(EmptyCells(pts, 1.0, 100000).clear(Point3D(5, inf, 5)));
  pts[0].pos.x = -1e308;
  pts[1].pos.x = 1e308;
  EXPECT_FALSE(EmptyCells(pts, 1.0, 100000).clear(Point3D(0, 5, 5)));
}

}  // namespace
}  // namespace tervik
