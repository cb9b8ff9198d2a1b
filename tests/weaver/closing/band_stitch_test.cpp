// Stitching the band between a hole's rim and the rim of a piece inside it.
#include "weaver/closing/band_stitch.h"

#include <cmath>
#include <map>
#include <utility>

#include <gtest/gtest.h>

namespace tervik {
namespace {

// n corners on a circle in the plane z = 0 about (cx, 0), counter-clockwise seen from +z, or
// clockwise when `clockwise`, starting at angle t0.
std::vector<Point3D> circle(int n, double r, double cx, bool clockwise, double t0 = 0.0) {
  std::vector<Point3D> p;
  for (int i = 0; i < n; ++i) {
    const double t = t0 + (clockwise ? -1.0 : 1.0) * 2.0 * M_PI * i / n;
    p.emplace_back(cx + r * std::cos(t), r * std::sin(t), 0.0);
  }
  return p;
}

// The band is an annulus: every polygon side in one triangle in its own direction, every other
// edge in two triangles, once each way, n + m triangles, each with one corner on the other
// polygon and all facing +z (the band lies on the left of both polygons seen from +z).
void expect_band(const std::vector<Point3D>& outer, const std::vector<Point3D>& inner) {
  const int n = int(outer.size()), m = int(inner.size());
  const auto tris = stitch_band(outer, inner);
  ASSERT_EQ(int(tris.size()), n + m);
  std::vector<Point3D> p = outer;
  p.insert(p.end(), inner.begin(), inner.end());
  std::map<std::pair<int, int>, int> uses;
  for (const auto& t : tris) {
    int on_outer = 0;
    for (int k = 0; k < 3; ++k) {
      ASSERT_GE(t[k], 0);
      ASSERT_LT(t[k], n + m);
      on_outer += t[k] < n;
      ++uses[{t[k], t[(k + 1) % 3]}];
    }
    EXPECT_TRUE(on_outer == 1 || on_outer == 2);
    const Point3D a = p[std::size_t(t[0])], b = p[std::size_t(t[1])], c = p[std::size_t(t[2])];
    EXPECT_GT(cross(b - a, c - a).z, 0.0) << t[0] << " " << t[1] << " " << t[2];
  }
  const auto side = [&](int a, int b) {
    return (a < n && b < n && b == (a + 1) % n) || (a >= n && b >= n && b - n == (a - n + 1) % m);
  };
  for (const auto& [e, count] : uses) {
    EXPECT_EQ(count, 1) << e.first << "->" << e.second;
    const bool twin = uses.count({e.second, e.first}) > 0;
    EXPECT_EQ(twin, !side(e.first, e.second)) << e.first << "->" << e.second;
  }
}

TEST(BandStitch, AnnulusBetweenCirclesFacesOneWay) {
  // Concentric, off-centre, few and many corners on either side; the start bridge is short.
  expect_band(circle(12, 2.0, 0.0, false), circle(6, 1.0, 0.0, true));
  expect_band(circle(40, 3.0, 0.0, false), circle(5, 0.5, 1.5, true, 0.7));
  expect_band(circle(8, 2.0, 0.0, false), circle(30, 1.2, 0.0, true, 0.1));
  expect_band(circle(3, 2.0, 0.0, false), circle(3, 0.2, 0.0, true));
}

TEST(BandStitch, BridgesAreShortWhereThePolygonsRunAlongEachOther) {
  // Two concentric circles with the same number of corners, aligned: the least bridge length
  // joins each outer corner to inner corners at the same angle or one step off (0.77), never
  // further round.
  const int n = 16;
  const auto outer = circle(n, 2.0, 0.0, false), inner = circle(n, 1.8, 0.0, true);
  std::vector<Point3D> p = outer;
  p.insert(p.end(), inner.begin(), inner.end());
  for (const auto& t : stitch_band(outer, inner))
    for (int k = 0; k < 3; ++k) {
      const int a = t[k], b = t[(k + 1) % 3];
      if ((a < n) != (b < n)) EXPECT_LT(norm(p[std::size_t(a)] - p[std::size_t(b)]), 0.8);
    }
}

}  // namespace
}  // namespace tervik
