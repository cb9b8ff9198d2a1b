#pragma once
// A small hand-made studio for the sampling tests: pinhole cameras on two rings around the
// origin looking at it, and silhouettes of a sphere rendered exactly (a pixel is foreground when
// the ray through its centre meets the sphere).
#include <cmath>
#include <vector>

#include "tervik/camera.h"
#include "tervik/imagegray.h"
#include "tervik/multiview.h"
#include "tervik/points.h"

namespace tervik::testing {

using Views = multiview::MultiView<ImageGray<unsigned char>>;

// A camera at `centre` looking at `target`, focal length f pixels, principal point at the image
// centre, no distortion.
inline Camera look_at_camera(const Point3D& centre, const Point3D& target, double f, int width,
                             int height) {
  const Point3D forward = (target - centre) / norm(target - centre);
  Point3D up(0, 0, 1);
  if (std::abs(dot(up, forward)) > 0.99) up = Point3D(0, 1, 0);
  Point3D right = cross(forward, up);
  right = right / norm(right);
  const Point3D down = cross(forward, right);
  const Point3D rows[3] = {right, down, forward};
  Camera c;
  c.im_width() = width;
  c.im_height() = height;
  const double cx = width / 2.0, cy = height / 2.0;
  const double K[3][3] = {{f, 0, cx}, {0, f, cy}, {0, 0, 1}};
  double t[3];
  for (int r = 0; r < 3; ++r) t[r] = -dot(rows[r], centre);
  for (int r = 0; r < 3; ++r) {
    for (int col = 0; col < 3; ++col) {
      c.rot()[col][r] = rows[r][col];
      c.k()[col][r] = K[r][col];
    }
    c.trans()[r] = t[r];
  }
  // P = K [R | t], stored (column, row).
  for (int r = 0; r < 3; ++r)
    for (int col = 0; col < 4; ++col) {
      double s = 0;
      for (int m = 0; m < 3; ++m) s += K[r][m] * (col < 3 ? rows[m][col] : t[m]);
      c.p()[col][r] = s;
    }
  return c;
}

// The camera centre of a camera made by look_at_camera.
inline Point3D centre_of(const Camera& c) {
  Point3D t(c.trans()[0], c.trans()[1], c.trans()[2]);
  Point3D out;
  for (int col = 0; col < 3; ++col)
    for (int r = 0; r < 3; ++r) out[col] -= c.rot()[col][r] * t[r];
  return out;
}

// The silhouette of the sphere (centre, radius) in camera c: 255 where the ray through the pixel
// centre meets the sphere, 0 elsewhere.
inline ImageGray<unsigned char> sphere_silhouette(const Camera& c, const Point3D& centre,
                                                  double radius) {
  const int w = static_cast<int>(c.im_width()), h = static_cast<int>(c.im_height());
  ImageGray<unsigned char> img(w, h);
  const Point3D eye = centre_of(c);
  const double f = c.k()[0][0], cx = c.k()[2][0], cy = c.k()[2][1];
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Point3D cam((x + 0.5 - cx) / f, (y + 0.5 - cy) / f, 1.0);
      Point3D dir;  // R^T cam
      for (int col = 0; col < 3; ++col)
        for (int r = 0; r < 3; ++r) dir[col] += c.rot()[col][r] * cam[r];
      dir = dir / norm(dir);
      const Point3D to = centre - eye;
      const double along = dot(to, dir);
      const double d2 = norm2(to) - along * along;
      img[x][y] = (along > 0 && d2 <= radius * radius) ? 255 : 0;
    }
  return img;
}

// `n` cameras (n >= 1) on two rings of radius 4 at heights +-1.5 around the origin, alternating,
// with images of width x height pixels and focal length f.
inline std::vector<Camera> ring_cameras(int n, int width = 160, int height = 120, double f = 300) {
  std::vector<Camera> cams;
  for (int i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n;
    const Point3D eye(4 * std::cos(a), 4 * std::sin(a), i % 2 == 0 ? 1.5 : -1.5);
    cams.push_back(look_at_camera(eye, Point3D(0, 0, 0), f, width, height));
  }
  return cams;
}

// `n` cameras spread evenly over a sphere of radius 4 around the origin, looking at it.
inline std::vector<Camera> sphere_cameras(int n, int width = 320, int height = 240,
                                          double f = 600) {
  std::vector<Camera> cams;
  const double golden = M_PI * (3 - std::sqrt(5.0));
  for (int i = 0; i < n; ++i) {
    const double z = 1 - (2 * i + 1.0) / n, r = std::sqrt(1 - z * z);
    const Point3D eye(4 * r * std::cos(golden * i), 4 * r * std::sin(golden * i), 4 * z);
    cams.push_back(look_at_camera(eye, Point3D(0, 0, 0), f, width, height));
  }
  return cams;
}

// A view set of the sphere (centre, radius) seen by `cams`.
inline Views sphere_views(const std::vector<Camera>& cams, const Point3D& centre, double radius) {
  Views views(cams.size());
  for (std::size_t i = 0; i < cams.size(); ++i) {
    views[i].get<0>() = cams[i];
    views[i].get<1>() = sphere_silhouette(cams[i], centre, radius);
  }
  return views;
}

// Angle in degrees between two vectors.
inline double angle_deg(const Point3D& a, const Point3D& b) {
  double c = dot(a, b) / (norm(a) * norm(b));
  c = c > 1 ? 1 : (c < -1 ? -1 : c);
  return std::acos(c) * 180.0 / M_PI;
}

}  // namespace tervik::testing
