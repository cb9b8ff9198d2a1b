// Bi-Laplacian fairing by Gauss-Seidel sweeps over the umbrella operator.
#include "weaver/fairing.h"

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

void fair_vertices(HoleMesh& hm, const std::vector<HoleMesh::VertexHandle>& free, int iterations,
                   bool bilaplacian) {
  // Per free vertex: its valence and the weight 1 + (1/n) sum over neighbours of 1/n_j, the
  // diagonal of the squared umbrella operator.
  std::vector<double> diagonal(free.size(), 1.0);
  for (std::size_t i = 0; i < free.size(); ++i) {
    const double n = double(hm.valence(free[i]));
    if (n == 0.0) continue;
    double s = 0.0;
    for (auto w : hm.vv_range(free[i])) s += 1.0 / double(std::max(1u, hm.valence(w)));
    diagonal[i] = 1.0 + s / n;
  }
  for (int it = 0; it < iterations; ++it) {
    for (std::size_t i = 0; i < free.size(); ++i) {
      const auto v = free[i];
      OpenMesh::Vec3d mean(0.0, 0.0, 0.0);
      int count = 0;
      for (auto w : hm.vv_range(v)) {
        mean += umbrella(hm, w);
        ++count;
      }
      if (count == 0) continue;
      const OpenMesh::Vec3d u2 = mean / double(count) - umbrella(hm, v);
      if (bilaplacian) hm.set_point(v, hm.point(v) - u2 / diagonal[i]);
      else hm.set_point(v, hm.point(v) + umbrella(hm, v));
    }
  }
}

}  // namespace tervik
