#pragma once
// A grid that tells, for one radius, places with no point near them: deep inside an object most
// radius searches find nothing, and the grid answers those with one look-up instead of a search.
#include <cstddef>
#include <vector>

#include "common/patch.h"
#include "tervik/points.h"

namespace tervik {

// Cells a little over a radius wide over the points' bounding box, each marked where a point lies
// in it or in one of the 26 next to it: a ball of that radius around a place in an unmarked cell
// holds no point.
class EmptyCells {
 public:
  // The grid over the positions of `points` (those with a NaN or infinite coordinate left out)
  // for `radius` (a length, not squared). Cells are widened where more than `max_cells` would
  // cover the box; with no point, no positive finite radius or a box whose extent overflows,
  // clear() is always false.
  EmptyCells(const std::vector<Patch>& points, double radius, std::size_t max_cells);

  // True when no point lies within `radius` of q: no point's squared distance to q, as dist2
  // computes it, is less than radius^2. False when some point may.
  bool clear(const Point3D& q) const;

 private:
  // The cell of q, counted from the margin of one cell around the box, when q lies inside the
  // margin; false otherwise.
  bool cell(const Point3D& q, std::size_t c[3]) const;

  Point3D lo_, hi_;
  double side_ = 0.0;
  std::size_t dims_[3] = {0, 0, 0};
  std::vector<char> marked_;
};

}  // namespace tervik
