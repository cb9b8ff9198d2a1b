// Camera placement and pinhole geometry of the synthetic scenes.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "tervik/exceptions.h"
#include "tools/scene/cameras.h"

namespace tervik::scene {

std::string layout_name(CameraLayout layout) {
  return layout == CameraLayout::ring ? "ring" : "dome";
}

CameraLayout parse_layout(const std::string& name) {
  if (name == "ring") return CameraLayout::ring;
  if (name == "dome") return CameraLayout::dome;
  throw TervikError("unknown camera layout '" + name + "' (expected 'ring' or 'dome')");
}

Point3D ViewCamera::centre() const {
  return -Point3D(r[0][0] * t[0] + r[1][0] * t[1] + r[2][0] * t[2],
                  r[0][1] * t[0] + r[1][1] * t[1] + r[2][1] * t[2],
                  r[0][2] * t[0] + r[1][2] * t[1] + r[2][2] * t[2]);
}

Point3D ViewCamera::ray_direction(double u, double v) const {
  // Inverse of the upper-triangular K applied to (u, v, 1), then R^T.
  const double yc = (v - k[1][2]) / k[1][1];
  const double xc = (u - k[0][2] - k[0][1] * yc) / k[0][0];
  return Point3D(r[0][0] * xc + r[1][0] * yc + r[2][0], r[0][1] * xc + r[1][1] * yc + r[2][1],
                 r[0][2] * xc + r[1][2] * yc + r[2][2]);
}

bool ViewCamera::distorted() const {
  return distortion[0] != 0.0 || distortion[1] != 0.0 || distortion[2] != 0.0 ||
         distortion[3] != 0.0;
}

double ViewCamera::depth(const Point3D& x) const {
  return p[2][0] * x.x + p[2][1] * x.y + p[2][2] * x.z + p[2][3];
}

Point2D ViewCamera::project(const Point3D& x) const {
  const double inv = 1.0 / depth(x);
  return Point2D((p[0][0] * x.x + p[0][1] * x.y + p[0][2] * x.z + p[0][3]) * inv,
                 (p[1][0] * x.x + p[1][1] * x.y + p[1][2] * x.z + p[1][3]) * inv);
}

bool ViewCamera::pixel_of(const Point3D& x, long& px, long& py) const {
  if (!(depth(x) > 0.0)) return false;
  const Point2D uv = project(x);
  if (!(uv.x > -1.0 && uv.x < double(width) && uv.y > -1.0 && uv.y < double(height)))
    return false;
  px = static_cast<long>(uv.x);  // truncation toward zero
  py = static_cast<long>(uv.y);
  return px >= 0 && px < width && py >= 0 && py < height;
}

void update_projection(ViewCamera& cam) {
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col)
      cam.p[row][col] = cam.k[row][0] * cam.r[0][col] + cam.k[row][1] * cam.r[1][col] +
                        cam.k[row][2] * cam.r[2][col];
    cam.p[row][3] = cam.k[row][0] * cam.t[0] + cam.k[row][1] * cam.t[1] + cam.k[row][2] * cam.t[2];
  }
}

ViewCamera look_at(const Point3D& position, const Point3D& target, long width, long height,
                   double focal) {
  const Point3D forward = (target - position) / norm(target - position);
  Point3D right = cross(forward, Point3D(0.0, 0.0, 1.0));
  right = right / norm(right);
  const Point3D down = cross(forward, right);
  ViewCamera cam;
  cam.width = width;
  cam.height = height;
  const Point3D rows[3] = {right, down, forward};
  for (int i = 0; i < 3; ++i) {
    cam.r[i] = {rows[i].x, rows[i].y, rows[i].z};
    cam.t[i] = -dot(rows[i], position);
  }
  cam.k = {{{focal, 0.0, 0.5 * double(width)}, {0.0, focal, 0.5 * double(height)}, {0.0, 0.0, 1.0}}};
  update_projection(cam);
  return cam;
}

std::vector<ViewCamera> place_cameras(int n, CameraLayout layout, long width, long height,
                                      double focal, const Point3D& centre, double radius) {
  TERVIK_CHECK(n > 0 && width > 0 && height > 0 && focal > 0.0 && radius > 0.0,
               "place_cameras: bad arguments n=" << n << " size=" << width << "x" << height
                                                 << " focal=" << focal << " radius=" << radius);
  const double pi = std::numbers::pi;
  const double deg = pi / 180.0;
  // The ball fits when its angular radius asin(radius / distance) stays within the angle of
  // 90% of the shorter half-size.
  const double half = 0.45 * double(std::min(width, height));
  const double distance = radius / std::sin(std::atan(half / focal));
  std::vector<ViewCamera> cams;
  for (int i = 0; i < n; ++i) {
    double azimuth = 0.0, elevation = 0.0;
    if (layout == CameraLayout::ring) {
      azimuth = 2.0 * pi * double(i) / double(n);
      elevation = 15.0 * deg;
    } else {
      const double lo = std::sin(10.0 * deg), hi = std::sin(70.0 * deg);
      elevation = std::asin(lo + (hi - lo) * (double(i) + 0.5) / double(n));
      azimuth = double(i) * pi * (3.0 - std::sqrt(5.0));  // golden angle
    }
    const Point3D offset(std::cos(elevation) * std::cos(azimuth),
                         std::cos(elevation) * std::sin(azimuth), std::sin(elevation));
    cams.push_back(look_at(centre + offset * distance, centre, width, height, focal));
  }
  return cams;
}

}  // namespace tervik::scene
