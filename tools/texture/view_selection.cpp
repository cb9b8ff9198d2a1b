// View selection by iterated conditional modes over a Potts model.
#include "tools/texture/view_selection.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace tervik::texture {

std::vector<std::array<long, 3>> face_neighbours(const TriMesh& mesh) {
  // Every edge (face * 3 + corner) in the bucket of its lower vertex, in face order, then each
  // bucket (a few edges) sorted by the higher vertex: equal edges end up side by side.
  const std::size_t edges = mesh.faces.size() * 3;
  std::vector<std::uint32_t> start(mesh.positions.size() + 1, 0);
  const auto ends = [&](std::size_t e) {
    const Face& f = mesh.faces[e / 3];
    const std::uint32_t a = f[e % 3], b = f[(e % 3 + 1) % 3];
    return std::pair<std::uint32_t, std::uint32_t>(std::min(a, b), std::max(a, b));
  };
  for (std::size_t e = 0; e < edges; ++e) ++start[ends(e).first + 1];
  for (std::size_t v = 0; v + 1 < start.size(); ++v) start[v + 1] += start[v];
  struct Edge {
    std::uint32_t hi;
    std::uint32_t corner;  // face * 3 + corner
  };
  std::vector<Edge> sorted(edges);
  {
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
    for (std::size_t e = 0; e < edges; ++e) {
      const auto [lo, hi] = ends(e);
      sorted[fill[lo]++] = {hi, std::uint32_t(e)};
    }
  }
  std::vector<std::array<long, 3>> out(mesh.faces.size(), {-1, -1, -1});
  for (std::size_t v = 0; v + 1 < start.size(); ++v) {
    const auto from = sorted.begin() + start[v], to = sorted.begin() + start[v + 1];
    std::stable_sort(from, to, [](const Edge& x, const Edge& y) { return x.hi < y.hi; });
    for (auto i = from; i != to;) {
      auto j = i + 1;
      while (j != to && j->hi == i->hi) ++j;
      const long f = long(i->corner / 3);
      if (j - i == 2 && f != long((i + 1)->corner / 3)) {
        const long g = long((i + 1)->corner / 3);
        out[f][i->corner % 3] = g;
        out[g][(i + 1)->corner % 3] = f;
      }
      i = j;
    }
  }
  return out;
}

std::vector<int> select_views(const std::vector<std::vector<float>>& quality,
                              const std::vector<std::array<long, 3>>& neighbours,
                              double smoothness) {
  const std::size_t faces = neighbours.size(), views = quality.size();
  std::vector<int> label(faces, -1);
  std::vector<float> best(faces, 0.0f);
  for (std::size_t f = 0; f < faces; ++f)
    for (std::size_t v = 0; v < views; ++v)
      if (quality[v][f] > best[f]) best[f] = quality[v][f], label[f] = int(v);
  // A face is visited again only when a neighbour's camera changed since its last visit: with
  // its own and its neighbours' cameras as they were, it would keep its camera.
  std::vector<char> dirty(faces, 1);
  for (int sweep = 0; sweep < 50; ++sweep) {
    bool changed = false;
    for (std::size_t f = 0; f < faces; ++f) {
      if (label[f] < 0 || !dirty[f]) continue;
      dirty[f] = 0;
      const auto cost = [&](int v) {
        double c = 1.0 - double(quality[v][f]) / double(best[f]);
        for (long g : neighbours[f])
          if (g >= 0 && label[g] != v) c += smoothness;
        return c;
      };
      int chosen = label[f];
      double lowest = cost(chosen);
      for (std::size_t v = 0; v < views; ++v) {
        if (int(v) == label[f] || !(quality[v][f] > 0.0f)) continue;
        const double c = cost(int(v));
        if (c < lowest) lowest = c, chosen = int(v);
      }
      if (chosen != label[f]) {
        label[f] = chosen, changed = true;
        for (long g : neighbours[f])
          if (g >= 0) dirty[std::size_t(g)] = 1;
      }
    }
    if (!changed) break;
  }
  return label;
}

}  // namespace tervik::texture
