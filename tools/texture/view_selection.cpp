// View selection by iterated conditional modes over a Potts model.
#include "tools/texture/view_selection.h"

#include <algorithm>
#include <tuple>

namespace tervik::texture {

std::vector<std::array<long, 3>> face_neighbours(const TriMesh& mesh) {
  // Every edge as its vertices (lower in the high half) and face * 3 + corner; equal edges end up
  // side by side, in face order.
  struct Edge {
    std::uint64_t vertices;
    std::uint64_t corner;
  };
  std::vector<Edge> edges;
  edges.reserve(mesh.faces.size() * 3);
  for (std::size_t f = 0; f < mesh.faces.size(); ++f)
    for (int k = 0; k < 3; ++k) {
      const std::uint32_t a = mesh.faces[f][k], b = mesh.faces[f][(k + 1) % 3];
      edges.push_back({std::uint64_t(std::min(a, b)) << 32 | std::max(a, b), 3 * f + std::uint64_t(k)});
    }
  std::sort(edges.begin(), edges.end(), [](const Edge& x, const Edge& y) {
    return x.vertices != y.vertices ? x.vertices < y.vertices : x.corner < y.corner;
  });
  std::vector<std::array<long, 3>> out(mesh.faces.size(), {-1, -1, -1});
  for (std::size_t i = 0; i < edges.size();) {
    std::size_t j = i + 1;
    while (j < edges.size() && edges[j].vertices == edges[i].vertices) ++j;
    const long f = long(edges[i].corner / 3), g = long(edges[i + 1 < j ? i + 1 : i].corner / 3);
    if (j - i == 2 && f != g) {
      out[f][edges[i].corner % 3] = g;
      out[g][edges[i + 1].corner % 3] = f;
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
