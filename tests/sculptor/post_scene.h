#pragma once
// Small hand-made scenes for the post-processing tests: pinhole cameras that look at a point,
// and colour images of one colour.
#include <cmath>

#include "common/patch.h"
#include "tervik/camera.h"
#include "tervik/imagergb.h"
#include "tervik/points.h"

namespace tervik::testing {

// A width x height pinhole camera at `centre` looking at `target`, focal length f pixels,
// principal point at the image centre, no distortion. P = K [R | t] with R's rows the camera's
// right, down and forward directions, so the optical axis is the camera z axis.
inline Camera look_at_camera(const Point3D& centre, const Point3D& target, double f, long width,
                             long height, const Point3D& up_hint = Point3D(0, 1, 0)) {
  const Point3D forward = (target - centre) / norm(target - centre);
  Point3D right = cross(forward, up_hint);
  right = right / norm(right);
  const Point3D down = cross(forward, right);
  const Point3D rows[3] = {right, down, forward};
  Camera cam;
  cam.im_width() = width;
  cam.im_height() = height;
  const double cx = 0.5 * static_cast<double>(width), cy = 0.5 * static_cast<double>(height);
  const double k[3][3] = {{f, 0, cx}, {0, f, cy}, {0, 0, 1}};
  double t[3];
  for (int r = 0; r < 3; ++r) {
    t[r] = -dot(rows[r], centre);
    for (int c = 0; c < 3; ++c) {
      cam.rot().data()[3 * r + c] = rows[r][c];
      cam.k().data()[3 * r + c] = k[r][c];
    }
    cam.trans().data()[r] = t[r];
  }
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) {
      double v = 0;
      for (int i = 0; i < 3; ++i) v += k[r][i] * (c < 3 ? rows[i][c] : t[i]);
      cam.p().data()[4 * r + c] = v;
    }
  }
  return cam;
}

// A colour image of one colour.
inline ImageRGB<unsigned char> flat_image(long width, long height, unsigned char r,
                                          unsigned char g, unsigned char b) {
  ImageRGB<unsigned char> image(width, height);
  std::fill_n(image.channel(0).data(), image.channel(0).num_elements(), r);
  std::fill_n(image.channel(1).data(), image.channel(1).num_elements(), g);
  std::fill_n(image.channel(2).data(), image.channel(2).num_elements(), b);
  return image;
}

inline Patch make_patch(const Point3D& pos, const Point3D& normal) {
  Patch p;
  p.pos = pos;
  p.normal = normal;
  return p;
}

}  // namespace tervik::testing
