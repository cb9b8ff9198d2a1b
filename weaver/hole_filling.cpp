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

namespace tervik {
namespace {

using VH = HoleMesh::VertexHandle;

// Loops with more corners than this are split by chords across the hole (weaver/loop_split.h).
constexpr int kMaxPart = 64;
// Parts longer than this (no chord shortened them) are triangulated corner by corner instead of
// by dynamic programming.
constexpr int kMaxDynamicLoop = 1000;
// Edges longer than this times the loop's mean edge length are split.
constexpr double kSplitFactor = 4.0 / 3.0;
// Gauss-Seidel sweeps of the fairing after each refinement round.
constexpr int kFairingSweeps = 20;
// Refinement stops after a round that adds fewer new vertices than the patch had over this.
constexpr std::size_t kLastRoundShare = 20;
// Sweeps of the last fairing, once the patch is refined.
constexpr int kFinalSweeps = 80;


// The faces and new vertices of one hole while it is closed.
struct Patch {
  int id;
  double target;  // mean edge length of the loop
  std::vector<HoleMesh::FaceHandle> faces;
  std::vector<VH> fresh;
  // Edge length wanted around each vertex of the patch: for a loop vertex the mean of its two
  // loop edges, for a new vertex the mean of the two it was made from.
  OpenMesh::VPropHandleT<double> scale;
  // Whether an edge waits in quality_flips' list (all false between calls).
  OpenMesh::EPropHandleT<char> queued;
};

// A new vertex at p, coloured and oriented by the mean of `from`.
VH new_vertex(HoleMesh& hm, RepairMesh& mesh, const OpenMesh::Vec3d& p, const std::vector<VH>& from) {
  double rgb[3] = {0.0, 0.0, 0.0};
  Point3D normal;
  for (VH v : from) {
    for (int c = 0; c < 3; ++c) rgb[c] += mesh.colors[std::size_t(v.idx())][c];
    normal += mesh.normals[std::size_t(v.idx())];
  }
  const double n = double(std::max<std::size_t>(1, from.size()));
  mesh.colors.emplace_back((unsigned char)std::lround(rgb[0] / n),
                           (unsigned char)std::lround(rgb[1] / n),
                           (unsigned char)std::lround(rgb[2] / n));
  const double len = norm(normal);
  mesh.normals.push_back(len > 0.0 ? normal / len : Point3D());
  return hm.add_vertex(p);
}

bool interior(const HoleMesh& hm, HoleMesh::EdgeHandle e, const OpenMesh::FPropHandleT<int>& prop,
              int id) {
  if (hm.is_boundary(e)) return false;
  return hm.property(prop, hm.face_handle(hm.halfedge_handle(e, 0))) == id &&
         hm.property(prop, hm.face_handle(hm.halfedge_handle(e, 1))) == id;
}

// Cosine of the angle at c of the triangle (a, b, c).
double cos_at(const OpenMesh::Vec3d& a, const OpenMesh::Vec3d& b, const OpenMesh::Vec3d& c) {
  const OpenMesh::Vec3d u = a - c, v = b - c;
  const double l = u.norm() * v.norm();
  return l > 0.0 ? (u | v) / l : 1.0;
}

// Cosine of the smallest angle of the triangle (a, b, c): the largest of the three cosines
// (the cosine falls over [0, pi]), so comparing it compares the smallest angles, reversed.
double cos_min_angle(const OpenMesh::Vec3d& a, const OpenMesh::Vec3d& b, const OpenMesh::Vec3d& c) {
  return std::max({cos_at(a, b, c), cos_at(b, c, a), cos_at(c, a, b)});
}

// Flips interior edges of the patch where the flip raises the smaller of the two triangles'
// smallest angles (towards Delaunay triangles) without turning either triangle over. Starts
// from the edges of the faces around `around` (every patch face when empty) and looks again at
// the four edges next to each flip, until no flip helps.
void quality_flips(HoleMesh& hm, const Patch& patch, const OpenMesh::FPropHandleT<int>& prop,
                   const std::vector<VH>& around) {
  std::vector<HoleMesh::EdgeHandle> stack;
  const auto push = [&](HoleMesh::EdgeHandle e) {
    char& queued = hm.property(patch.queued, e);
    if (!queued) queued = 1, stack.push_back(e);
  };
  if (around.empty()) {
    for (auto f : patch.faces)
      for (auto e : hm.fe_range(f)) push(e);
  } else {
    for (VH v : around)
      for (auto f : hm.vf_range(v))
        for (auto e : hm.fe_range(f)) push(e);
  }
  // Every flip raises the pair's smallest angle; the budget only guards against rounding.
  std::size_t budget = 20 * stack.size() + 100;
  while (!stack.empty()) {
    const auto e = stack.back();
    stack.pop_back();
    hm.property(patch.queued, e) = 0;
    if (budget == 0 || !interior(hm, e, prop, patch.id)) continue;
    --budget;
    // The faces (b, a, c) and (a, b, d) become (d, a, c) and (c, b, d).
    const auto h0 = hm.halfedge_handle(e, 0), h1 = hm.halfedge_handle(e, 1);
    const auto a = hm.point(hm.to_vertex_handle(h0)), b = hm.point(hm.from_vertex_handle(h0));
    const auto c = hm.point(hm.to_vertex_handle(hm.next_halfedge_handle(h0)));
    const auto d = hm.point(hm.to_vertex_handle(hm.next_halfedge_handle(h1)));
    const OpenMesh::Vec3d before = ((a - b) % (c - b)) + ((b - a) % (d - a));
    if ((((a - d) % (c - d)) | before) <= 0.0 || (((b - c) % (d - c)) | before) <= 0.0) continue;
    const double old_cos = std::max(cos_min_angle(b, a, c), cos_min_angle(a, b, d));
    const double new_cos = std::max(cos_min_angle(d, a, c), cos_min_angle(c, b, d));
    if (new_cos < old_cos - 1e-6 && hm.is_flip_ok(e)) {
      hm.flip(e);
      // The flipped edge's two faces; their other four edges may now flip.
      for (auto h : {hm.halfedge_handle(e, 0), hm.halfedge_handle(e, 1)}) {
        push(hm.edge_handle(hm.next_halfedge_handle(h)));
        push(hm.edge_handle(hm.prev_halfedge_handle(h)));
      }
    }
  }
}

// Splits the patch's interior edges longer than kSplitFactor times its target length at their
// middle. Returns whether it split any.
bool split_long_edges(HoleMesh& hm, RepairMesh& mesh, Patch& patch,
                      const OpenMesh::FPropHandleT<int>& prop) {
  std::vector<HoleMesh::EdgeHandle> longs;
  for (auto f : patch.faces)
    for (auto e : hm.fe_range(f)) {
      if (!interior(hm, e, prop, patch.id)) continue;
      const auto h = hm.halfedge_handle(e, 0);
      const double limit = kSplitFactor * std::max(hm.property(patch.scale, hm.from_vertex_handle(h)),
                                                   hm.property(patch.scale, hm.to_vertex_handle(h)));
      if (hm.calc_edge_sqr_length(e) > limit * limit) longs.push_back(e);
    }
  std::sort(longs.begin(), longs.end());
  longs.erase(std::unique(longs.begin(), longs.end()), longs.end());
  for (auto e : longs) {
    const auto h = hm.halfedge_handle(e, 0);
    const VH a = hm.from_vertex_handle(h), b = hm.to_vertex_handle(h);
    const std::size_t faces_before = hm.n_faces();
    const VH m = new_vertex(hm, mesh, (hm.point(a) + hm.point(b)) * 0.5, {a, b});
    hm.property(patch.scale, m) = 0.5 * (hm.property(patch.scale, a) + hm.property(patch.scale, b));
    hm.split_copy(e, m);
    patch.fresh.push_back(m);
    for (auto f : hm.vf_range(m))
      if (std::size_t(f.idx()) >= faces_before) {
        hm.property(prop, f) = patch.id;
        patch.faces.push_back(f);
      }
  }
  return !longs.empty();
}

// Triangulates one boundary loop, refines and fairs it. False when it cannot be closed.
bool close_loop(HoleMesh& hm, RepairMesh& mesh, const std::vector<HoleMesh::HalfedgeHandle>& loop,
                int id, const OpenMesh::FPropHandleT<int>& prop,
                const OpenMesh::VPropHandleT<double>& scale,
                const OpenMesh::EPropHandleT<char>& queued, double min_target) {
  const int n = int(loop.size());
  if (n < 3) return false;
  std::vector<VH> v;
  std::vector<Point3D> p, normals;
  Patch patch{id, 0.0, {}, {}, scale, queued};
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
