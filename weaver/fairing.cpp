// Membrane fairing by Gauss-Seidel sweeps over the umbrella operator.
#include "weaver/fairing.h"

#include <algorithm>

namespace tervik {

OpenMesh::Vec3d umbrella(const HoleMesh& hm, HoleMesh::VertexHandle v) {
  OpenMesh::Vec3d sum(0.0, 0.0, 0.0);
  int count = 0;
  for (auto w : hm.vv_range(v)) {
    sum += hm.point(w);
    ++count;
  }
  if (count == 0) return sum;
  return sum / double(count) - hm.point(v);
}

namespace {

// Where one Gauss-Seidel step moves a vertex at q whose neighbours are p[around[b .. e - 1]]:
// the mean of the neighbours (written as q plus the umbrella, the same rounding as always).
OpenMesh::Vec3d umbrella_step(const OpenMesh::Vec3d* p, const std::vector<int>& around,
                              std::size_t b, std::size_t e, const OpenMesh::Vec3d& q) {
  OpenMesh::Vec3d sum(0.0, 0.0, 0.0);
  for (std::size_t k = b; k < e; ++k) sum += p[around[k]];
  return q + (sum / double(e - b) - q);
}

}  // namespace

void fair_vertices(HoleMesh& hm, const std::vector<HoleMesh::VertexHandle>& free, int iterations) {
  if (iterations <= 0 || free.empty()) return;
  // The neighbours of each free vertex, listed once (in the order the umbrella sums them), so
  // that the sweeps run over flat arrays instead of circulating the half-edges every time.
  std::vector<std::size_t> start{0};
  std::vector<int> around;
  start.reserve(free.size() + 1);
  for (const auto v : free) {
    for (auto w : hm.vv_range(v)) around.push_back(w.idx());
    start.push_back(around.size());
  }
  const OpenMesh::Vec3d* p = hm.points();
  for (int it = 0; it < iterations; ++it)
    for (std::size_t i = 0; i < free.size(); ++i) {
      const std::size_t b = start[i], e = start[i + 1];
      if (b == e) continue;
      OpenMesh::Vec3d& q = hm.point(free[i]);
      q = umbrella_step(p, around, b, e, q);
    }
}

void fair_vertices_unfolded(HoleMesh& hm, const std::vector<HoleMesh::VertexHandle>& free,
                            int iterations, const std::vector<Point3D>& normals, double settled) {
  if (iterations <= 0 || free.empty()) return;
  // Per free vertex: its neighbours, and its faces as the pairs (a, b) that make (v, a, b) with
  // the sum of their three corners' normals.
  struct Wedge {
    int a, b;
    OpenMesh::Vec3d normal;
  };
  std::vector<std::size_t> start{0}, wedge_start{0};
  std::vector<int> around;
  std::vector<Wedge> wedges;
  // Sized for six neighbours a vertex (the patches' usual number) instead of grown by doubling.
  start.reserve(free.size() + 1);
  wedge_start.reserve(free.size() + 1);
  around.reserve(6 * free.size());
  wedges.reserve(6 * free.size());
  for (const auto v : free) {
    for (auto w : hm.vv_range(v)) around.push_back(w.idx());
    start.push_back(around.size());
    for (auto h : hm.voh_range(v)) {
      if (hm.is_boundary(h)) continue;
      const auto a = hm.to_vertex_handle(h), b = hm.to_vertex_handle(hm.next_halfedge_handle(h));
      wedges.push_back({a.idx(), b.idx(),
                        to_vec(normals[std::size_t(v.idx())] + normals[std::size_t(a.idx())] +
                               normals[std::size_t(b.idx())])});
    }
    wedge_start.push_back(wedges.size());
  }
  const OpenMesh::Vec3d* p = hm.points();
  const auto against = [&](std::size_t i, const OpenMesh::Vec3d& x) {
    int k = 0;
    for (std::size_t w = wedge_start[i]; w < wedge_start[i + 1]; ++w)
      k += (((p[wedges[w].a] - x) % (p[wedges[w].b] - x)) | wedges[w].normal) < 0.0;
    return k;
  };
  const double settled2 = settled * settled;
  for (int it = 0; it < iterations; ++it) {
    double largest2 = 0.0;  // the largest squared move of the sweep
    for (std::size_t i = 0; i < free.size(); ++i) {
      const std::size_t b = start[i], e = start[i + 1];
      if (b == e) continue;
      OpenMesh::Vec3d& q = hm.point(free[i]);
      const OpenMesh::Vec3d moved = umbrella_step(p, around, b, e, q);
      // (The count before the move is needed only where some face would be against them.)
      const int after = against(i, moved);
      if (after == 0 || after <= against(i, q)) {
        largest2 = std::max(largest2, (moved - q).sqrnorm());
        q = moved;
      }
    }
    if (largest2 < settled2) break;
  }
}

}  // namespace tervik
