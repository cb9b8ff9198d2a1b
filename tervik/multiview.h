#pragma once
// Projection and lens distortion of a Camera, and MultiView, the per-view container that pairs
// every camera with data of one kind.
//
// Image positions are in pixels, x the column and y the row, origin at the first pixel; a caller
// turns one into a pixel by truncating each coordinate toward zero. P is read through its raw
// buffer in memory order: row 0, row 1, row 2, four numbers each (see camera.h).
#include <cstddef>
#include <vector>

#include <boost/tuple/tuple.hpp>

#include "tervik/camera.h"
#include "tervik/multiarray.h"
#include "tervik/points.h"

namespace tervik::multiview {

// One element per view, index = camera number: get<0>() is the view's Camera, get<1>() and
// get<2>() its data (null types drop out of the tuple; MultiView<> holds cameras alone).
template <typename T = boost::tuples::null_type, typename U = boost::tuples::null_type>
class MultiView : public std::vector<boost::tuple<Camera, T, U>> {
 public:
  MultiView() = default;
  // n views, each a default Camera (all-zero matrices) with default-constructed data.
  explicit MultiView(std::size_t n) : std::vector<boost::tuple<Camera, T, U>>(n) {}
};

// Depth of world point X: P's third row applied to (X, Y, Z, 1). For P = K [R | t] with K's last
// row (0, 0, 1) it is the distance along the optical axis; positive in front of the camera.
inline double point_depth(const Point3D& X, const Camera& c) {
  const double* p = c.p().data();
  return p[8] * X.x + p[9] * X.y + p[10] * X.z + p[11];
}

// Ideal (distortion-free) image position of world point X, written to x. No check is made of the
// depth: w = 0 gives non-finite coordinates, a point behind the camera a finite position.
inline void world_to_image_undistorted(const Point3D& X, const Camera& c, Point2D& x) {
  const double* p = c.p().data();
  const double inv_w = 1.0 / (p[8] * X.x + p[9] * X.y + p[10] * X.z + p[11]);
  x.x = (p[0] * X.x + p[1] * X.y + p[2] * X.z + p[3]) * inv_w;
  x.y = (p[4] * X.x + p[5] * X.y + p[6] * X.z + p[7]) * inv_w;
}

// Image position of world point X with the camera's lens distortion applied, written to x
// (the ideal position is computed by division, then passed through ideal_to_distorted).
void fast_world2image(const Point3D& X, const Camera& c, Point2D& x);

// Applies the camera's distortion (k1, k2 radial, p1, p2 tangential, on coordinates normalised
// by K's focal lengths and principal point; the skew is not used) to an ideal image position.
void ideal_to_distorted(const Point2D& ideal, const Camera& c, Point2D& distorted);

// The same model with explicit parameters: dist = (k1, k2, p1, p2), principal point (cx, cy) in
// pixels, focal_length = (fx, fy) in pixels. Returns the distorted position; throws TervikError
// when dist has fewer than 4 or focal_length fewer than 2 elements.
Point2D distorter(const Point2D& ideal, const MultiArray<double, 1>& dist,
                  const Point2D& principal_point, const MultiArray<double, 1>& focal_length);

// Inverse of distorter (same arguments): the ideal position that distorter maps to `distorted`,
// solved by Newton-Raphson with a finite-difference Jacobian from the distorted position, to
// within 1e-9 pixels. Throws TervikError naming the position when the iteration does not
// converge or finds only a root where the model folds or turns the image over (a distortion too
// strong for that position), or as distorter does.
Point2D undistorter(const Point2D& distorted, const MultiArray<double, 1>& dist,
                    const Point2D& principal_point, const MultiArray<double, 1>& focal_length);

// True when the camera's distortion moves the image corner (0, 0) by more than 3.0 pixels:
// images of such a camera should be undistorted before sculptor, which projects without it.
bool significant_distortion(const Camera& c);

}  // namespace tervik::multiview
