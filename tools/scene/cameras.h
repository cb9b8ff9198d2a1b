#pragma once
// Pinhole cameras of the synthetic scenes, placed on a ring or a dome around the object.
//
// A camera maps a world point X to camera coordinates R X + t (x right, y down, z forward) and
// to the image position P (X, 1) with P = K [R | t]. Image positions follow the library's pixel
// convention: x is the column and y the row; pixel (x, y) covers [x, x + 1) x [y, y + 1), so the
// ray through the centre of pixel (x, y) is the ray through the position (x + 0.5, y + 0.5).
#include <array>
#include <string>
#include <vector>

#include "tervik/points.h"

namespace tervik::scene {

enum class CameraLayout {
  ring,  // all cameras at 15 degrees above the object's centre, evenly spaced around it
  dome,  // cameras spread evenly by area over the band from 10 to 70 degrees of elevation
};

// "ring" or "dome".
std::string layout_name(CameraLayout layout);
// The layout named by `name`; throws TervikError naming the text otherwise.
CameraLayout parse_layout(const std::string& name);

// One calibrated camera. Matrices are row-major: k[row][column]. The lens distortion (k1, k2,
// p1, p2 of the calibration file, zero for a pinhole camera) acts on image positions only:
// project(), depth() and ray_direction() are the ideal pinhole camera's.
struct ViewCamera {
  long width = 0, height = 0;  // image size in pixels
  std::array<std::array<double, 3>, 3> k{};  // intrinsic matrix, last row (0, 0, 1)
  std::array<std::array<double, 3>, 3> r{};  // rotation from world to camera coordinates
  std::array<double, 3> t{};                 // translation: camera coordinates are R X + t
  std::array<std::array<double, 4>, 3> p{};  // projection matrix K [R | t]
  std::array<double, 4> distortion{};        // k1, k2, p1, p2

  // True when any distortion coefficient is non-zero.
  bool distorted() const;

  // Camera centre in world coordinates, -R^T t.
  Point3D centre() const;
  // World direction (not unit length) of the ray through image position (u, v) in pixels.
  Point3D ray_direction(double u, double v) const;
  // Depth of X along the optical axis: the third row of P applied to (X, 1).
  double depth(const Point3D& x) const;
  // Image position of X: (P0 (X,1), P1 (X,1)) times the reciprocal of the depth, computed in
  // that order. Meaningful only for depth(X) > 0.
  Point2D project(const Point3D& x) const;
  // True when X lies in front of the camera and its pixel (the truncated position) lies in
  // the image; the pixel is written to px, py.
  bool pixel_of(const Point3D& x, long& px, long& py) const;
};

// A camera at `position` looking at `target`, with the world z axis pointing up in its image.
// focal is in pixels; the principal point is the image centre (width / 2, height / 2).
ViewCamera look_at(const Point3D& position, const Point3D& target, long width, long height,
                   double focal);
// Derives P = K [R | t] from the camera's K, R and t.
void update_projection(ViewCamera& cam);

// n cameras of the given layout, looking at `centre`, far enough that the whole ball of
// `radius` around the centre lies inside every image with a margin of 10% of the half-size.
std::vector<ViewCamera> place_cameras(int n, CameraLayout layout, long width, long height,
                                      double focal, const Point3D& centre, double radius);

}  // namespace tervik::scene
