// Conversions between the repair mesh and the half-edge mesh.
#include "weaver/hole_mesh.h"

namespace tervik {

HoleMesh to_hole_mesh(const RepairMesh& mesh, long& refused) {
  HoleMesh hm;
  refused = 0;
  hm.reserve(mesh.vertices.size(), mesh.faces.size() * 3 / 2, mesh.faces.size());
  for (const Point3D& p : mesh.vertices) hm.add_vertex(to_vec(p));
  // OpenMesh reports refused faces on its error stream; the count says it here instead.
  for (const auto& f : mesh.faces) {
    const HoleMesh::VertexHandle a(int(f.x)), b(int(f.y)), c(int(f.z));
    // add_face refuses a face whose edge already has a face on the same side, or whose vertex
    // has no free gap left; testing first keeps it quiet.
    bool ok = true;
    for (auto [s, t] : {std::pair{a, b}, std::pair{b, c}, std::pair{c, a}}) {
      const auto h = hm.find_halfedge(s, t);
      if (h.is_valid() && !hm.is_boundary(h)) ok = false;
    }
    for (auto v : {a, b, c})
      if (!hm.is_isolated(v) && !hm.is_boundary(v)) ok = false;
    if (!ok || !hm.add_face(a, b, c).is_valid()) ++refused;
  }
  return hm;
}

void from_hole_mesh(const HoleMesh& hm, RepairMesh& mesh) {
  mesh.vertices.resize(hm.n_vertices());
  for (std::size_t i = 0; i < hm.n_vertices(); ++i)
    mesh.vertices[i] = to_point(hm.point(HoleMesh::VertexHandle(int(i))));
  mesh.faces.clear();
  mesh.faces.reserve(hm.n_faces());
  for (auto f : hm.faces()) {
    auto it = hm.cfv_iter(f);
    const long long a = it->idx(), b = (++it)->idx(), c = (++it)->idx();
    mesh.faces.emplace_back(a, b, c);
  }
}

}  // namespace tervik
