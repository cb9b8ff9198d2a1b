#include "weaver/closing/empty_cells.h"

#include <algorithm>
#include <cmath>

namespace tervik {

EmptyCells::EmptyCells(const std::vector<Patch>& points, double radius, std::size_t max_cells) {
  bool any = false;
  for (const Patch& p : points) {
    if (!std::isfinite(p.pos.x) || !std::isfinite(p.pos.y) || !std::isfinite(p.pos.z)) continue;
    if (!any) lo_ = hi_ = p.pos, any = true;
    for (int a = 0; a < 3; ++a) {
      lo_[a] = std::min(lo_[a], p.pos[a]);
      hi_[a] = std::max(hi_[a], p.pos[a]);
    }
  }
  if (!any || !(radius > 0.0) || !std::isfinite(radius)) return;
  for (int a = 0; a < 3; ++a)
    if (!std::isfinite(hi_[a] - lo_[a])) return;  // a box too wide for a double: no grid
  // The extra share keeps a point and a place less than `radius` apart, rounding included, in
  // the same or neighbouring cells.
  side_ = radius * (1.0 + 1e-6);
  for (;;) {
    double cells = 1.0;
    for (int a = 0; a < 3; ++a) cells *= std::floor((hi_[a] - lo_[a]) / side_) + 3.0;
    if (cells <= double(max_cells)) break;
    side_ *= 1.25;
  }
  // One cell of margin on each side, so that the cells next to every point exist.
  for (int a = 0; a < 3; ++a) dims_[a] = std::size_t((hi_[a] - lo_[a]) / side_) + 3;
  marked_.assign(dims_[0] * dims_[1] * dims_[2], 0);
  for (const Patch& p : points) {
    std::size_t c[3];
    if (!cell(p.pos, c)) continue;
    for (std::size_t x = c[0] - 1; x <= c[0] + 1; ++x)
      for (std::size_t y = c[1] - 1; y <= c[1] + 1; ++y)
        for (std::size_t z = c[2] - 1; z <= c[2] + 1; ++z)
          marked_[(x * dims_[1] + y) * dims_[2] + z] = 1;
  }
}

bool EmptyCells::clear(const Point3D& q) const {
  std::size_t c[3];
  return !marked_.empty() && cell(q, c) && !marked_[(c[0] * dims_[1] + c[1]) * dims_[2] + c[2]];
}

bool EmptyCells::cell(const Point3D& q, std::size_t c[3]) const {
  for (int a = 0; a < 3; ++a) {
    const double f = std::floor((q[a] - lo_[a]) / side_) + 1.0;
    if (!(f >= 1.0 && f < double(dims_[a] - 1))) return false;
    c[a] = std::size_t(f);
  }
  return true;
}

}  // namespace tervik
