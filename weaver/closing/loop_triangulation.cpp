// Triangulations of a closed polygon over its own corners, for closing holes.
#include "weaver/closing/loop_triangulation.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <limits>
#include <set>
#include <utility>

namespace tervik {
namespace {

// The cost of a triangle in a loop's triangulation: its area plus a quarter of the sum of its
// squared edge lengths, so that of two fillings of equal area the one with short chords and
// without needles wins (a needle over three collinear corners has no area but long edges).
// A nearly flat triangle (twice its area under 1e-6 of its squared edges) costs 100 times its
// squared edges more, so that it is used only where nothing else closes the loop.
// `edges` is the sum of the squared edge lengths, dist2(a, b) + dist2(b, c) + dist2(c, a).
// `twice_area` is cross(b - a, c - a) for the corners a, b, c.
double triangle_cost(const Point3D& twice_area, double edges) {
  const double area = 0.5 * norm(twice_area);
  return area + 0.25 * edges + (2.0 * area < 1e-6 * edges ? 100.0 * edges : 0.0);
}

// Whether two points are the same bit for bit.
bool same_bits(const Point3D& a, const Point3D& b) {
  return std::bit_cast<std::uint64_t>(a.x) == std::bit_cast<std::uint64_t>(b.x) &&
         std::bit_cast<std::uint64_t>(a.y) == std::bit_cast<std::uint64_t>(b.y) &&
         std::bit_cast<std::uint64_t>(a.z) == std::bit_cast<std::uint64_t>(b.z);
}

}  // namespace

std::vector<std::array<int, 3>> min_area_triangulation(
    const std::vector<Point3D>& p, const std::function<bool(int, int)>& allowed) {
  return min_area_triangulation(p, allowed, {});
}

namespace {

// Marks the chords that min_area_dp may not take, in its table of apexes.
constexpr int kBarred = -2;

// The dynamic programme behind both min_area_triangulation: `mid` holds n * n entries, -1 or
// kBarred (at i * n + k, i < k: the chord i-k may not be used); allowed(i, k) is asked about the
// other chords.
template <class Allowed>
std::vector<std::array<int, 3>> min_area_dp(const std::vector<Point3D>& p, std::vector<int>& mid,
                                            const Allowed& allowed, const std::vector<Point3D>& normals) {
  const int n = int(p.size());
  const double inf = std::numeric_limits<double>::infinity();
  // w[i][k]: least area of the polygon i, i+1, ..., k closed by the chord k-i; mid: its apex.
  // wt holds w transposed (wt[k][m] = w[m][k]), so that the splits of a chord read both their
  // sides along rows.
  std::vector<double> w(std::size_t(n) * std::size_t(n), inf);
  std::vector<double> wt(std::size_t(n) * std::size_t(n), inf);
  auto at = [n](int i, int k) { return std::size_t(i) * std::size_t(n) + std::size_t(k); };
  // Squared distances between the corners, both ways round: every triangle reads three of them.
  std::vector<double> d2(std::size_t(n) * std::size_t(n));
  for (int i = 0; i < n; ++i)
    for (int k = i + 1; k < n; ++k)
      d2[at(i, k)] = d2[at(k, i)] = dist2(p[std::size_t(i)], p[std::size_t(k)]);
  // Where every corner has the same normal (the mean direction that steering_normals gives a
  // large part), every triangle's sum of three normals is the same sum: added once.
  const bool one_normal =
      !normals.empty() && std::all_of(normals.begin(), normals.end(),
                                      [&](const Point3D& x) { return same_bits(x, normals[0]); });
  const Point3D one_sum = one_normal ? normals[0] + normals[0] + normals[0] : Point3D();
  // The triangle (i, m, k); `twice_area` is cross(p[m] - p[i], p[k] - p[i]).
  const auto cost = [&](int i, int m, int k, const Point3D& twice_area, double edges) {
    const double base = triangle_cost(twice_area, edges);
    if (normals.empty()) return base;
    const Point3D sum = one_normal ? one_sum
                                   : normals[std::size_t(i)] + normals[std::size_t(m)] + normals[std::size_t(k)];
    return dot(twice_area, sum) < 0.0 ? base + 100.0 * edges : base;
  };
  for (int i = 0; i + 1 < n; ++i) w[at(i, i + 1)] = wt[at(i + 1, i)] = 0.0;
  for (int len = 2; len < n; ++len)
    for (int i = 0; i + len < n; ++i) {
      const int k = i + len;
      if (!(i == 0 && k == n - 1) && (mid[at(i, k)] == kBarred || !allowed(i, k))) continue;
      const double* left = &w[at(i, 0)];    // left[m] = w[i][m]
      const double* right = &wt[at(k, 0)];  // right[m] = w[m][k]
      const double* from_i = &d2[at(i, 0)];
      const double* from_k = &d2[at(k, 0)];
      const double chord = from_i[k];
      // The chord's end i and its vector, the same for every apex.
      const Point3D& a = p[std::size_t(i)];
      const Point3D ca = p[std::size_t(k)] - a;
      double best = inf;
      int apex = -1;
      for (int m = i + 1; m < k; ++m) {
        const double sides = left[m] + right[m];
        // No triangle costs less than nothing: a split whose two sides alone cost the best so
        // far cannot beat it (this also passes over the splits that cannot be made).
        if (!(sides < best)) continue;
        // Nor less than a quarter of its squared edges: the area and the penalties are added
        // to that, and adding what is not negative never rounds below it; a split this bound
        // rules out needs no square root.
        const double edges = from_i[m] + from_k[m] + chord;
        if (!(sides + 0.25 * edges < best)) continue;
        const double total = sides + cost(i, m, k, cross(p[std::size_t(m)] - a, ca), edges);
        if (total < best) best = total, apex = m;
      }
      w[at(i, k)] = wt[at(k, i)] = best;
      mid[at(i, k)] = apex;
    }
  if (mid[at(0, n - 1)] < 0) return {};
  // A polygon of n corners has n - 2 triangles; the stack holds at most one chord more than
  // the triangles taken.
  std::vector<std::array<int, 3>> out;
  out.reserve(std::size_t(n) - 2);
  std::vector<std::pair<int, int>> stack;
  stack.reserve(std::size_t(n));
  stack.push_back({0, n - 1});
  while (!stack.empty()) {
    const auto [i, k] = stack.back();
    stack.pop_back();
    if (k - i < 2) continue;
    const int m = mid[at(i, k)];
    out.push_back({i, m, k});
    stack.push_back({i, m});
    stack.push_back({m, k});
  }
  return out;
}

}  // namespace

std::vector<std::array<int, 3>> min_area_triangulation(
    const std::vector<Point3D>& p, const std::function<bool(int, int)>& allowed,
    const std::vector<Point3D>& normals) {
  if (p.size() < 3) return {};
  std::vector<int> mid(p.size() * p.size(), -1);
  return min_area_dp(p, mid, allowed, normals);
}

std::vector<std::array<int, 3>> min_area_triangulation(const std::vector<Point3D>& p,
                                                       const std::vector<std::size_t>& joined_start,
                                                       const std::vector<int>& joined,
                                                       const std::vector<Point3D>& normals) {
  const std::size_t n = p.size();
  if (n < 3) return {};
  std::vector<int> mid(n * n, -1);
  for (std::size_t i = 0; i < n && i + 1 < joined_start.size(); ++i)
    for (std::size_t j = joined_start[i]; j < joined_start[i + 1]; ++j) {
      const auto k = std::size_t(joined[j]);
      if (k < n && k != i) mid[std::min(i, k) * n + std::max(i, k)] = kBarred;
    }
  return min_area_dp(p, mid, [](int, int) { return true; }, normals);
}

std::vector<Point3D> steering_normals(const std::vector<Point3D>& normals, std::size_t small,
                                      double agreement) {
  if (normals.size() <= small) return normals;
  Point3D sum;
  for (const Point3D& n : normals) sum += n;
  const double length = norm(sum);
  if (!(length > 0.0) || length < agreement * double(normals.size())) return {};
  return std::vector<Point3D>(normals.size(), sum / length);
}

std::vector<std::array<int, 3>> ear_triangulation(
    const std::vector<Point3D>& p, const std::vector<Point3D>& normals,
    const std::function<bool(int, int)>& allowed) {
  const int n = int(p.size());
  const std::size_t count = p.size();
  std::vector<int> prev(count), next(count);
  for (int i = 0; i < n; ++i) prev[std::size_t(i)] = (i + n - 1) % n, next[std::size_t(i)] = (i + 1) % n;
  auto angle = [&](int i) {
    const Point3D d1 = p[std::size_t(i)] - p[std::size_t(prev[std::size_t(i)])];
    const Point3D d2 = p[std::size_t(next[std::size_t(i)])] - p[std::size_t(i)];
    const double turn = std::atan2(dot(normals[std::size_t(i)], cross(d1, d2)), dot(d1, d2));
    return M_PI - turn;
  };
  std::vector<double> corner(count);
  for (int i = 0; i < n; ++i) corner[std::size_t(i)] = angle(i);
  std::set<std::pair<int, int>> chords;
  std::vector<char> gone(count, 0);
  std::vector<std::array<int, 3>> out;
  // Straight and reflex corners (pi or more) come after every convex one: a corner between
  // collinear neighbours would give a needle.
  auto key = [&](int c) { return corner[std::size_t(c)] + (corner[std::size_t(c)] > M_PI - 1e-6 ? 10.0 : 0.0); };
  // Whether another corner of the polygon lies in the triangle (a, i, b), seen along its normal.
  auto holds_corner = [&](int a, int i, int b) {
    const Point3D &pa = p[std::size_t(a)], &pi = p[std::size_t(i)], &pb = p[std::size_t(b)];
    const Point3D n = cross(pi - pa, pb - pa);
    const double eps = -1e-12 * norm2(n);  // corners on an edge count as inside
    for (int j = next[std::size_t(b)]; j != a; j = next[std::size_t(j)]) {
      const Point3D& q = p[std::size_t(j)];
      if (dot(cross(pi - pa, q - pa), n) >= eps && dot(cross(pb - pi, q - pi), n) >= eps &&
          dot(cross(pa - pb, q - pb), n) >= eps)
        return true;
    }
    return false;
  };
  for (int left = n; left > 3; --left) {
    std::vector<int> order;
    for (int i = 0; i < n; ++i)
      if (!gone[std::size_t(i)]) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](int x, int y) { return key(x) < key(y); });
    int best = -1;
    for (int i : order) {
      const int a = prev[std::size_t(i)], b = next[std::size_t(i)];
      if (chords.count({std::min(a, b), std::max(a, b)}) || !allowed(a, b)) continue;
      if (corner[std::size_t(i)] < M_PI && holds_corner(a, i, b)) continue;
      best = i;
      break;
    }
    if (best < 0) return {};
    const int a = prev[std::size_t(best)], b = next[std::size_t(best)];
    out.push_back({a, best, b});
    chords.insert({std::min(a, b), std::max(a, b)});
    gone[std::size_t(best)] = 1;
    next[std::size_t(a)] = b;
    prev[std::size_t(b)] = a;
    corner[std::size_t(a)] = angle(a);
    corner[std::size_t(b)] = angle(b);
  }
  for (int i = 0; i < n; ++i)
    if (!gone[std::size_t(i)]) {
      out.push_back({prev[std::size_t(i)], i, next[std::size_t(i)]});
      break;
    }
  return out;
}

}  // namespace tervik
