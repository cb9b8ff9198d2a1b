// Polygons nearest a rim all round: the bounds and early stops choose exactly what summing every
// polygon's distances and sorting them chooses.
#include "weaver/closing/loop_nearness.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

namespace tervik {
namespace {

using Near = std::vector<std::pair<double, std::size_t>>;

// Every tried polygon's mean, those under the limit sorted, the first `keep` kept.
Near every_polygon(const std::vector<Point3D>& rim, const std::vector<std::vector<Point3D>>& others,
                   const std::vector<std::size_t>& tried, double limit, std::size_t keep) {
  Near near;
  for (const std::size_t k : tried) {
    double sum = 0.0;
    for (const Point3D& q : rim) {
      double nearest = std::numeric_limits<double>::infinity();
      for (const Point3D& r : others[k]) nearest = std::min(nearest, dist2(q, r));
      sum += std::sqrt(nearest);
    }
    if (sum < limit * double(rim.size())) near.emplace_back(sum / double(rim.size()), k);
  }
  std::sort(near.begin(), near.end());
  near.resize(std::min(near.size(), keep));
  return near;
}

// A bumpy closed curve of n corners round `centre`, in a random plane.
std::vector<Point3D> polygon(std::mt19937& rng, const Point3D& centre, double radius, int n) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const Point3D u = Point3D(1.0, 0.2 * unit(rng), 0.3 * unit(rng)), v = Point3D(0.1 * unit(rng), 1.0, 0.4 * unit(rng));
  std::vector<Point3D> p;
  for (int i = 0; i < n; ++i) {
    const double t = 2.0 * M_PI * i / n, r = radius * (1.0 + 0.2 * unit(rng));
    p.push_back(centre + u * (r * std::cos(t)) + v * (r * std::sin(t)));
  }
  return p;
}

TEST(LoopNearness, KeepsWhatSummingEveryPolygonKeeps) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::size_t kept = 0, lists_cut = 0;
  for (int round = 0; round < 80; ++round) {
    const Point3D origin(100.0 * unit(rng), -50.0 * unit(rng), 10.0 * unit(rng));
    const auto rim = polygon(rng, origin, 2.0 + 3.0 * unit(rng), 20 + int(200 * unit(rng)));
    std::vector<std::vector<Point3D>> others;
    const int count = 5 + int(60 * unit(rng));
    for (int k = 0; k < count; ++k) {
      const double kind = unit(rng);
      if (kind < 0.1 && !others.empty()) {
        others.push_back(others[std::size_t(unit(rng) * double(others.size()))]);  // a twin: equal means
      } else if (kind < 0.3) {
        others.push_back(polygon(rng, origin, 3.0 + 2.0 * unit(rng), 30 + int(100 * unit(rng))));  // round the rim
      } else {
        const Point3D at = origin + Point3D(12.0 * (unit(rng) - 0.5), 12.0 * (unit(rng) - 0.5), 4.0 * (unit(rng) - 0.5));
        others.push_back(polygon(rng, at, 0.1 + 0.5 * unit(rng), 3 + int(5 * unit(rng))));  // a small hole nearby
      }
    }
    std::vector<std::size_t> tried;
    for (int k = 0; k < count; ++k)
      if (unit(rng) < 0.9) tried.push_back(std::size_t(k));
    const double limit = 1.0 + 6.0 * unit(rng);
    const std::size_t keep = std::size_t(round % 6);
    const Near want = every_polygon(rim, others, tried, limit, keep);
    EXPECT_EQ(nearest_all_round(rim, others, tried, limit, keep), want) << "round " << round;
    kept += want.size();
    lists_cut += want.size() == keep && every_polygon(rim, others, tried, limit, 1000).size() > keep;
  }
  // Most rounds keep some, and many have more under the limit than they keep.
  EXPECT_GT(kept, 100u);
  EXPECT_GT(lists_cut, 20u);
}

TEST(LoopNearness, SmallRimAmongSmallPolygonsWhoseBoundsNearlyMeetTheirMeans) {
  // Far from a small rim, a small polygon's mean is close to its bound: a bound any higher
  // would pass over polygons that belong among the nearest.
  std::mt19937 rng(29);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int round = 0; round < 60; ++round) {
    const Point3D origin(10.0 * unit(rng), 10.0 * unit(rng), 10.0 * unit(rng));
    const auto rim = polygon(rng, origin, 0.05 + 0.2 * unit(rng), 8 + int(20 * unit(rng)));
    std::vector<std::vector<Point3D>> others;
    for (int k = 0; k < 40; ++k) {
      const double d = 0.5 + 8.0 * unit(rng), t = 2.0 * M_PI * unit(rng), z = unit(rng) - 0.5;
      const Point3D at = origin + Point3D(d * std::cos(t), d * std::sin(t), z);
      others.push_back(polygon(rng, at, 0.05 + 0.4 * unit(rng), 3 + int(4 * unit(rng))));
    }
    std::vector<std::size_t> tried(others.size());
    for (std::size_t k = 0; k < tried.size(); ++k) tried[k] = k;
    const std::size_t keep = 1 + std::size_t(round % 4);
    EXPECT_EQ(nearest_all_round(rim, others, tried, 20.0, keep), every_polygon(rim, others, tried, 20.0, keep))
        << "round " << round;
  }
}

TEST(LoopNearness, PolygonsWithoutCornersOrNotFiniteComeInOnlyWhereSummingDoes) {
  std::mt19937 rng(23);
  const auto rim = polygon(rng, Point3D(0.0, 0.0, 0.0), 3.0, 40);
  std::vector<std::vector<Point3D>> others = {polygon(rng, Point3D(0.5, 0.0, 0.0), 3.5, 50), {},
                                              polygon(rng, Point3D(1.0, 1.0, 0.0), 0.3, 4),
                                              polygon(rng, Point3D(-1.0, 0.0, 0.5), 0.3, 3)};
  // A polygon with one corner not a number: that corner is never the nearest.
  others.push_back(others[2]);
  others.back()[1].y = std::numeric_limits<double>::quiet_NaN();
  const std::vector<std::size_t> tried = {0, 1, 2, 3, 4};
  for (const std::size_t keep : {1u, 2u, 3u, 5u}) {
    const Near want = every_polygon(rim, others, tried, 10.0, keep);
    EXPECT_EQ(nearest_all_round(rim, others, tried, 10.0, keep), want) << keep;
  }
  EXPECT_EQ(every_polygon(rim, others, tried, 10.0, 5).size(), 4u);  // all but the empty one
  EXPECT_TRUE(nearest_all_round({}, others, tried, 10.0, 4).empty());
}

}  // namespace
}  // namespace tervik
