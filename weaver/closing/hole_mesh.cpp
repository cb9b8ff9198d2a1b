// Conversions between the repair mesh and the half-edge mesh.
#include "weaver/closing/hole_mesh.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <tuple>

#include "weaver/closing/vertex_sort.h"

namespace tervik {
namespace {

// Room reserved in the half-edge mesh's tables for n elements: closing the holes adds to them,
// and growing the arrays later would copy them whole, while room never used costs no memory pages.
std::size_t room(std::size_t n) { return n + n / 8 + 64; }

// Builds the half-edge structure directly from the face list, without add_face's searches:
// the faces' directed edges are sorted to pair each with its opposite. Returns false (hm then
// holds garbage) where the mesh is not a manifold with consistent orientation: an edge used
// twice in one direction or by more than two faces, or a vertex whose faces form several fans.
// Where it returns true and `across` is given, across[3 f + k] is the face across the edge from
// corner k of face f to the next corner (-1 on the boundary).
bool build_directly(const RepairMesh& mesh, HoleMesh& hm, std::vector<int>* across) {
  const std::size_t nf = mesh.faces.size(), nv = mesh.vertices.size();
  // Handles are ints: every slot (3 * face + corner) and vertex index must fit.
  if (3 * nf >= std::size_t(INT32_MAX) || nv >= std::size_t(INT32_MAX)) return false;
  for (const auto& f : mesh.faces)
    if (f.x == f.y || f.y == f.z || f.z == f.x) return false;
  const auto from_of = [&](std::size_t slot) { return mesh.faces[slot / 3][int(slot % 3)]; };
  const auto to_of = [&](std::size_t slot) { return mesh.faces[slot / 3][int((slot + 1) % 3)]; };
  // The use of the same edge by the face across (its slot; -1 on the boundary), and the
  // half-edge of each slot (the face's edge from that corner to the next).
  std::vector<int> twin(3 * nf, -1), half(3 * nf);
  std::size_t edges = 0;
  {
    // The uses of each edge, by its smaller vertex, then its larger one, then slot (the uses are
    // made in slot order and the sort keeps it); the smaller vertex is the run a use lies in,
    // which keeps a use to 8 bytes and the table that every slot passes through small.
    struct Use {
      std::int32_t hi;    // the edge's larger vertex
      std::int32_t slot;
    };
    std::vector<std::size_t> start;
    const std::vector<Use> uses = runs_by_vertex<Use>(
        3 * nf, nv, [&](std::size_t slot) { return std::size_t(std::min(from_of(slot), to_of(slot))); },
        [&](std::size_t slot) { return Use{std::int32_t(std::max(from_of(slot), to_of(slot))), std::int32_t(slot)}; },
        [](const Use& u) { return u.hi; }, start);
    // Edges are numbered in the order of their vertex pairs; half-edge 2 e runs the way its
    // first use does.
    for (std::size_t lo = 0; lo < nv; ++lo)
      for (std::size_t i = start[lo]; i < start[lo + 1];) {
        std::size_t j = i + 1;
        while (j < start[lo + 1] && uses[j].hi == uses[i].hi) ++j;
        if (j - i > 2) return false;
        const int h = 2 * int(edges++);
        const auto first = std::size_t(uses[i].slot);
        half[first] = h;
        if (j - i == 2) {
          const auto second = std::size_t(uses[i + 1].slot);
          if (from_of(second) != to_of(first)) return false;  // same direction twice
          half[second] = h ^ 1;
          twin[first] = int(second);
          twin[second] = int(first);
        }
        i = j;
      }
  }
  // The table of uses is gone before the half-edge mesh's tables are made, so that they can
  // take its memory. Every edge and face at once (links unset), filled in below: the same as
  // making them one by one, without growing the tables element by element.
  hm.reserve(room(nv), room(edges), room(nf));
  hm.resize(hm.n_vertices(), edges, nf);
  // Outgoing boundary half-edges per vertex: a manifold vertex has at most one.
  std::vector<HoleMesh::HalfedgeHandle> boundary_out(nv);
  for (std::size_t slot = 0; slot < 3 * nf; ++slot) {
    const HoleMesh::HalfedgeHandle h(half[slot]);
    const auto b = to_of(slot);
    hm.set_vertex_handle(h, HoleMesh::VertexHandle(int(b)));
    if (twin[slot] >= 0) continue;
    hm.set_vertex_handle(hm.opposite_halfedge_handle(h), HoleMesh::VertexHandle(int(from_of(slot))));
    auto& out = boundary_out[std::size_t(b)];
    if (out.is_valid()) return false;
    out = hm.opposite_halfedge_handle(h);
  }
  for (std::size_t f = 0; f < nf; ++f) {
    const HoleMesh::FaceHandle fh{int(f)};
    const std::array<HoleMesh::HalfedgeHandle, 3> h = {HoleMesh::HalfedgeHandle(half[3 * f]),
                                                       HoleMesh::HalfedgeHandle(half[3 * f + 1]),
                                                       HoleMesh::HalfedgeHandle(half[3 * f + 2])};
    hm.set_halfedge_handle(fh, h[0]);
    for (int k = 0; k < 3; ++k) {
      hm.set_next_halfedge_handle(h[std::size_t(k)], h[std::size_t((k + 1) % 3)]);
      hm.set_face_handle(h[std::size_t(k)], fh);
      hm.set_halfedge_handle(hm.from_vertex_handle(h[std::size_t(k)]), h[std::size_t(k)]);
    }
  }
  half = std::vector<int>();
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
  boundary_out = std::vector<HoleMesh::HalfedgeHandle>();
  // One fan per vertex. Corner k of face f (slot 3 f + k: the edge leaving that corner) leads
  // to the corner at the same vertex of the face across that edge; the fans are the cycles of
  // these steps and their chains, which start at a corner whose edge coming in is on the
  // boundary and end at one whose edge leaving is. Every vertex in use has one or more, so each
  // has exactly one when there are as many as vertices in use. (The same as turning around
  // each vertex on the half-edges, on tables a fraction of their size.)
  std::vector<char> seen(3 * nf, 0), used(nv, 0);
  long fans = 0;
  const auto walk = [&](std::size_t corner) {
    ++fans;
    while (!seen[corner]) {
      seen[corner] = 1;
      const int next = twin[corner];
      if (next < 0) break;
      corner = 3 * (std::size_t(next) / 3) + (std::size_t(next) % 3 + 1) % 3;
    }
  };
  for (std::size_t c = 0; c < 3 * nf; ++c)
    if (twin[3 * (c / 3) + (c % 3 + 2) % 3] < 0) walk(c);
  for (std::size_t c = 0; c < 3 * nf; ++c)
    if (!seen[c]) walk(c);
  long in_use = 0;
  for (const auto& f : mesh.faces)
    for (int k = 0; k < 3; ++k) in_use += !used[std::size_t(f[k])], used[std::size_t(f[k])] = 1;
  if (fans != in_use) return false;
  if (across != nullptr) {
    for (int& t : twin) t = t < 0 ? -1 : t / 3;
    *across = std::move(twin);
  }
  return true;
}

// Adds mesh's vertices to the empty hm, all at once: the same as add_vertex for each, which
// would grow every vertex property one element at a time.
void add_vertices(const RepairMesh& mesh, HoleMesh& hm) {
  hm.resize(mesh.vertices.size(), 0, 0);
  for (std::size_t v = 0; v < mesh.vertices.size(); ++v)
    hm.set_point(HoleMesh::VertexHandle(int(v)), to_vec(mesh.vertices[v]));
}

}  // namespace

HoleMesh to_hole_mesh(const RepairMesh& mesh, long& refused) {
  HoleMesh hm;
  to_hole_mesh(mesh, refused, hm);
  return hm;
}

void to_hole_mesh(const RepairMesh& mesh, long& refused, HoleMesh& hm, std::vector<int>* across) {
  refused = 0;
  hm.clear();
  // Edges and faces: build_directly reserves what it needs (a first guess would be one more
  // table to move out of).
  hm.reserve(room(mesh.vertices.size()), 0, 0);
  add_vertices(mesh, hm);
  if (build_directly(mesh, hm, across)) return;
  // Faces one by one, leaving out those that would break the structure.
  hm.clear();
  hm.reserve(mesh.vertices.size(), mesh.faces.size() * 3 / 2, mesh.faces.size());
  add_vertices(mesh, hm);
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
  if (across != nullptr) *across = faces_across(hm);
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

namespace {

// The garbage collection's sweep over elements marked deleted: from the front, each deleted
// element takes the last one kept, whose place is then marked deleted. Appends the moves
// (from, to) to `moves` and returns how many elements are kept (the first ones).
std::size_t sweep(std::vector<char>& deleted, std::vector<std::pair<int, int>>& moves) {
  if (deleted.empty()) return 0;
  int i0 = 0, i1 = int(deleted.size()) - 1;
  while (true) {
    while (!deleted[std::size_t(i0)] && i0 < i1) ++i0;
    while (deleted[std::size_t(i1)] && i0 < i1) --i1;
    if (i0 >= i1) break;
    moves.emplace_back(i1, i0);
    std::swap(deleted[std::size_t(i0)], deleted[std::size_t(i1)]);
  }
  return std::size_t(deleted[std::size_t(i0)] ? i0 : i0 + 1);
}

// The deletion marks of hm's faces.
std::vector<char> deleted_faces(const HoleMesh& hm) {
  std::vector<char> deleted(hm.n_faces(), 0);
  for (std::size_t f = 0; f < deleted.size(); ++f) deleted[f] = hm.status(HoleMesh::FaceHandle(int(f))).deleted();
  return deleted;
}

// Face order after a sweep that made `moves` and kept `kept` faces.
std::vector<int> order_after(std::size_t n, const std::vector<std::pair<int, int>>& moves, std::size_t kept) {
  std::vector<int> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = int(i);
  for (const auto& [from, to] : moves) std::swap(order[std::size_t(from)], order[std::size_t(to)]);
  order.resize(kept);
  return order;
}

// Whether hm has the properties collect_garbage moves itself (points and status only) and no
// deleted vertex.
bool plain_for_collection(const HoleMesh& hm) {
  if (!hm.has_vertex_status() || !hm.has_edge_status() || !hm.has_halfedge_status() || !hm.has_face_status())
    return false;
  HoleMesh plain;
  plain.request_vertex_status();
  plain.request_edge_status();
  plain.request_halfedge_status();
  plain.request_face_status();
  if (hm.n_vprops() != plain.n_vprops() || hm.n_hprops() != plain.n_hprops() ||
      hm.n_eprops() != plain.n_eprops() || hm.n_fprops() != plain.n_fprops())
    return false;
  for (auto v : hm.all_vertices())
    if (hm.status(v).deleted()) return false;
  return true;
}

}  // namespace

std::vector<int> faces_after_collection(const HoleMesh& hm) {
  std::vector<char> deleted = deleted_faces(hm);
  std::vector<std::pair<int, int>> moves;
  const std::size_t kept = sweep(deleted, moves);
  return order_after(hm.n_faces(), moves, kept);
}

std::vector<int> collect_garbage(HoleMesh& hm) {
  using HH = HoleMesh::HalfedgeHandle;
  using FH = HoleMesh::FaceHandle;
  using VH = HoleMesh::VertexHandle;
  std::vector<char> deleted = deleted_faces(hm);
  std::vector<std::pair<int, int>> face_moves, edge_moves;
  const std::size_t faces_kept = sweep(deleted, face_moves);
  std::vector<int> order = order_after(hm.n_faces(), face_moves, faces_kept);
  if (!plain_for_collection(hm)) {
    hm.garbage_collection();
    return order;
  }
  deleted.assign(hm.n_edges(), 0);
  for (std::size_t e = 0; e < deleted.size(); ++e) deleted[e] = hm.status(HoleMesh::EdgeHandle(int(e))).deleted();
  const std::size_t edges_kept = sweep(deleted, edge_moves);
  // New handles of the elements that move. Only elements past the kept ones move (each into the
  // place of a deleted one), so the new index of each element there (-1: deleted) is all the
  // lookup needs.
  std::vector<int> edge_to(hm.n_edges() - edges_kept, -1), face_to(hm.n_faces() - faces_kept, -1);
  for (const auto& [from, to] : edge_moves) edge_to[std::size_t(from) - edges_kept] = to;
  for (const auto& [from, to] : face_moves) face_to[std::size_t(from) - faces_kept] = to;
  const auto moved_h = [&](HH h) {
    if (!h.is_valid() || std::size_t(h.idx() / 2) < edges_kept) return h;
    const int to = edge_to[std::size_t(h.idx() / 2) - edges_kept];
    return to < 0 ? h : HH(2 * to + (h.idx() & 1));
  };
  const auto moved_f = [&](FH f) {
    if (!f.is_valid() || std::size_t(f.idx()) < faces_kept) return f;
    const int to = face_to[std::size_t(f.idx()) - faces_kept];
    return to < 0 ? f : FH(to);
  };
  // The elements that link to a moving one, or move: moving half-edges, the half-edges before
  // and after them, their start vertices and faces; moving faces and their half-edges. Each is
  // listed once (marked as it is), in any order: every one is read before any is written.
  std::vector<int> halfedges, vertices, faces;
  std::vector<char> listed_h(hm.n_halfedges(), 0), listed_v(hm.n_vertices(), 0), listed_f(hm.n_faces(), 0);
  const auto list = [](std::vector<int>& to, std::vector<char>& listed, int i) {
    if (!listed[std::size_t(i)]) listed[std::size_t(i)] = 1, to.push_back(i);
  };
  for (const auto& [from, to] : edge_moves)
    for (int side = 0; side < 2; ++side) {
      const HH h(2 * from + side);
      for (const HH g : {h, hm.prev_halfedge_handle(h), hm.next_halfedge_handle(h)}) list(halfedges, listed_h, g.idx());
      list(vertices, listed_v, hm.from_vertex_handle(h).idx());
      if (hm.face_handle(h).is_valid()) list(faces, listed_f, hm.face_handle(h).idx());
    }
  for (const auto& [from, to] : face_moves) {
    list(faces, listed_f, from);
    HH h = hm.halfedge_handle(FH(from));
    for (int k = 0; k < 3; ++k, h = hm.next_halfedge_handle(h)) list(halfedges, listed_h, h.idx());
  }
  // Their new links, all read before any is written.
  struct HalfedgeLinks {
    HH at, next, prev;
    VH to;
    FH face;
    OpenMesh::Attributes::StatusInfo status;
  };
  std::vector<HalfedgeLinks> new_halfedges;
  for (int i : halfedges) {
    const HH h(i);
    new_halfedges.push_back({moved_h(h), moved_h(hm.next_halfedge_handle(h)), moved_h(hm.prev_halfedge_handle(h)),
                             hm.to_vertex_handle(h), moved_f(hm.face_handle(h)), hm.status(h)});
  }
  std::vector<std::pair<VH, HH>> new_vertices;
  for (int v : vertices) new_vertices.emplace_back(VH(v), moved_h(hm.halfedge_handle(VH(v))));
  std::vector<std::tuple<FH, HH, OpenMesh::Attributes::StatusInfo>> new_faces;
  for (int f : faces) new_faces.emplace_back(moved_f(FH(f)), moved_h(hm.halfedge_handle(FH(f))), hm.status(FH(f)));
  std::vector<OpenMesh::Attributes::StatusInfo> edge_status;
  for (const auto& [from, to] : edge_moves) edge_status.push_back(hm.status(HoleMesh::EdgeHandle(from)));
  for (const auto& l : new_halfedges) {
    hm.set_vertex_handle(l.at, l.to);
    hm.set_next_halfedge_handle(l.at, l.next);
    hm.set_prev_halfedge_handle(l.at, l.prev);
    hm.set_face_handle(l.at, l.face);
    hm.status(l.at) = l.status;
  }
  for (std::size_t k = 0; k < edge_moves.size(); ++k) hm.status(HoleMesh::EdgeHandle(edge_moves[k].second)) = edge_status[k];
  for (const auto& [v, h] : new_vertices) hm.set_halfedge_handle(v, h);
  for (const auto& [f, h, status] : new_faces) {
    hm.set_halfedge_handle(f, h);
    hm.status(f) = status;
  }
  hm.resize(hm.n_vertices(), edges_kept, faces_kept);
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

void flip_edge(HoleMesh& hm, HoleMesh::EdgeHandle e) {
  // The faces (a0, a1, a2) and (b0, b1, b2) around e turn into (a0, a2, b1) and (b0, b2, a1);
  // a0 and b0 now join the corners opposite e.
  using HH = HoleMesh::HalfedgeHandle;
  const HH a0 = hm.halfedge_handle(e, 0), b0 = hm.halfedge_handle(e, 1);
  const HH a1 = hm.next_halfedge_handle(a0), a2 = hm.next_halfedge_handle(a1);
  const HH b1 = hm.next_halfedge_handle(b0), b2 = hm.next_halfedge_handle(b1);
  const auto va0 = hm.to_vertex_handle(a0), va1 = hm.to_vertex_handle(a1);
  const auto vb0 = hm.to_vertex_handle(b0), vb1 = hm.to_vertex_handle(b1);
  const auto fa = hm.face_handle(a0), fb = hm.face_handle(b0);
  hm.set_vertex_handle(a0, va1);
  hm.set_vertex_handle(b0, vb1);
  hm.set_next_halfedge_handle(a0, a2);
  hm.set_next_halfedge_handle(a2, b1);
  hm.set_next_halfedge_handle(b1, a0);
  hm.set_next_halfedge_handle(b0, b2);
  hm.set_next_halfedge_handle(b2, a1);
  hm.set_next_halfedge_handle(a1, b0);
  hm.set_face_handle(a1, fb);
  hm.set_face_handle(b1, fa);
  hm.set_halfedge_handle(fa, a0);
  hm.set_halfedge_handle(fb, b0);
  // The old ends lose e: where it was their outgoing half-edge, the next one round takes over.
  if (hm.halfedge_handle(va0) == b0) hm.set_halfedge_handle(va0, a1);
  if (hm.halfedge_handle(vb0) == a0) hm.set_halfedge_handle(vb0, b1);
}

namespace {

// Makes a, b and c the half-edges of face f, in that order round it.
void link_face(HoleMesh& hm, HoleMesh::FaceHandle f, HoleMesh::HalfedgeHandle a,
               HoleMesh::HalfedgeHandle b, HoleMesh::HalfedgeHandle c) {
  hm.set_face_handle(a, f);
  hm.set_face_handle(b, f);
  hm.set_face_handle(c, f);
  hm.set_next_halfedge_handle(a, b);
  hm.set_next_halfedge_handle(b, c);
  hm.set_next_halfedge_handle(c, a);
}

}  // namespace

void split_edge(HoleMesh& hm, HoleMesh::EdgeHandle e, HoleMesh::VertexHandle vh) {
  // e runs v2 -> v0 along h0 in the face (h0, h1, h2) and back along o0 in (o0, o1, o2); h0
  // keeps its face and now starts at vh, o0 keeps its face and now ends at vh. The new edges
  // are e1 = vh -> v2, e0 = vh -> v1 (v1 the corner opposite h0) and e2 = vh -> v3 (opposite
  // o0); the new faces are (e0, h2, t1) and (e1, o1, t2), t being the opposite half-edges.
  using HH = HoleMesh::HalfedgeHandle;
  const HH h0 = hm.halfedge_handle(e, 0), o0 = hm.halfedge_handle(e, 1);
  const auto v2 = hm.to_vertex_handle(o0);
  const HH e1 = hm.new_edge(vh, v2), t1 = hm.opposite_halfedge_handle(e1);
  const auto f0 = hm.face_handle(h0), f3 = hm.face_handle(o0);
  hm.set_halfedge_handle(vh, h0);
  hm.set_vertex_handle(o0, vh);

  const HH h1 = hm.next_halfedge_handle(h0), h2 = hm.next_halfedge_handle(h1);
  const auto v1 = hm.to_vertex_handle(h1);
  const HH e0 = hm.new_edge(vh, v1), t0 = hm.opposite_halfedge_handle(e0);
  const auto f1 = hm.new_face();
  hm.set_halfedge_handle(f0, h0);
  hm.set_halfedge_handle(f1, h2);
  link_face(hm, f0, h0, h1, t0);
  link_face(hm, f1, e0, h2, t1);

  const HH o1 = hm.next_halfedge_handle(o0), o2 = hm.next_halfedge_handle(o1);
  const auto v3 = hm.to_vertex_handle(o1);
  const HH e2 = hm.new_edge(vh, v3), t2 = hm.opposite_halfedge_handle(e2);
  const auto f2 = hm.new_face();
  hm.set_halfedge_handle(f2, o1);
  hm.set_halfedge_handle(f3, o0);
  link_face(hm, f2, e1, o1, t2);
  link_face(hm, f3, o0, e2, o2);

  if (hm.halfedge_handle(v2) == h0) hm.set_halfedge_handle(v2, t1);
  // The new edges take e's properties (status included), the new faces those of the faces
  // they were cut from.
  for (const HH h : {e0, e1, e2}) hm.copy_all_properties(e, hm.edge_handle(h), true);
  hm.copy_all_properties(f0, f1, true);
  hm.copy_all_properties(f3, f2, true);
}

namespace {

// Makes the first boundary half-edge out of v, going round it from its outgoing half-edge by
// next(opposite(h)), its outgoing half-edge (where it has one), as the half-edge structure
// expects of a vertex on the boundary.
void adjust_outgoing(HoleMesh& hm, HoleMesh::VertexHandle v) {
  const auto start = hm.halfedge_handle(v);
  if (!start.is_valid()) return;
  auto h = start;
  do {
    if (!hm.face_handle(h).is_valid()) {
      hm.set_halfedge_handle(v, h);
      return;
    }
    h = hm.next_halfedge_handle(hm.opposite_halfedge_handle(h));
  } while (h != start);
}

}  // namespace

void delete_face(HoleMesh& hm, HoleMesh::FaceHandle f) {
  using HH = HoleMesh::HalfedgeHandle;
  hm.status(f).set_deleted(true);
  // The face's half-edges go to the boundary; the edges that have no face on the other side
  // either go altogether.
  std::array<HoleMesh::EdgeHandle, 3> gone;
  std::array<HoleMesh::VertexHandle, 3> corners;
  std::size_t n_gone = 0;
  HH h = hm.halfedge_handle(f);
  for (std::size_t k = 0; k < 3; ++k, h = hm.next_halfedge_handle(h)) {
    hm.set_face_handle(h, HoleMesh::FaceHandle());
    if (!hm.face_handle(hm.opposite_halfedge_handle(h)).is_valid()) gone[n_gone++] = hm.edge_handle(h);
    corners[k] = hm.to_vertex_handle(h);
  }
  for (std::size_t k = 0; k < n_gone; ++k) {
    const HoleMesh::EdgeHandle e = gone[k];
    const HH h0 = hm.halfedge_handle(e, 0), h1 = hm.halfedge_handle(e, 1);
    const auto v0 = hm.to_vertex_handle(h0), v1 = hm.to_vertex_handle(h1);
    const HH next0 = hm.next_halfedge_handle(h0), prev0 = hm.prev_halfedge_handle(h0);
    const HH next1 = hm.next_halfedge_handle(h1), prev1 = hm.prev_halfedge_handle(h1);
    // The boundary steps over the edge; its ends, where it was their outgoing half-edge, take
    // the next one round, or none where it was their last edge.
    hm.set_next_halfedge_handle(prev0, next1);
    hm.set_next_halfedge_handle(prev1, next0);
    hm.status(e).set_deleted(true);
    hm.status(h0).set_deleted(true);
    hm.status(h1).set_deleted(true);
    if (hm.halfedge_handle(v0) == h1) hm.set_halfedge_handle(v0, next0 == h1 ? HH() : next0);
    if (hm.halfedge_handle(v1) == h0) hm.set_halfedge_handle(v1, next1 == h0 ? HH() : next1);
  }
  for (const auto v : corners) adjust_outgoing(hm, v);
}

HoleMesh::FaceHandle add_face(HoleMesh& hm, HoleMesh::VertexHandle a, HoleMesh::VertexHandle b,
                              HoleMesh::VertexHandle c) {
  using HH = HoleMesh::HalfedgeHandle;
  const std::array<HoleMesh::VertexHandle, 3> v = {a, b, c};
  // The face's half-edges (from corner i to corner i + 1) that exist already, found as the
  // library finds them (going round the corner from its outgoing half-edge); each must be on
  // the boundary, and so must each corner.
  std::array<HH, 3> h;
  std::array<bool, 3> fresh;
  for (std::size_t i = 0; i < 3; ++i) {
    const HH out = hm.halfedge_handle(v[i]);
    if (out.is_valid() && hm.face_handle(out).is_valid()) return hm.add_face(a, b, c);
    h[i] = HH();
    if (out.is_valid()) {
      HH g = out;
      do {
        if (hm.to_vertex_handle(g) == v[(i + 1) % 3]) {
          h[i] = g;
          break;
        }
        g = hm.next_halfedge_handle(hm.opposite_halfedge_handle(g));
      } while (g != out);
    }
    fresh[i] = !h[i].is_valid();
    if (!fresh[i] && hm.face_handle(h[i]).is_valid()) return hm.add_face(a, b, c);
  }
  // The next links to set, in the library's order: a later link to the same half-edge wins.
  std::array<std::pair<HH, HH>, 18> links;
  std::size_t n_links = 0;
  // Two old half-edges of the face that do not follow each other: the faces between them at
  // the corner (from the one after the first to the one before the second) move to another gap
  // at the corner, the first free one going round from the second.
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t ii = (i + 1) % 3;
    if (fresh[i] || fresh[ii]) continue;
    const HH inner_prev = h[i], inner_next = h[ii];
    if (hm.next_halfedge_handle(inner_prev) == inner_next) continue;
    HH boundary_prev = hm.opposite_halfedge_handle(inner_next);
    do
      boundary_prev = hm.opposite_halfedge_handle(hm.next_halfedge_handle(boundary_prev));
    while (hm.face_handle(boundary_prev).is_valid());
    if (boundary_prev == inner_prev) return hm.add_face(a, b, c);  // no other gap
    const HH boundary_next = hm.next_halfedge_handle(boundary_prev);
    links[n_links++] = {boundary_prev, hm.next_halfedge_handle(inner_prev)};
    links[n_links++] = {hm.prev_halfedge_handle(inner_next), boundary_next};
    links[n_links++] = {inner_prev, inner_next};
  }
  for (std::size_t i = 0; i < 3; ++i)
    if (fresh[i]) h[i] = hm.new_edge(v[i], v[(i + 1) % 3]);
  const HoleMesh::FaceHandle f = hm.new_face();
  hm.set_halfedge_handle(f, h[2]);
  std::array<bool, 3> adjust = {false, false, false};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t ii = (i + 1) % 3;
    const auto vh = v[ii];
    const HH inner_prev = h[i], inner_next = h[ii];
    if (fresh[i] || fresh[ii]) {
      const HH outer_prev = hm.opposite_halfedge_handle(inner_next), outer_next = hm.opposite_halfedge_handle(inner_prev);
      if (!fresh[ii]) {  // new edge in, old edge out
        links[n_links++] = {hm.prev_halfedge_handle(inner_next), outer_next};
        hm.set_halfedge_handle(vh, outer_next);
      } else if (!fresh[i]) {  // old edge in, new edge out
        const HH boundary_next = hm.next_halfedge_handle(inner_prev);
        links[n_links++] = {outer_prev, boundary_next};
        hm.set_halfedge_handle(vh, boundary_next);
      } else if (!hm.halfedge_handle(vh).is_valid()) {  // both new, at a vertex with no edge
        hm.set_halfedge_handle(vh, outer_next);
        links[n_links++] = {outer_prev, outer_next};
      } else {  // both new, in the gap before the corner's outgoing half-edge
        const HH boundary_next = hm.halfedge_handle(vh), boundary_prev = hm.prev_halfedge_handle(boundary_next);
        links[n_links++] = {boundary_prev, outer_next};
        links[n_links++] = {outer_prev, boundary_next};
      }
      links[n_links++] = {inner_prev, inner_next};
    } else {
      adjust[ii] = hm.halfedge_handle(vh) == inner_next;
    }
    hm.set_face_handle(h[i], f);
  }
  for (std::size_t k = 0; k < n_links; ++k) hm.set_next_halfedge_handle(links[k].first, links[k].second);
  for (std::size_t i = 0; i < 3; ++i)
    if (adjust[i]) adjust_outgoing(hm, v[i]);
  return f;
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
