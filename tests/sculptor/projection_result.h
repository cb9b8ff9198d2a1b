#pragma once
// The projection test's answer for one point as a single value, so that the tests of its faster
// forms (the hull grid, the classified silhouettes) can compare them with the plain test.
#include "sculptor/silhouette.h"
#include "tervik/points.h"

namespace tervik::testing {

// How many cameras see the point inside and outside their silhouettes, and whether it lies on an
// outline.
struct ProjectionResult {
  short inside = 0, outside = 0;
  bool outline = false;
};

// projection_test over `views` at tolerance `tolerance`.
inline ProjectionResult plain_projection(const SilhouetteViews& views, const Point3D& p,
                                         short tolerance) {
  ProjectionResult r;
  r.outline = projection_test(views, p, r.inside, r.outside, tolerance);
  return r;
}

}  // namespace tervik::testing
