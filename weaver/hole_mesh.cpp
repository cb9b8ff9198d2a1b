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

std::vector<int> faces_across(const HoleMesh& hm) {
  std::vector<int> across(3 * hm.n_faces());
  for (std::size_t f = 0; f < hm.n_faces(); ++f) {
    auto h = hm.halfedge_handle(HoleMesh::FaceHandle(int(f)));
    for (std::size_t k = 0; k < 3; ++k, h = hm.next_halfedge_handle(h))
      across[3 * f + k] = hm.face_handle(hm.opposite_halfedge_handle(h)).idx();
  }
  return across;
}

namespace {

// Sets out.count and out.largest from the pieces' sizes.
void find_largest(const std::vector<long>& size, FacePieces& out) {
  out.count = int(size.size());
  out.largest = size.empty() ? -1 : int(std::max_element(size.begin(), size.end()) - size.begin());
}

}  // namespace

FacePieces pieces_of(const std::vector<int>& across, const std::vector<char>& gone) {
  FacePieces out;
  const std::size_t n = across.size() / 3;
  out.piece.assign(n, -1);
  std::vector<long> size;
  std::vector<int> stack;
  for (std::size_t f = 0; f < n; ++f) {
    if (out.piece[f] >= 0 || (!gone.empty() && gone[f])) continue;
    const int id = int(size.size());
    size.push_back(0);
    out.piece[f] = id;
    stack.assign(1, int(f));
    while (!stack.empty()) {
      const auto g = std::size_t(stack.back());
      stack.pop_back();
      ++size.back();
      for (std::size_t k = 3 * g; k < 3 * g + 3; ++k) {
        const int q = across[k];
        if (q >= 0 && out.piece[std::size_t(q)] < 0 && (gone.empty() || !gone[std::size_t(q)]))
          out.piece[std::size_t(q)] = id, stack.push_back(q);
      }
    }
  }
  find_largest(size, out);
  return out;
}

std::vector<int> faces_after_collection(const HoleMesh& hm) {
  // The same two-pointer sweep as the collection's, which swaps the deletion marks along.
  const int n = int(hm.n_faces());
  std::vector<int> order(std::size_t(n), 0);
  std::vector<char> deleted(std::size_t(n), 0);
  for (int i = 0; i < n; ++i) {
    order[std::size_t(i)] = i;
    deleted[std::size_t(i)] = hm.status(HoleMesh::FaceHandle(i)).deleted();
  }
  if (n == 0) return order;
  int i0 = 0, i1 = n - 1;
  while (true) {
    while (!deleted[std::size_t(i0)] && i0 < i1) ++i0;
    while (deleted[std::size_t(i1)] && i0 < i1) --i1;
    if (i0 >= i1) break;
    std::swap(order[std::size_t(i0)], order[std::size_t(i1)]);
    std::swap(deleted[std::size_t(i0)], deleted[std::size_t(i1)]);
  }
  order.resize(std::size_t(deleted[std::size_t(i0)] ? i0 : i0 + 1));
  return order;
}

FacePieces reorder_pieces(const FacePieces& pieces, const std::vector<int>& order) {
  FacePieces out;
  out.piece.resize(order.size());
  std::vector<int> renamed(std::size_t(pieces.count), -1);
  std::vector<long> size;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const int old = pieces.piece[std::size_t(order[i])];
    if (old < 0) {
      out.piece[i] = -1;
      continue;
    }
    int& name = renamed[std::size_t(old)];
    if (name < 0) name = int(size.size()), size.push_back(0);
    out.piece[i] = name;
    ++size[std::size_t(name)];
  }
  find_largest(size, out);
  return out;
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
