// View selection by iterated conditional modes over a Potts model.
#include "tools/texture/view_selection.h"

#include <algorithm>
#include <tuple>

namespace tervik::texture {

std::vector<std::array<long, 3>> face_neighbours(const TriMesh& mesh) {
  // Every edge as (lower vertex, higher vertex, face, corner); equal edges end up side by side.
  struct Edge {
    std::uint32_t lo, hi;
    long face;
    int corner;
  };
  std::vector<Edge> edges;
  edges.reserve(mesh.faces.size() * 3);
  for (std::size_t f = 0; f < mesh.faces.size(); ++f)
    for (int k = 0; k < 3; ++k) {
      const std::uint32_t a = mesh.faces[f][k], b = mesh.faces[f][(k + 1) % 3];
      edges.push_back({std::min(a, b), std::max(a, b), long(f), k});
    }
  std::sort(edges.begin(), edges.end(), [](const Edge& x, const Edge& y) {
    return std::tie(x.lo, x.hi, x.face, x.corner) < std::tie(y.lo, y.hi, y.face, y.corner);
  });
  std::vector<std::array<long, 3>> out(mesh.faces.size(), {-1, -1, -1});
  for (std::size_t i = 0; i < edges.size();) {
    std::size_t j = i + 1;
    while (j < edges.size() && edges[j].lo == edges[i].lo && edges[j].hi == edges[i].hi) ++j;
    if (j - i == 2 && edges[i].face != edges[i + 1].face) {
      out[edges[i].face][edges[i].corner] = edges[i + 1].face;
      out[edges[i + 1].face][edges[i + 1].corner] = edges[i].face;
    }
    i = j;
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
  for (int sweep = 0; sweep < 50; ++sweep) {
    bool changed = false;
    for (std::size_t f = 0; f < faces; ++f) {
      if (label[f] < 0) continue;
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
      if (chosen != label[f]) label[f] = chosen, changed = true;
    }
    if (!changed) break;
  }
  return label;
}

}  // namespace tervik::texture
