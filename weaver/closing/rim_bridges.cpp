// Pairs of rim edges of different pieces close enough to be bridged.
#include "weaver/closing/rim_bridges.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>

namespace tervik {

std::vector<std::tuple<double, std::size_t, std::size_t>> bridge_candidates(const std::vector<RimEdge>& edges) {
  std::vector<std::tuple<double, std::size_t, std::size_t>> candidates;
  double widest = 0.0;
  for (const RimEdge& e : edges) widest = std::max(widest, e.reach);
  if (edges.empty() || widest <= 0.0 ||
      std::all_of(edges.begin(), edges.end(), [&](const RimEdge& e) { return e.group == edges[0].group; }))
    return candidates;
  // Each edge's midpoint and |x| + |y| + |z| of it, for the rounding of distances between
  // midpoints; the largest of those. An edge whose midpoint is not finite (a corner that is
  // not, or one so far out that the sum overflows) is paired with none.
  struct Mid {
    Point3D at;
    double size;
  };
  std::vector<Mid> mids;
  mids.reserve(edges.size());
  std::vector<char> finite(edges.size(), 0);
  double largest_size = 0.0;
  for (std::size_t i = 0; i < edges.size(); ++i) {
    const Point3D at = (edges[i].from + edges[i].to) * 0.5;
    mids.push_back({at, std::abs(at.x) + std::abs(at.y) + std::abs(at.z)});
    finite[i] = std::isfinite(at.x) && std::isfinite(at.y) && std::isfinite(at.z);
    if (finite[i]) largest_size = std::max(largest_size, mids.back().size);
  }
  // Each edge's bridges are no longer than its reach, so that the other edge's midpoint lies
  // within its reach of its own (half the sum of the two new edges); a pair's `apart` below
  // (the smaller reach with a slack for the rounding of the midpoints) is at most either edge's
  // `far` (the same sum with its own reach and the largest size, rounded the same way). Where
  // the midpoints' x alone differ by more than that, so do the midpoints, whatever the rounding
  // of their distance (a rounded sum of squares is never below one of its terms).
  std::vector<double> far2(edges.size());
  for (std::size_t i = 0; i < edges.size(); ++i) {
    const double far = edges[i].reach * (1.0 + 1e-6) + 1e-9 * (mids[i].size + largest_size);
    far2[i] = far * far;
  }
  // Edges by cell of side `widest`: two whose bridge is short enough lie in neighbouring cells.
  const auto cell_of = [&](const Point3D& p) {
    return std::array<long long, 3>{(long long)std::floor(p.x / widest), (long long)std::floor(p.y / widest),
                                    (long long)std::floor(p.z / widest)};
  };
  // Each cell lists its edges by piece and, within each piece, by the x of their midpoints, and
  // where each piece's run ends: an edge's pairs with its own piece (most of the edges near it)
  // are passed over a run at a time, and in the other runs only the stretch whose x lies within
  // its `far` is read.
  struct Cell {
    std::vector<std::size_t> edges;
    std::vector<std::size_t> run_ends;
  };
  std::map<std::array<long long, 3>, Cell> cells;
  for (std::size_t i = 0; i < edges.size(); ++i)
    if (finite[i]) cells[cell_of(mids[i].at)].edges.push_back(i);
  for (auto& [key, cell] : cells) {
    std::vector<std::size_t>& listed = cell.edges;
    std::sort(listed.begin(), listed.end(), [&](std::size_t x, std::size_t y) {
      return edges[x].group < edges[y].group ||
             (edges[x].group == edges[y].group &&
              (mids[x].at.x < mids[y].at.x || (mids[x].at.x == mids[y].at.x && x < y)));
    });
    for (std::size_t k = 1; k <= listed.size(); ++k)
      if (k == listed.size() || edges[listed[k]].group != edges[listed[k - 1]].group) cell.run_ends.push_back(k);
  }
  // Cell by cell: its neighbours (itself included) are looked up once for all its edges.
  std::vector<const Cell*> near;
  for (const auto& [c, cell] : cells) {
    near.clear();
    for (long long dx = -1; dx <= 1; ++dx)
      for (long long dy = -1; dy <= 1; ++dy)
        for (long long dz = -1; dz <= 1; ++dz) {
          const auto it = cells.find({c[0] + dx, c[1] + dy, c[2] + dz});
          if (it != cells.end()) near.push_back(&it->second);
        }
    for (const std::size_t i : cell.edges) {
      const double x = mids[i].at.x, reach2 = far2[i];
      const auto too_far_left = [&](std::size_t j) {
        const double dx = x - mids[j].at.x;
        return dx > 0.0 && dx * dx > reach2;
      };
      for (const Cell* other : near) {
        // In each run of another piece, the pairs (i, j > i) within reach.
        const std::vector<std::size_t>& listed = other->edges;
        auto run = listed.begin();
        for (const std::size_t end : other->run_ends) {
          const auto run_end = listed.begin() + long(end);
          const auto first =
              edges[*run].group == edges[i].group ? run_end : std::partition_point(run, run_end, too_far_left);
          run = run_end;
          for (auto at = first; at != run_end; ++at) {
            const std::size_t j = *at;
            const double dx = x - mids[j].at.x, dx2 = dx * dx;
            if (dx < 0.0 && dx2 > reach2) break;
            if (j < i || dx2 > far2[j]) continue;
            const RimEdge &ei = edges[i], &ej = edges[j];
            const double within = std::min(ei.reach, ej.reach);
            const double apart = within * (1.0 + 1e-6) + 1e-9 * (mids[i].size + mids[j].size);
            if (dist2(mids[i].at, mids[j].at) > apart * apart) continue;
            if (dot(ei.to - ei.from, ej.to - ej.from) >= 0.0) continue;  // not facing each other
            const double across = norm(ei.to - ej.from), back = norm(ej.to - ei.from);
            if (across <= within && back <= within) candidates.emplace_back(across + back, i, j);
          }
        }
      }
    }
  }
  // (Sorted by length, then by the edges' numbers: the order they were found in has no say.)
  std::sort(candidates.begin(), candidates.end());
  return candidates;
}

}  // namespace tervik
