#pragma once
// Camera scaling and camera centre, with the small matrix helpers they use.
//
// Matrices are MultiArray<double,2> indexed (column, row), stored row after row (see camera.h).
#include "tervik/camera.h"
#include "tervik/multiarray.h"
#include "tervik/points.h"

namespace tervik::math::numeric {

// Transpose of m: element (c, r) of the result is element (r, c) of m; extents swapped.
MultiArray<double, 2> transpose(const MultiArray<double, 2>& m);

// Matrix-vector product m * v for m with extents (columns, rows) and v of `columns` elements;
// the result has `rows` elements, each summed over the columns in ascending order. Throws
// TervikError when the sizes disagree.
MultiArray<double, 1> product(const MultiArray<double, 2>& m, const MultiArray<double, 1>& v);

}  // namespace tervik::math::numeric

namespace tervik::multiview {

// A camera for images whose size is multiplied by s (0.125 for images reduced by 8): the size is
// scaled and truncated toward zero, K and P are premultiplied by diag(s, s, 1), R, t and the
// distortion are copied. The principal point is scaled as s * c, with no half-pixel shift, and
// point_depth is unchanged. A scaled size outside the 64-bit range saturates (NaN gives 0).
Camera scale_camera(const Camera& c, double s);

// Camera centre in world coordinates: -R^T * t.
Point3D camera_position(const Camera& c);

}  // namespace tervik::multiview
