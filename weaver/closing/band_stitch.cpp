// Least-length stitching of the band between two closed polygons.
#include "weaver/closing/band_stitch.h"

#include <limits>

namespace tervik {

std::vector<std::array<int, 3>> stitch_band(const std::vector<Point3D>& outer,
                                            const std::vector<Point3D>& inner) {
  const std::size_t n = outer.size(), m = inner.size();
  if (n < 1 || m < 1 || n + m < 3) return {};
  // State (i, j): the last bridge joins outer[i mod n] and inner[-j mod m]: the stitch walks
  // forward on the outer polygon and backward on the inner one, both the same way round the
  // band, from (0, 0) to (n, m), the start's bridge again. States (0, j) and (n, j) stand for
  // the same bridge, and so do (i, 0) and (i, m): a path through both twins would put a bridge
  // in more than two triangles. So the path either leaves (0, 0) along the outer polygon and
  // enters (n, m) along the inner one, never entering (0, j > 0), (i < n, m) or (n, 0), or the
  // other way round; of both, the shorter.
  const auto q = [m](std::size_t j) { return (m - j % m) % m; };
  const auto bridge = [&](std::size_t i, std::size_t j) { return norm(outer[i % n] - inner[q(j)]); };
  const std::size_t w = m + 1;
  const double inf = std::numeric_limits<double>::infinity();
  // cost: least bridge length to reach a state; step: 0 when reached from (i - 1, j), 1 from
  // (i, j - 1).
  std::vector<double> cost[2];
  std::vector<char> step[2];
  for (int outer_first = 0; outer_first < 2; ++outer_first) {
    cost[outer_first].assign((n + 1) * w, inf);
    step[outer_first].assign((n + 1) * w, 0);
    std::vector<double>& c = cost[outer_first];
    const auto forbidden = [&](std::size_t i, std::size_t j) {
      return outer_first ? (i == 0 && j > 0) || (j == m && i < n) || (i == n && j == 0)
                         : (j == 0 && i > 0) || (i == n && j < m) || (j == m && i == 0);
    };
    c[0] = 0.0;
    for (std::size_t i = 0; i <= n; ++i)
      for (std::size_t j = 0; j <= m; ++j) {
        const std::size_t s = i * w + j;
        if (forbidden(i, j)) continue;
        if (i > 0 && c[s - w] + bridge(i, j) < c[s]) c[s] = c[s - w] + bridge(i, j), step[outer_first][s] = 0;
        if (j > 0 && c[s - 1] + bridge(i, j) < c[s]) c[s] = c[s - 1] + bridge(i, j), step[outer_first][s] = 1;
      }
  }
  const std::size_t last = n * w + m;
  const std::vector<char>& path = step[cost[1][last] <= cost[0][last] ? 1 : 0];
  std::vector<std::array<int, 3>> out;
  out.reserve(n + m);
  const int in = int(n);
  for (std::size_t i = n, j = m; i > 0 || j > 0;) {
    if (path[i * w + j] == 0) {
      // Advance on the outer polygon: outer[i-1] -> outer[i], then across to the inner corner.
      --i;
      out.push_back({int(i % n), int((i + 1) % n), in + int(q(j))});
    } else {
      // Advance (backward) on the inner polygon: inner[-j] -> inner[-j+1], then to the outer corner.
      --j;
      out.push_back({in + int(q(j + 1)), in + int(q(j)), int(i % n)});
    }
  }
  return out;
}

}  // namespace tervik
