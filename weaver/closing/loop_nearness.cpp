// Polygons nearest another all round.
#include "weaver/closing/loop_nearness.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tervik {
namespace {

// The largest |x| + |y| + |z| of the points: a scale for the rounding of sums of them.
double size_of(const std::vector<Point3D>& points) {
  double size = 0.0;
  for (const Point3D& p : points) size = std::max(size, std::abs(p.x) + std::abs(p.y) + std::abs(p.z));
  return size;
}

}  // namespace

std::vector<std::pair<double, std::size_t>> nearest_all_round(const std::vector<Point3D>& rim,
                                                              const std::vector<std::vector<Point3D>>& others,
                                                              const std::vector<std::size_t>& tried,
                                                              double limit, std::size_t keep) {
  std::vector<std::pair<double, std::size_t>> near;  // the best so far, least first
  // (Without corners, or with a polygon without corners, no sum is under the cap.)
  if (rim.empty() || keep == 0) return near;
  const std::size_t n = rim.size();
  const double count = double(n), cap = limit * count;
  // A lower bound on each polygon's mean: the distance from any point c to a corner within r of
  // it is at least |q - c| - r, and the mean of |q - c| over the corners q is at least the
  // distance from their mean to c. So the mean is at least the distance between the rim's
  // centre and the polygon's, less the polygon's radius about its centre; the margin allows,
  // many times over, for the rounding of the centres, the radius and that difference (a few
  // hundred ulps of the coordinates per corner), and the factor for the rounding of the mean
  // itself (n + 6 ulps of it).
  Point3D centre;
  for (const Point3D& q : rim) centre += q / count;
  const double rim_size = size_of(rim);
  std::vector<std::pair<double, std::size_t>> order;
  order.reserve(tried.size());
  for (const std::size_t k : tried) {
    const std::vector<Point3D>& other = others[k];
    if (other.empty()) continue;
    Point3D middle;
    for (const Point3D& r : other) middle += r / double(other.size());
    double radius = 0.0;
    for (const Point3D& r : other) radius = std::max(radius, norm(r - middle));
    const double margin = 1e-9 * double(n + other.size() + 8) * (rim_size + size_of(other));
    const double bound = (norm(middle - centre) - radius - margin) * (1.0 - 1e-9 * double(n + 8));
    order.emplace_back(std::isnan(bound) ? -std::numeric_limits<double>::infinity() : bound, k);
  }
  // Nearest bound first: the best are found early, and once `keep` are held, a polygon whose
  // bound lies beyond the last of them, and every one after it, cannot come in.
  std::sort(order.begin(), order.end());
  for (const auto& [bound, k] : order) {
    if (near.size() == keep && bound > near.back().first) break;
    // The sum only grows (a rounded sum of terms that are not negative never falls), and so
    // does the mean it gives: once it reaches the cap, or comes after the last held of `keep`,
    // the polygon cannot come in.
    double sum = 0.0;
    bool out = false;
    for (const Point3D& q : rim) {
      double nearest = std::numeric_limits<double>::infinity();
      for (const Point3D& r : others[k]) nearest = std::min(nearest, dist2(q, r));
      sum += std::sqrt(nearest);
      if (!(sum < cap) || (near.size() == keep && std::make_pair(sum / count, k) > near.back())) {
        out = true;
        break;
      }
    }
    if (out) continue;
    const std::pair<double, std::size_t> entry(sum / count, k);
    near.insert(std::upper_bound(near.begin(), near.end(), entry), entry);
    if (near.size() > keep) near.pop_back();
  }
  return near;
}

}  // namespace tervik
