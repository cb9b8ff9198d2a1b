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

// A width x height pinhole camera at `centre` looking at `target`, focal length f pixels,
// principal point at the image centre, no distortion; the image's vertical lies in the plane of
// the optical axis and `up`. P = K [R | t] with R's rows the camera's right, down and forward
// directions, so the optical axis is the camera z axis.
Camera look_at_camera(const Point3D& centre, const Point3D& target, double f, long width,
                      long height, const Point3D& up);

// The same with `up` the world z axis, or the y axis for a camera that looks along z.
Camera look_at_camera(const Point3D& centre, const Point3D& target, double f, int width,
                      int height);

// The camera centre of a camera made by look_at_camera.
Point3D centre_of(const Camera& c);

// The silhouette of the sphere (centre, radius) in camera c: 255 where the ray through the pixel
// centre meets the sphere, 0 elsewhere.
ImageGray<unsigned char> sphere_silhouette(const Camera& c, const Point3D& centre, double radius);

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
Views sphere_views(const std::vector<Camera>& cams, const Point3D& centre, double radius);

// Angle in degrees between two vectors.
inline double angle_deg(const Point3D& a, const Point3D& b) {
  double c = dot(a, b) / (norm(a) * norm(b));
  c = c > 1 ? 1 : (c < -1 ? -1 : c);
  return std::acos(c) * 180.0 / M_PI;
}

}  // namespace tervik::testing
