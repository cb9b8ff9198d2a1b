// OpenCV's full distortion model, reduced to the four coefficients that a camera file holds.
#include <algorithm>
#include <cmath>
#include <sstream>

#include "tervik/exceptions.h"
#include "tervik/multiview_auxiliar.h"
#include "tools/capture/import/import_util.h"

namespace tervik::calibration {
namespace {

// OpenCV's names of its distortion coefficients, in order.
const char* const kNames[14] = {"k1", "k2", "p1", "p2", "k3", "k4",    "k5",
                                "k6", "s1", "s2", "s3", "s4", "tau_x", "tau_y"};

using Vec2 = std::array<double, 2>;

// OpenCV's distortion of normalised coordinates with up to 14 coefficients (missing ones 0).
Vec2 distort_full(const Vec2& p, const std::array<double, 14>& d) {
  const double x = p[0], y = p[1], r2 = x * x + y * y, r4 = r2 * r2, r6 = r4 * r2;
  const double radial =
      (1 + d[0] * r2 + d[1] * r4 + d[4] * r6) / (1 + d[5] * r2 + d[6] * r4 + d[7] * r6);
  double xd = x * radial + 2 * d[2] * x * y + d[3] * (r2 + 2 * x * x) + d[8] * r2 + d[9] * r4;
  double yd = y * radial + d[2] * (r2 + 2 * y * y) + 2 * d[3] * x * y + d[10] * r2 + d[11] * r4;
  if (d[12] != 0.0 || d[13] != 0.0) {
    // Tilted sensor: rotations about x by tau_x and about y by tau_y, then the projection
    // back onto the tilted plane.
    const double cx = std::cos(d[12]), sx = std::sin(d[12]), cy = std::cos(d[13]),
                 sy = std::sin(d[13]);
    const double rx[3][3] = {{1, 0, 0}, {0, cx, sx}, {0, -sx, cx}};
    const double ry[3][3] = {{cy, 0, -sy}, {0, 1, 0}, {sy, 0, cy}};
    double r[3][3];
    for (int a = 0; a < 3; ++a)
      for (int b = 0; b < 3; ++b) r[a][b] = ry[a][0] * rx[0][b] + ry[a][1] * rx[1][b] + ry[a][2] * rx[2][b];
    const double proj[3][3] = {{r[2][2], 0, -r[0][2]}, {0, r[2][2], -r[1][2]}, {0, 0, 1}};
    double tilt[3][3];
    for (int a = 0; a < 3; ++a)
      for (int b = 0; b < 3; ++b)
        tilt[a][b] = proj[a][0] * r[0][b] + proj[a][1] * r[1][b] + proj[a][2] * r[2][b];
    const double u = tilt[0][0] * xd + tilt[0][1] * yd + tilt[0][2];
    const double v = tilt[1][0] * xd + tilt[1][1] * yd + tilt[1][2];
    const double w = tilt[2][0] * xd + tilt[2][1] * yd + tilt[2][2];
    xd = u / w;
    yd = v / w;
  }
  return {xd, yd};
}

}  // namespace

std::array<double, 4> kept_distortion(const std::vector<double>& coefficients,
                                      const double k[3][3], long width, long height,
                                      bool ignore_extra, const std::string& file,
                                      std::vector<std::string>& warnings) {
  const std::size_t n = coefficients.size();
  if (n != 0 && n != 4 && n != 5 && n != 8 && n != 12 && n != 14)
    throw TervikFileError(file, "OpenCV distortion has 4, 5, 8, 12 or 14 coefficients, not " +
                                    std::to_string(n));
  std::array<double, 14> all{};
  std::copy(coefficients.begin(), coefficients.end(), all.begin());
  const std::array<double, 4> kept{all[0], all[1], all[2], all[3]};
  std::ostringstream extra;
  extra.precision(17);
  for (std::size_t i = 4; i < n; ++i)
    if (all[i] != 0.0) extra << (extra.tellp() > 0 ? ", " : "") << kNames[i] << " = " << all[i];
  if (extra.tellp() == 0) return kept;
  if (!ignore_extra)
    throw TervikFileError(file, "distortion terms " + extra.str() +
                                    " cannot be held by a camera file, which keeps k1 k2 p1 p2 "
                                    "only; undistort the images with the full model first, or "
                                    "give --ignore-extra-distortion to drop them");
  // The error at each image corner of the (distorted) image: find the ideal position that the
  // full model maps to the corner, map it with the kept terms alone, measure the distance.
  std::array<double, 14> reduced{};
  std::copy(kept.begin(), kept.end(), reduced.begin());
  const double fx = k[0][0], fy = k[1][1], skew = k[0][1], cx = k[0][2], cy = k[1][2];
  auto to_pixel = [&](const Vec2& p) { return Vec2{fx * p[0] + skew * p[1] + cx, fy * p[1] + cy}; };
  double worst = 0.0;
  Vec2 worst_corner{};
  bool estimated = false;
  for (int corner = 0; corner < 4; ++corner) {
    // Pixel centres at integers: the image's outer corners lie half a pixel outside them.
    const Vec2 c{corner & 1 ? double(width) - 0.5 : -0.5, corner & 2 ? double(height) - 0.5 : -0.5};
    const double yn = (c[1] - cy) / fy, xn = (c[0] - cx - skew * yn) / fx;
    Vec2 ideal{xn, yn};
    auto residual = [&](const Vec2& p) {
      const Vec2 d = distort_full(p, all);
      return Vec2{d[0] - xn, d[1] - yn};
    };
    Vec2 error_at;
    if (math::numeric::newton_rhapson(residual, ideal, 1e-7, 1e-13, 50)) {
      error_at = to_pixel(distort_full(ideal, reduced));
    } else {
      // No inverse there: compare both models at the corner taken as an ideal position.
      estimated = true;
      const Vec2 full = to_pixel(distort_full({xn, yn}, all));
      const Vec2 part = to_pixel(distort_full({xn, yn}, reduced));
      error_at = {c[0] + part[0] - full[0], c[1] + part[1] - full[1]};
    }
    const double e = std::hypot(error_at[0] - c[0], error_at[1] - c[1]);
    if (e > worst || corner == 0) worst = e, worst_corner = c;
  }
  // The corner is reported in the camera file's convention, pixel centres at i + 0.5.
  std::ostringstream msg;
  msg.precision(3);
  msg << file << ": dropped the distortion terms " << extra.str()
      << "; the camera file's model is off by up to " << std::fixed << worst
      << " pixels at the image corners (largest at corner (" << worst_corner[0] + 0.5 << ", "
      << worst_corner[1] + 0.5 << ")" << (estimated ? ", estimated without inverting the model" : "")
      << ")";
  warnings.push_back(msg.str());
  return kept;
}

}  // namespace tervik::calibration
