#pragma once
// The triangle rasteriser declared in visibility.h.
#include <algorithm>
#include <cmath>

namespace tervik::texture {

template <typename Visit>
void rasterize(const Point2D& a, const Point2D& b, const Point2D& c, long width, long height,
               Visit&& visit) {
  const double area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
  if (!(std::abs(area) > 0.0)) return;  // degenerate or not finite
  // floor and ceil of (v - 0.5) by truncation (v is finite here: the area is): the library
  // calls cost more than the rest of a small triangle's setup.
  const auto lo = [](double v, long lim) {
    const double u = std::clamp(v, -1e9, 1e9) - 0.5;
    const long t = long(u);
    return std::clamp(double(t) > u ? t - 1 : t, 0L, lim);
  };
  const auto hi = [](double v, long lim) {
    const double u = std::clamp(v, -1e9, 1e9) - 0.5;
    const long t = long(u);
    return std::clamp((double(t) < u ? t + 1 : t) + 1, 0L, lim);
  };
  const long x0 = lo(std::min({a.x, b.x, c.x}), width), x1 = hi(std::max({a.x, b.x, c.x}), width);
  const long y0 = lo(std::min({a.y, b.y, c.y}), height), y1 = hi(std::max({a.y, b.y, c.y}), height);
  const double inv = 1.0 / area;
  for (long y = y0; y < y1; ++y) {
    const double py = double(y) + 0.5;
    for (long x = x0; x < x1; ++x) {
      const double px = double(x) + 0.5;
      const double w0 = ((b.x - px) * (c.y - py) - (b.y - py) * (c.x - px)) * inv;
      const double w1 = ((c.x - px) * (a.y - py) - (c.y - py) * (a.x - px)) * inv;
      const double w2 = 1.0 - w0 - w1;
      if ((w0 >= 0.0) & (w1 >= 0.0) & (w2 >= 0.0)) visit(x, y, w0, w1, w2);  // one branch
    }
  }
}

}  // namespace tervik::texture
