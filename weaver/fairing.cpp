// Membrane fairing by Gauss-Seidel sweeps over the umbrella operator.
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

void fair_vertices(HoleMesh& hm, const std::vector<HoleMesh::VertexHandle>& free, int iterations) {
  for (int it = 0; it < iterations; ++it)
    for (const auto v : free) hm.set_point(v, hm.point(v) + umbrella(hm, v));
}

}  // namespace tervik
