// Conversions between the repair mesh and the half-edge mesh.
#include "weaver/hole_mesh.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "weaver/vertex_sort.h"

namespace tervik {
namespace {

// Builds the half-edge structure directly from the face list, without add_face's searches:
// the faces' directed edges are sorted to pair each with its opposite. Returns false (hm then
// holds garbage) where the mesh is not a manifold with consistent orientation: an edge used
// twice in one direction or by more than two faces, or a vertex whose faces form several fans.
bool build_directly(const RepairMesh& mesh, HoleMesh& hm) {
  // Vertex indices fit in an int (the half-edge structure's handles): 16 bytes a use keep the
  // sort's traffic low.
  struct Use {
    std::int32_t lo, hi;  // the edge's vertices, smaller first
    long slot;            // 3 * face + corner: the face's edge from that corner to the next
  };
  const std::size_t nf = mesh.faces.size();
  for (const auto& f : mesh.faces)
    if (f.x == f.y || f.y == f.z || f.z == f.x) return false;
  const auto make = [&](std::size_t slot) {
    const long long a = mesh.faces[slot / 3][int(slot % 3)], b = mesh.faces[slot / 3][int((slot + 1) % 3)];
    return Use{std::int32_t(std::min(a, b)), std::int32_t(std::max(a, b)), long(slot)};
  };
  // By edge, then slot (the uses are made in slot order and the sort keeps it).
  const std::vector<Use> uses = sorted_by_vertex<Use>(
      3 * nf, mesh.vertices.size(), make, [](const Use& u) { return u.lo; }, [](const Use& u) { return u.hi; });
  const auto from_of = [&](long slot) { return mesh.faces[std::size_t(slot / 3)][int(slot % 3)]; };
  // Room for every edge at once (edges on the boundary come on top of 3 / 2 per face), and for
  // what closing the holes may add: growing the arrays later would copy them whole, while room
  // never used costs no memory pages.
  std::size_t edges = 0;
  for (std::size_t i = 0; i < uses.size(); ++i)
    edges += i == 0 || uses[i].lo != uses[i - 1].lo || uses[i].hi != uses[i - 1].hi;
  const auto room = [](std::size_t n) { return n + n / 8 + 64; };
  hm.reserve(room(mesh.vertices.size()), room(edges), room(nf));
  std::vector<HoleMesh::HalfedgeHandle> half(3 * nf);
  // Outgoing boundary half-edges per vertex: a manifold vertex has at most one.
  std::vector<HoleMesh::HalfedgeHandle> boundary_out(mesh.vertices.size());
  for (std::size_t i = 0; i < uses.size();) {
    std::size_t j = i + 1;
    while (j < uses.size() && uses[j].lo == uses[i].lo && uses[j].hi == uses[i].hi) ++j;
    if (j - i > 2) return false;
    const long first = uses[i].slot;
    const long long a = from_of(first), b = a == uses[i].lo ? uses[i].hi : uses[i].lo;
    const auto h = hm.new_edge(HoleMesh::VertexHandle(int(a)), HoleMesh::VertexHandle(int(b)));
    half[std::size_t(first)] = h;
    if (j - i == 2) {
      if (from_of(uses[i + 1].slot) != b) return false;  // same direction twice
      half[std::size_t(uses[i + 1].slot)] = hm.opposite_halfedge_handle(h);
    } else {
      auto& out = boundary_out[std::size_t(b)];
      if (out.is_valid()) return false;
      out = hm.opposite_halfedge_handle(h);
    }
    i = j;
  }
  for (std::size_t f = 0; f < nf; ++f) {
    const auto fh = hm.new_face();
    const std::array<HoleMesh::HalfedgeHandle, 3> h = {half[3 * f], half[3 * f + 1], half[3 * f + 2]};
    hm.set_halfedge_handle(fh, h[0]);
    for (int k = 0; k < 3; ++k) {
      hm.set_next_halfedge_handle(h[std::size_t(k)], h[std::size_t((k + 1) % 3)]);
      hm.set_face_handle(h[std::size_t(k)], fh);
      hm.set_halfedge_handle(hm.from_vertex_handle(h[std::size_t(k)]), h[std::size_t(k)]);
    }
  }
  // A boundary half-edge into v continues with the one leaving v; a boundary vertex keeps its
  // boundary half-edge as its outgoing one, as the half-edge structure expects.
  for (std::size_t v = 0; v < boundary_out.size(); ++v) {
    const auto out = boundary_out[v];
    if (!out.is_valid()) continue;
    const auto next = boundary_out[std::size_t(hm.to_vertex_handle(out).idx())];
    if (!next.is_valid()) return false;
    hm.set_next_halfedge_handle(out, next);
    hm.set_halfedge_handle(HoleMesh::VertexHandle(int(v)), out);
  }
  // One fan per vertex: turning around it from its outgoing half-edge meets every edge at it.
  std::vector<int> degree(mesh.vertices.size(), 0);
  for (auto e : hm.edges()) {
    ++degree[std::size_t(hm.to_vertex_handle(hm.halfedge_handle(e, 0)).idx())];
    ++degree[std::size_t(hm.to_vertex_handle(hm.halfedge_handle(e, 1)).idx())];
  }
  for (auto v : hm.vertices()) {
    const auto start = hm.halfedge_handle(v);
    if (!start.is_valid()) continue;
    int seen = 0;
    auto h = start;
    do {
      h = hm.next_halfedge_handle(hm.opposite_halfedge_handle(h));
      if (++seen > degree[std::size_t(v.idx())]) return false;
    } while (h != start);
    if (seen != degree[std::size_t(v.idx())]) return false;
  }
  return true;
}

}  // namespace

HoleMesh to_hole_mesh(const RepairMesh& mesh, long& refused) {
  HoleMesh hm;
  to_hole_mesh(mesh, refused, hm);
  return hm;
}

void to_hole_mesh(const RepairMesh& mesh, long& refused, HoleMesh& hm) {
  refused = 0;
  hm.clear();
  hm.reserve(mesh.vertices.size(), mesh.faces.size() * 3 / 2 + 3, mesh.faces.size());
  for (const Point3D& p : mesh.vertices) hm.add_vertex(to_vec(p));
  if (build_directly(mesh, hm)) return;
  // Faces one by one, leaving out those that would break the structure.
  hm.clear();
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
