#include "tervik/multiview.h"

#include "tervik/exceptions.h"

namespace tervik::multiview {
namespace {

// The distortion model shared by ideal_to_distorted and distorter, on raw coefficients
// (k1, k2, p1, p2).
Point2D distort(const Point2D& ideal, const double* dist, double cx, double cy, double fx,
                double fy) {
  const double k1 = dist[0], k2 = dist[1], p1 = dist[2], p2 = dist[3];
  const double u = ideal.x, v = ideal.y;
  const double x = (u - cx) / fx;
  const double y = (v - cy) / fy;
  const double r2 = x * x + y * y;
  const double radial = k1 * r2 + k2 * (r2 * r2);
  return {u + (u - cx) * radial + fx * (2.0 * p1 * x * y + p2 * (r2 + 2.0 * x * x)),
          v + (v - cy) * radial + fy * (p1 * (r2 + 2.0 * y * y) + 2.0 * p2 * x * y)};
}

}  // namespace

void fast_world2image(const Point3D& X, const Camera& c, Point2D& x) {
  const double* p = c.p().data();
  const double w = p[8] * X.x + p[9] * X.y + p[10] * X.z + p[11];
  const Point2D ideal((p[0] * X.x + p[1] * X.y + p[2] * X.z + p[3]) / w,
                      (p[4] * X.x + p[5] * X.y + p[6] * X.z + p[7]) / w);
  ideal_to_distorted(ideal, c, x);
}

void ideal_to_distorted(const Point2D& ideal, const Camera& c, Point2D& distorted) {
  // K in memory order: (fx, skew, cx, 0, fy, cy, 0, 0, 1).
  const double* k = c.k().data();
  distorted = distort(ideal, c.distortion().data(), k[2], k[5], k[0], k[4]);
}

Point2D distorter(const Point2D& ideal, const MultiArray<double, 1>& dist,
                  const Point2D& principal_point, const MultiArray<double, 1>& focal_length) {
  TERVIK_CHECK(dist.num_elements() >= 4 && focal_length.num_elements() >= 2,
               "distorter needs 4 distortion coefficients and 2 focal lengths, got "
                   << dist.num_elements() << " and " << focal_length.num_elements());
  return distort(ideal, dist.data(), principal_point.x, principal_point.y, focal_length[0],
                 focal_length[1]);
}

}  // namespace tervik::multiview
