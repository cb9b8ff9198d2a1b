// Closing holes: triangulation of each boundary loop, refinement and fairing.
#include "weaver/hole_filling.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <set>
#include <utility>

#include "weaver/fairing.h"
#include "weaver/loop_split.h"
#include "weaver/patch_refinement.h"

namespace tervik {
namespace {

using VH = HoleMesh::VertexHandle;

// Loops with more corners than this are split by chords across the hole (weaver/loop_split.h).
constexpr int kMaxPart = 64;
// Parts longer than this (no chord shortened them) are triangulated corner by corner instead of
// by dynamic programming.
constexpr int kMaxDynamicLoop = 1000;
// Gauss-Seidel sweeps of the fairing after each refinement round.
constexpr int kFairingSweeps = 20;
// Refinement stops after a round that adds fewer new vertices than the patch had over this.
constexpr std::size_t kLastRoundShare = 20;
// Sweeps of the last fairing, once the patch is refined.
constexpr int kFinalSweeps = 80;


// Triangulates one boundary loop, refines and fairs it. False when it cannot be closed.
bool close_loop(HoleMesh& hm, RepairMesh& mesh, const std::vector<HoleMesh::HalfedgeHandle>& loop,
                int id, const OpenMesh::FPropHandleT<int>& prop,
                const OpenMesh::VPropHandleT<double>& scale,
                const OpenMesh::EPropHandleT<char>& queued, double min_target) {
  const int n = int(loop.size());
  if (n < 3) return false;
  std::vector<VH> v;
  std::vector<Point3D> p, normals;
  HolePatch patch{id, 0.0, {}, {}, scale, queued};
  for (auto h : loop) {
    v.push_back(hm.from_vertex_handle(h));
    p.push_back(to_point(hm.point(v.back())));
    normals.push_back(mesh.normals[std::size_t(v.back().idx())]);
    patch.target += std::sqrt(hm.calc_edge_sqr_length(hm.edge_handle(h))) / double(n);
  }
  patch.target = std::max(patch.target, min_target);
  for (int i = 0; i < n; ++i) {
    const double before = norm(p[std::size_t(i)] - p[std::size_t((i + n - 1) % n)]);
    const double after = norm(p[std::size_t((i + 1) % n)] - p[std::size_t(i)]);
    hm.property(scale, v[std::size_t(i)]) = std::max(min_target, 0.5 * (before + after));
  }
  // Long loops are split by chords into parts of at most kMaxPart corners; each part is then
  // triangulated over its corners, its faces added before the next part is looked at, so that
  // no part takes a chord that an earlier part already made an edge.
  const auto allowed = [&](int i, int k) { return !hm.find_halfedge(v[std::size_t(i)], v[std::size_t(k)]).is_valid(); };
  const LoopSplit split = split_loop(p, normals, patch.target, kMaxPart, allowed);
  for (std::size_t k = 0; k < split.parents.size(); ++k) {
    const VH a = v[std::size_t(split.parents[k][0])], b = v[std::size_t(split.parents[k][1])];
    const VH c = new_vertex(hm, mesh, to_vec(split.points[std::size_t(n) + k]), {a, b});
    hm.property(scale, c) = 0.5 * (hm.property(scale, a) + hm.property(scale, b));
    patch.fresh.push_back(c);
    v.push_back(c);
  }
  for (const auto& part : split.parts) {
    const int m = int(part.size());
    std::vector<Point3D> pp, pn;
    for (int i : part) {
      pp.push_back(split.points[std::size_t(i)]);
      pn.push_back(split.normals[std::size_t(i)]);
    }
    const auto part_allowed = [&](int i, int k) {
      return !hm.find_halfedge(v[std::size_t(part[std::size_t(i)])], v[std::size_t(part[std::size_t(k)])]).is_valid();
    };
    const auto tris = m <= kMaxDynamicLoop ? min_area_triangulation(pp, part_allowed)
                                           : ear_triangulation(pp, pn, part_allowed);
    std::vector<std::array<VH, 3>> faces;
    if (tris.empty()) {
      // No triangulation over the part's own corners: a fan around a new middle vertex.
      OpenMesh::Vec3d centre(0.0, 0.0, 0.0);
      std::vector<VH> around;
      for (int i : part) {
        around.push_back(v[std::size_t(i)]);
        centre += hm.point(around.back()) / double(m);
      }
      const VH c = new_vertex(hm, mesh, centre, around);
      hm.property(scale, c) = patch.target;
      patch.fresh.push_back(c);
      for (int i = 0; i < m; ++i) faces.push_back({around[std::size_t(i)], around[std::size_t((i + 1) % m)], c});
    } else {
      for (const auto& t : tris)
        faces.push_back({v[std::size_t(part[std::size_t(t[0])])], v[std::size_t(part[std::size_t(t[1])])],
                         v[std::size_t(part[std::size_t(t[2])])]});
    }
    for (const auto& f : faces) {
      const auto fh = hm.add_face(f[0], f[1], f[2]);
      if (!fh.is_valid()) return false;
      hm.property(prop, fh) = id;
      patch.faces.push_back(fh);
    }
  }
  // A disc bounded by n edges of the target length needs about n^2 / 6 faces; the cap only
  // guards against loops far from round.
  const std::size_t max_faces = std::size_t(n) * std::size_t(n) + 100;
  quality_flips(hm, patch, prop, {});
  for (int round = 0; round < 40 && patch.faces.size() < max_faces; ++round) {
    fair_vertices(hm, patch.fresh, kFairingSweeps);
    const std::size_t fresh_before = patch.fresh.size();
    if (!split_long_edges(hm, mesh, patch, prop)) break;
    // Only the faces around the new vertices changed since the last flips.
    const std::size_t made = patch.fresh.size() - fresh_before;
    quality_flips(hm, patch, prop,
                  std::vector<VH>(patch.fresh.begin() + long(fresh_before), patch.fresh.end()));
    // Once the patch is refined, fairing only stretches a few edges each round (the membrane
    // settles): a round that adds under 1/20 of the new vertices made so far is the last, which
    // saves sweeping the whole patch for a trickle of splits.
    if (made * kLastRoundShare < fresh_before) break;
  }
  fair_vertices(hm, patch.fresh, kFinalSweeps);
  return true;
}

}  // namespace

HoleFilling fill_holes(RepairMesh& mesh) {
  HoleMesh hm;
  return fill_holes(mesh, hm);
}

namespace {

// Closes the boundary loops of hm for which take(first vertex index of each loop edge) holds;
// `mesh` gives the colours and normals (and takes those of new vertices). Fills in the counts
// of what was added, the Euler characteristic's change included.
HoleFilling close_holes(HoleMesh& hm, RepairMesh& mesh, double min_target,
                        const std::function<bool(const std::vector<HoleMesh::HalfedgeHandle>&)>& take) {
  HoleFilling out;
  const std::size_t faces_before = hm.n_faces(), vertices_before = hm.n_vertices();
  const std::size_t edges_before = hm.n_edges();
  OpenMesh::FPropHandleT<int> prop;
  hm.add_property(prop);
  OpenMesh::VPropHandleT<double> scale;
  hm.add_property(scale);
  OpenMesh::EPropHandleT<char> queued;
  hm.add_property(queued);
  for (auto f : hm.faces()) hm.property(prop, f) = -1;
  std::vector<std::vector<HoleMesh::HalfedgeHandle>> loops;
  std::vector<char> seen(hm.n_halfedges(), 0);
  for (auto h : hm.halfedges()) {
    if (!hm.is_boundary(h) || seen[std::size_t(h.idx())]) continue;
    loops.emplace_back();
    for (auto g = h; !seen[std::size_t(g.idx())]; g = hm.next_halfedge_handle(g)) {
      seen[std::size_t(g.idx())] = 1;
      loops.back().push_back(g);
    }
    if (!take(loops.back())) loops.pop_back();
  }
  for (std::size_t id = 0; id < loops.size(); ++id) {
    if (close_loop(hm, mesh, loops[id], int(id), prop, scale, queued, min_target)) {
      ++out.holes_closed;
      out.largest_hole = std::max(out.largest_hole, long(loops[id].size()));
    } else {
      ++out.holes_left;
    }
  }
  out.faces_added = long(hm.n_faces() - faces_before);
  out.vertices_added = long(hm.n_vertices() - vertices_before);
  // Every new vertex is used by a new face.
  out.euler_change = out.vertices_added - long(hm.n_edges() - edges_before) + out.faces_added;
  hm.remove_property(prop);
  hm.remove_property(scale);
  hm.remove_property(queued);
  return out;
}

}  // namespace

HoleFilling fill_holes(RepairMesh& mesh, HoleMesh& hm) {
  long refused = 0;
  to_hole_mesh(mesh, refused, hm);
  // Half the mean edge length bounds the target length from below (loops of tiny edges).
  double mean_edge = 0.0;
  for (auto e : hm.edges()) mean_edge += std::sqrt(hm.calc_edge_sqr_length(e));
  if (hm.n_edges() > 0) mean_edge /= double(hm.n_edges());
  HoleFilling out = close_holes(hm, mesh, 0.5 * mean_edge, [](const auto&) { return true; });
  out.faces_refused = refused;
  long used = 0;
  for (auto v : hm.vertices()) used += !hm.is_isolated(v);
  out.euler = used - long(hm.n_edges()) + long(hm.n_faces());
  from_hole_mesh(hm, mesh);
  return out;
}

HoleFilling fill_marked_holes(RepairMesh& mesh, const std::vector<char>& marked, double mean_edge) {
  // The faces around marked vertices hold every edge a patch can meet: the loops' edges and
  // any chord between two loop vertices that is already an edge.
  RepairMesh around;
  around.vertices = mesh.vertices;
  const auto is_marked = [&](long long v) { return std::size_t(v) < marked.size() && marked[std::size_t(v)]; };
  for (const auto& f : mesh.faces)
    if (is_marked(f.x) || is_marked(f.y) || is_marked(f.z)) around.faces.push_back(f);
  HoleMesh hm;
  long refused = 0;
  to_hole_mesh(around, refused, hm);
  HoleFilling out = close_holes(hm, mesh, 0.5 * mean_edge, [&](const auto& loop) {
    for (auto h : loop)
      if (!is_marked(hm.from_vertex_handle(h).idx())) return false;
    return true;
  });
  out.faces_refused = refused;
  for (std::size_t v = mesh.vertices.size(); v < hm.n_vertices(); ++v)
    mesh.vertices.push_back(to_point(hm.point(HoleMesh::VertexHandle(int(v)))));
  for (std::size_t f = around.faces.size(); f < hm.n_faces(); ++f) {
    auto it = hm.cfv_iter(HoleMesh::FaceHandle(int(f)));
    const long long a = it->idx(), b = (++it)->idx(), c = (++it)->idx();
    mesh.faces.emplace_back(a, b, c);
  }
  return out;
}

}  // namespace tervik
