#pragma once
// Checks shared by the sampler tests: the layout of a sampling (centres, then three companions
// per centre), admissibility of every point, outward normals, and closeness to a known sphere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <vector>

#include "common/patch.h"
#include "hull_fixture.h"
#include "sculptor/expansion.h"
#include "sculptor/silhouette.h"

namespace tervik::testing {

// Whether q is inside the visual hull as the normal probes see it.
inline bool probe_inside(const Views& views, const Point3D& q) {
  short in = 0, out = 0;
  projection_test(views, q, in, out, 0);
  return in >= 5 && out == 0;
}

// `out` holds `centres` centres followed by their companions, three per centre in order: every
// point admissible, grey, each companion within L/2 of its centre on every axis and carrying
// exactly its centre's normal, every centre's normal unit and pointing out of the hull (at one of
// the probe distances 2L, L, L/2, L/4 the point along the normal is outside and the opposite one
// inside).
inline void expect_valid_sampling(const Views& views, const std::vector<Patch>& out,
                                  std::size_t centres, double L) {
  ASSERT_EQ(out.size(), 4 * centres);
  int bad_admissible = 0, bad_colour = 0, bad_companion = 0, bad_normal = 0;
  for (const Patch& p : out) {
    if (!is_admissible(views, p.pos, 5, 0)) ++bad_admissible;
    if (p.r != 128 || p.g != 128 || p.b != 128) ++bad_colour;
  }
  for (std::size_t k = 0; k < centres; ++k) {
    const Patch& c = out[k];
    for (std::size_t j = 0; j < 3; ++j) {
      const Patch& s = out[centres + 3 * k + j];
      bool near = true;
      for (int a = 0; a < 3; ++a) near = near && std::abs(s.pos[a] - c.pos[a]) <= L / 2;
      if (!near || !(s.normal == c.normal)) ++bad_companion;
    }
    bool outward = false;
    for (double f : {2.0, 1.0, 0.5, 0.25})
      outward = outward || (!probe_inside(views, c.pos + c.normal * (f * L)) &&
                            probe_inside(views, c.pos - c.normal * (f * L)));
    if (!outward || std::abs(norm(c.normal) - 1.0) > 1e-9) ++bad_normal;
  }
  EXPECT_EQ(bad_admissible, 0);
  EXPECT_EQ(bad_colour, 0);
  EXPECT_EQ(bad_companion, 0);
  EXPECT_EQ(bad_normal, 0);
}

// Distances of the points to the sphere and angles of the centre normals to the true normals:
// every point within `max_distance` of the sphere, the median angle below `median_deg` degrees
// and 95 % below `p95_deg`.
inline void expect_on_sphere(const std::vector<Patch>& out, const Point3D& centre, double radius,
                             double max_distance, double median_deg = 8.0,
                             double p95_deg = 20.0) {
  ASSERT_FALSE(out.empty());
  double worst = 0;
  std::vector<double> angles;
  for (const Patch& p : out) {
    worst = std::max(worst, std::abs(norm(p.pos - centre) - radius));
    angles.push_back(angle_deg(p.normal, p.pos - centre));
  }
  std::sort(angles.begin(), angles.end());
  const double median = angles[angles.size() / 2], p95 = angles[angles.size() * 95 / 100];
  EXPECT_LE(worst, max_distance);
  EXPECT_LT(median, median_deg);
  EXPECT_LT(p95, p95_deg);
  std::cerr << "[sphere] " << out.size() << " points: max distance " << worst
            << ", normal angle median " << median << " deg, 95% " << p95 << " deg\n";
}

}  // namespace tervik::testing
