#include "tervik/multiview.h"

#include <array>
#include <cmath>
#include <sstream>

#include "tervik/exceptions.h"
#include "tervik/multiview_auxiliar.h"

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

Point2D undistorter(const Point2D& distorted, const MultiArray<double, 1>& dist,
                    const Point2D& principal_point, const MultiArray<double, 1>& focal_length) {
  TERVIK_CHECK(dist.num_elements() >= 4 && focal_length.num_elements() >= 2,
               "undistorter needs 4 distortion coefficients and 2 focal lengths, got "
                   << dist.num_elements() << " and " << focal_length.num_elements());
  const double* d = dist.data();
  const double cx = principal_point.x, cy = principal_point.y;
  const double fx = focal_length[0], fy = focal_length[1];
  auto residual = [&](const std::array<double, 2>& p) {
    const Point2D q = distort(Point2D(p[0], p[1]), d, cx, cy, fx, fy);
    return std::array<double, 2>{q.x - distorted.x, q.y - distorted.y};
  };
  // Finite-difference step in pixels, and the accepted residual in pixels.
  constexpr double kStep = 1e-3, kTolerance = 1e-9;
  std::array<double, 2> x{distorted.x, distorted.y};
  bool found = math::numeric::newton_rhapson(residual, x, kStep, kTolerance, 50);
  if (found) {
    // Only a root where the model neither turns the image over (1 + radial > 0) nor folds it
    // (positive Jacobian determinant) is the ideal position; a cubic has roots beyond that.
    const double nx = (x[0] - cx) / fx, ny = (x[1] - cy) / fy, r2 = nx * nx + ny * ny;
    const auto jac = math::numeric::fd_jacobian<2>(residual, x, kStep);
    found = 1.0 + d[0] * r2 + d[1] * r2 * r2 > 0.0 &&
            jac[0][0] * jac[1][1] - jac[0][1] * jac[1][0] > 0.0;
  }
  if (!found) {
    std::ostringstream os;
    os.precision(17);
    os << "undistorter: no ideal position found for the distorted position (" << distorted.x
       << ", " << distorted.y << "); the distortion folds the image there";
    throw TervikError(os.str());
  }
  return {x[0], x[1]};
}

bool significant_distortion(const Camera& c) {
  Point2D moved;
  ideal_to_distorted(Point2D(0.0, 0.0), c, moved);
  return std::hypot(moved.x, moved.y) > 3.0;
}

}  // namespace tervik::multiview
