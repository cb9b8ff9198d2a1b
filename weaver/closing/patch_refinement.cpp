// Refinement of a hole's patch: quality flips and splits of long edges.
#include "weaver/closing/patch_refinement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>

namespace tervik {
namespace {

using VH = HoleMesh::VertexHandle;

// Edges longer than this times the local wanted length are split.
constexpr double kSplitFactor = 4.0 / 3.0;
// Two faces whose normals are more than 60 degrees apart (1 - cos over this) meet in a crease,
// which fold_flips tries to smooth. (From 90 degrees fewer inward faces went on the sphere
// clouds; from 46 about as many as from 60, with nearly twice the flips.)
constexpr double kCrease = 0.5;

bool interior(const HoleMesh& hm, HoleMesh::EdgeHandle e, const OpenMesh::FPropHandleT<int>& prop,
              int id) {
  if (hm.is_boundary(e)) return false;
  return hm.property(prop, hm.face_handle(hm.halfedge_handle(e, 0))) == id &&
         hm.property(prop, hm.face_handle(hm.halfedge_handle(e, 1))) == id;
}

// Cosine of the angle at c of the triangle (a, b, c), whose sides from c are ac and bc long.
// (This and cos_min_angle are inlined: the flips call them six to twelve times an edge, and a
// call costs about as much as the arithmetic.)
[[gnu::always_inline]] inline double cos_at(const OpenMesh::Vec3d& a, const OpenMesh::Vec3d& b,
                                            const OpenMesh::Vec3d& c, double ac, double bc) {
  const OpenMesh::Vec3d u = a - c, v = b - c;
  const double l = ac * bc;
  return l > 0.0 ? (u | v) / l : 1.0;
}

// Cosine of the smallest angle of the triangle (a, b, c) with sides ab, bc and ca long: the
// largest of the three cosines (the cosine falls over [0, pi]), so comparing it compares the
// smallest angles, reversed.
[[gnu::always_inline]] inline double cos_min_angle(const OpenMesh::Vec3d& a, const OpenMesh::Vec3d& b,
                                                   const OpenMesh::Vec3d& c, double ab, double bc,
                                                   double ca) {
  return std::max({cos_at(a, b, c, ca, bc), cos_at(b, c, a, ab, ca), cos_at(c, a, b, bc, ab)});
}

// Whether the edge e can be flipped: it is not on the boundary, and the two corners opposite it
// differ and are not joined already. Walks the half-edges directly rather than through the
// mesh's own check, which validates every handle it touches.
bool flippable(const HoleMesh& hm, HoleMesh::EdgeHandle e) {
  if (hm.is_boundary(e)) return false;
  const VH c = hm.to_vertex_handle(hm.next_halfedge_handle(hm.halfedge_handle(e, 0)));
  const VH d = hm.to_vertex_handle(hm.next_halfedge_handle(hm.halfedge_handle(e, 1)));
  if (c == d) return false;
  const auto first = hm.halfedge_handle(c);
  if (!first.is_valid()) return true;
  auto h = first;
  do {
    if (hm.to_vertex_handle(h) == d) return false;
    h = hm.next_halfedge_handle(hm.opposite_halfedge_handle(h));
  } while (h != first);
  return true;
}

}  // namespace

// A new vertex at p, coloured and oriented by the mean of `from`.
VH new_vertex(HoleMesh& hm, RepairMesh& mesh, const OpenMesh::Vec3d& p, std::span<const VH> from) {
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

// Flips interior edges of the patch where the flip raises the smaller of the two triangles'
// smallest angles (towards Delaunay triangles) without turning either triangle over (nor, in a
// quad whose triangles face the same way, making one that faces against either of them). Starts
// from the edges of the faces around `around` (every patch face when empty) and looks again at
// the four edges next to each flip, until no flip helps.
void quality_flips(HoleMesh& hm, const HolePatch& patch, const OpenMesh::FPropHandleT<int>& prop,
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
    const OpenMesh::Vec3d old1 = (a - b) % (c - b), old2 = (b - a) % (d - a);
    const OpenMesh::Vec3d new1 = (a - d) % (c - d), new2 = (b - c) % (d - c);
    const OpenMesh::Vec3d before = old1 + old2;
    if ((new1 | before) <= 0.0 || (new2 | before) <= 0.0) continue;
    // Where the two triangles face the same way, neither new one may face against either of
    // them: over a quad bent sharply along its diagonal (a tent), the other diagonal's
    // triangles stand steep, and one of them turns against the surface.
    if ((old1 | old2) > 0.0 &&
        ((new1 | old1) <= 0.0 || (new1 | old2) <= 0.0 || (new2 | old1) <= 0.0 || (new2 | old2) <= 0.0))
      continue;
    // The six sides of the two pairs of triangles, each measured once.
    const double ab = (a - b).norm(), ac = (a - c).norm(), ad = (a - d).norm();
    const double bc = (b - c).norm(), bd = (b - d).norm(), cd = (c - d).norm();
    const double old_cos = std::max(cos_min_angle(b, a, c, ab, ac, bc), cos_min_angle(a, b, d, ab, bd, ad));
    // The larger of the new cosines is at least the first: where that alone fails the test, the
    // second is not needed.
    const double first_cos = cos_min_angle(d, a, c, ad, ac, cd);
    if (!(first_cos < old_cos - 1e-6)) continue;
    const double new_cos = std::max(first_cos, cos_min_angle(c, b, d, bc, bd, cd));
    if (new_cos < old_cos - 1e-6 && flippable(hm, e)) {
      flip_edge(hm, e);
      // The flipped edge's two faces; their other four edges may now flip.
      for (auto h : {hm.halfedge_handle(e, 0), hm.halfedge_handle(e, 1)}) {
        push(hm.edge_handle(hm.next_halfedge_handle(h)));
        push(hm.edge_handle(hm.prev_halfedge_handle(h)));
      }
    }
  }
}

long normal_flips(HoleMesh& hm, const RepairMesh& mesh, const std::vector<HoleMesh::FaceHandle>& faces,
                  const std::function<bool(HoleMesh::FaceHandle, HoleMesh::FaceHandle)>& may_flip) {
  const auto against = [&](VH a, VH b, VH c) {
    const Point3D pa = to_point(hm.point(a)), pb = to_point(hm.point(b)), pc = to_point(hm.point(c));
    const Point3D sum = mesh.normals[std::size_t(a.idx())] + mesh.normals[std::size_t(b.idx())] +
                        mesh.normals[std::size_t(c.idx())];
    return dot(cross(pb - pa, pc - pa), sum) < 0.0;
  };
  const auto thin = [&](VH a, VH b, VH c) {
    const Point3D pa = to_point(hm.point(a)), pb = to_point(hm.point(b)), pc = to_point(hm.point(c));
    return norm2(cross(pb - pa, pc - pa)) <= 1e-12 * (dist2(pa, pb) + dist2(pb, pc) + dist2(pc, pa)) *
                                                 (dist2(pa, pb) + dist2(pb, pc) + dist2(pc, pa));
  };
  const auto face_against = [&](HoleMesh::FaceHandle f) {
    auto it = hm.cfv_iter(f);
    const VH a = *it, b = *++it, c = *++it;
    return against(a, b, c);
  };
  // Faces to look at: first every given face against the normals, then those around flips.
  std::vector<HoleMesh::FaceHandle> todo, next;
  for (const auto f : faces)
    if (face_against(f)) todo.push_back(f);
  long flips = 0;
  for (int pass = 0; pass < 3 && !todo.empty(); ++pass) {
    next.clear();
    for (const auto f : todo) {
      auto h = hm.halfedge_handle(f);
      for (int k = 0; k < 3; ++k, h = hm.next_halfedge_handle(h)) {
        const VH a = hm.from_vertex_handle(h), b = hm.to_vertex_handle(h),
                 c = hm.to_vertex_handle(hm.next_halfedge_handle(h));
        if (!against(a, b, c)) break;
        const auto o = hm.opposite_halfedge_handle(h);
        const auto g = hm.face_handle(o);
        if (!g.is_valid() || !may_flip(f, g) || !flippable(hm, hm.edge_handle(h))) continue;
        const VH d = hm.to_vertex_handle(hm.next_halfedge_handle(o));
        const int before = 1 + against(b, a, d), after = int(against(a, d, c)) + int(against(b, c, d));
        // The two new triangles must face the same way: flipping the diagonal of a quad that is
        // not convex would fold one over the other.
        const Point3D pa = to_point(hm.point(a)), pb = to_point(hm.point(b)), pc = to_point(hm.point(c)),
                      pd = to_point(hm.point(d));
        if (after >= before || thin(a, d, c) || thin(b, c, d) ||
            dot(cross(pd - pa, pc - pa), cross(pc - pb, pd - pb)) <= 0.0)
          continue;
        flip_edge(hm, hm.edge_handle(h));
        ++flips;
        // The two faces, and their neighbours, may allow another flip now.
        for (const auto changed : {f, g}) {
          next.push_back(changed);
          for (const auto n : hm.ff_range(changed)) next.push_back(n);
        }
        break;
      }
    }
    todo.swap(next);
  }
  return flips;
}

namespace {

// 1 - cos of the angle between the normals of two faces given by their area vectors: 0 where
// they lie flat, 2 where one folds back onto the other (0 for a degenerate one). Inlined: the
// fold flips take it for every pair of faces they weigh.
[[gnu::always_inline]] inline double bend(const OpenMesh::Vec3d& n, const OpenMesh::Vec3d& m) {
  const double l = n.norm() * m.norm();
  return l > 0.0 ? 1.0 - (n | m) / l : 0.0;
}

}  // namespace

long fold_flips(HoleMesh& hm, const RepairMesh& mesh, const std::vector<HoleMesh::FaceHandle>& faces,
                const std::function<bool(HoleMesh::FaceHandle, HoleMesh::FaceHandle)>& may_flip) {
  // Whether the triangle with area vector n over corners u, v, w faces against the sum of
  // their normals.
  const auto against = [&](const OpenMesh::Vec3d& n, VH u, VH v, VH w) {
    return (n | to_vec(mesh.normals[std::size_t(u.idx())] + mesh.normals[std::size_t(v.idx())] +
                       mesh.normals[std::size_t(w.idx())])) < 0.0;
  };
  // Each face's area vector, worked out once (and again after a flip changes the face).
  std::vector<OpenMesh::Vec3d> cached(hm.n_faces());
  std::vector<char> known(hm.n_faces(), 0);
  const auto area = [&](HoleMesh::FaceHandle f) -> const OpenMesh::Vec3d& {
    const auto i = std::size_t(f.idx());
    if (!known[i]) {
      auto it = hm.cfv_iter(f);
      const OpenMesh::Vec3d a = hm.point(*it), b = hm.point(*++it), c = hm.point(*++it);
      cached[i] = (b - a) % (c - a);
      known[i] = 1;
    }
    return cached[i];
  };
  // The area vector of the face across the edge of half-edge h (zero on the boundary).
  const auto across = [&](HoleMesh::HalfedgeHandle h) {
    const auto g = hm.face_handle(hm.opposite_halfedge_handle(h));
    return g.is_valid() ? area(g) : OpenMesh::Vec3d(0.0, 0.0, 0.0);
  };
  // The edges of the faces that lie on a crease.
  std::vector<HoleMesh::EdgeHandle> stack;
  for (const auto f : faces)
    for (const auto h : hm.fh_range(f))
      if (bend(area(f), across(h)) > kCrease) stack.push_back(hm.edge_handle(h));
  std::size_t budget = 10 * stack.size() + 100;  // each flip lowers the bending; guards rounding
  long flips = 0;
  while (!stack.empty() && budget > 0) {
    const auto e = stack.back();
    stack.pop_back();
    if (hm.is_boundary(e)) continue;
    const auto h0 = hm.halfedge_handle(e, 0), h1 = hm.halfedge_handle(e, 1);
    const auto f0 = hm.face_handle(h0), f1 = hm.face_handle(h1);
    const OpenMesh::Vec3d n0 = area(f0), n1 = area(f1);
    if (bend(n0, n1) <= kCrease || !may_flip(f0, f1) || !flippable(hm, e)) continue;
    --budget;
    // The faces (b, a, c) and (a, b, d) become (d, a, c) and (c, b, d); the quad's sides are
    // a-c and c-b (of the first face), b-d and d-a (of the second).
    const auto ac = hm.next_halfedge_handle(h0), cb = hm.next_halfedge_handle(ac);
    const auto bd = hm.next_halfedge_handle(h1), da = hm.next_halfedge_handle(bd);
    const VH a = hm.to_vertex_handle(h0), b = hm.from_vertex_handle(h0);
    const VH c = hm.to_vertex_handle(ac), d = hm.to_vertex_handle(bd);
    const OpenMesh::Vec3d pa = hm.point(a), pb = hm.point(b), pc = hm.point(c), pd = hm.point(d);
    const OpenMesh::Vec3d m0 = (pa - pd) % (pc - pd), m1 = (pb - pc) % (pd - pc);
    // No more of the two faces may face against their corners' normals than before: where the
    // rim itself is folded, the least bending can lie in turning a patch face over with it.
    if (int(against(m0, d, a, c)) + int(against(m1, c, b, d)) > int(against(n0, b, a, c)) + int(against(n1, a, b, d)))
      continue;
    const OpenMesh::Vec3d sac = across(ac), scb = across(cb), sbd = across(bd), sda = across(da);
    const double before = bend(n0, n1) + bend(n0, sac) + bend(n0, scb) + bend(n1, sbd) + bend(n1, sda);
    const double after = bend(m0, m1) + bend(m0, sac) + bend(m1, scb) + bend(m1, sbd) + bend(m0, sda);
    // Neither new triangle may be a needle (twice its area under 1e-3 of its squared sides).
    const auto needle = [](const OpenMesh::Vec3d& n, double sides) { return n.norm() < 1e-3 * sides; };
    const double s0 = (pa - pd).sqrnorm() + (pc - pd).sqrnorm() + (pa - pc).sqrnorm();
    const double s1 = (pb - pc).sqrnorm() + (pd - pc).sqrnorm() + (pb - pd).sqrnorm();
    if (!(after < before - 1e-9) || needle(m0, s0) || needle(m1, s1)) continue;
    flip_edge(hm, e);
    known[std::size_t(f0.idx())] = known[std::size_t(f1.idx())] = 0;
    ++flips;
    for (const auto h : {ac, cb, bd, da}) stack.push_back(hm.edge_handle(h));
  }
  return flips;
}

long flip_added_creases(RepairMesh& mesh, const std::vector<char>& old_face, std::size_t points) {
  // Only the faces around the creases go into the half-edge mesh: those with a corner at a
  // vertex of a creased face or of a face beside one. Added faces lie all over a large mesh
  // (on the figure at 200,000 points, a copy of the faces around them held half the mesh and
  // cost 0.06 s to build), but few of them meet a face in a crease.
  const std::size_t nv = mesh.vertices.size(), nf = mesh.faces.size();
  // The faces at each corner of an added face.
  std::vector<std::uint32_t> begin(nv + 1, 0), at;
  std::vector<char> corner(nv, 0);
  for (std::size_t f = 0; f < nf; ++f)
    if (!old_face[f])
      for (int k = 0; k < 3; ++k) corner[std::size_t(mesh.faces[f][k])] = 1;
  for (const auto& f : mesh.faces)
    for (int k = 0; k < 3; ++k)
      if (corner[std::size_t(f[k])]) ++begin[std::size_t(f[k]) + 1];
  for (std::size_t v = 0; v < nv; ++v) begin[v + 1] += begin[v];
  at.resize(begin[nv]);
  {
    std::vector<std::uint32_t> next(begin.begin(), begin.end() - 1);
    for (std::size_t f = 0; f < nf; ++f)
      for (int k = 0; k < 3; ++k)
        if (corner[std::size_t(mesh.faces[f][k])]) at[next[std::size_t(mesh.faces[f][k])]++] = std::uint32_t(f);
  }
  const auto area = [&](std::size_t f) {
    const auto& c = mesh.faces[f];
    const Point3D &a = mesh.vertices[std::size_t(c.x)], &b = mesh.vertices[std::size_t(c.y)],
                  &d = mesh.vertices[std::size_t(c.z)];
    return cross(b - a, d - a);
  };
  // 2: a corner of a face in a crease with an added face; 1: of a face beside one.
  std::vector<char> ring(nv, 0);
  bool any = false;
  for (std::size_t f = 0; f < nf; ++f) {
    if (old_face[f]) continue;
    const auto& c = mesh.faces[f];
    const Point3D n = area(f);
    for (int k = 0; k < 3; ++k) {
      const long long a = c[k], b = c[(k + 1) % 3];
      for (std::uint32_t i = begin[std::size_t(a)]; i < begin[std::size_t(a) + 1]; ++i) {
        const auto& g = mesh.faces[at[i]];
        if (at[i] == f || (g.x != b && g.y != b && g.z != b)) continue;
        const Point3D m = area(at[i]);
        const double l = norm(n) * norm(m);
        if (l > 0.0 && 1.0 - dot(n, m) / l > kCrease) {
          any = true;
          for (int j = 0; j < 3; ++j) ring[std::size_t(c[j])] = ring[std::size_t(g[j])] = 2;
        }
      }
    }
  }
  if (!any) return 0;
  for (const auto& f : mesh.faces)
    if (ring[std::size_t(f.x)] == 2 || ring[std::size_t(f.y)] == 2 || ring[std::size_t(f.z)] == 2)
      for (int k = 0; k < 3; ++k)
        if (ring[std::size_t(f[k])] == 0) ring[std::size_t(f[k])] = 1;
  // The faces taken, over their corners numbered afresh (`local`, and back by `global`).
  std::vector<std::size_t> taken;
  std::vector<long long> local(nv, -1), global;
  RepairMesh part;
  for (std::size_t f = 0; f < nf; ++f) {
    const auto& c = mesh.faces[f];
    if (!ring[std::size_t(c.x)] && !ring[std::size_t(c.y)] && !ring[std::size_t(c.z)]) continue;
    taken.push_back(f);
    Coord3D<long long> g;
    for (int k = 0; k < 3; ++k) {
      long long& l = local[std::size_t(c[k])];
      if (l < 0) {
        l = (long long)global.size();
        global.push_back(c[k]);
        part.vertices.push_back(mesh.vertices[std::size_t(c[k])]);
        // Only the points' own normals guard the flips: the added vertices' normals are
        // estimates.
        part.normals.push_back(std::size_t(c[k]) < points ? mesh.normals[std::size_t(c[k])] : Point3D());
      }
      g[k] = l;
    }
    part.faces.push_back(g);
  }
  // The edges of the faces left out whose both ends are corners of faces taken: the flips see
  // every other edge a flip could make again, but not these.
  std::vector<std::uint64_t> outside;
  const auto key = [](long long a, long long b) {
    return std::uint64_t(std::min(a, b)) << 32 | std::uint64_t(std::max(a, b));
  };
  for (const auto& f : mesh.faces) {
    if (ring[std::size_t(f.x)] || ring[std::size_t(f.y)] || ring[std::size_t(f.z)]) continue;
    for (int k = 0; k < 3; ++k)
      if (local[std::size_t(f[k])] >= 0 && local[std::size_t(f[(k + 1) % 3])] >= 0)
        outside.push_back(key(f[k], f[(k + 1) % 3]));
  }
  std::sort(outside.begin(), outside.end());
  long refused = 0;
  HoleMesh hm = to_hole_mesh(part, refused);
  if (refused > 0) return 0;  // the faces' order would no longer match `taken`
  std::vector<HoleMesh::FaceHandle> added;
  for (std::size_t i = 0; i < taken.size(); ++i)
    if (!old_face[taken[i]]) added.emplace_back(int(i));
  // The corner of face f that face g lacks.
  const auto apex = [&](HoleMesh::FaceHandle f, HoleMesh::FaceHandle g) {
    for (const VH v : hm.fv_range(f)) {
      bool shared = false;
      for (const VH w : hm.fv_range(g)) shared = shared || v == w;
      if (!shared) return v;
    }
    return VH();
  };
  const long flips = fold_flips(hm, part, added, [&](HoleMesh::FaceHandle f, HoleMesh::FaceHandle g) {
    if (old_face[taken[std::size_t(f.idx())]] && old_face[taken[std::size_t(g.idx())]]) return false;
    const VH c = apex(f, g), d = apex(g, f);
    return c.is_valid() && d.is_valid() &&
           !std::binary_search(outside.begin(), outside.end(),
                               key(global[std::size_t(c.idx())], global[std::size_t(d.idx())]));
  });
  if (flips == 0) return 0;
  from_hole_mesh(hm, part);
  for (std::size_t i = 0; i < taken.size(); ++i)
    for (int k = 0; k < 3; ++k) mesh.faces[taken[i]][k] = global[std::size_t(part.faces[i][k])];
  return flips;
}

long untangle_vertices(HoleMesh& hm, const RepairMesh& mesh, const std::vector<VH>& fresh, int sweeps) {
  // With v at x, face (v, a, b) faces along N (the sum of its corners' normals) where
  // ((a - x) x (b - x)) . N = (a x b) . N + x . (N x (b - a)) > 0: linear in x.
  struct Side {
    OpenMesh::Vec3d g;
    double c;
  };
  std::vector<Side> sides;
  const auto normal_of = [&](VH v) { return to_vec(mesh.normals[std::size_t(v.idx())]); };
  const auto wrong = [&](const OpenMesh::Vec3d& x) {
    int k = 0;
    for (const Side& s : sides) k += s.c + (x | s.g) <= 0.0;
    return k;
  };
  long moved = 0;
  for (int sweep = 0; sweep < sweeps; ++sweep) {
    // A sweep that moves nothing leaves the next one the same vertices in the same places.
    const long moved_before = moved;
    for (const VH v : fresh) {
      const OpenMesh::Vec3d n = normal_of(v);
      if ((n | n) == 0.0) continue;
      sides.clear();
      for (auto h : hm.voh_range(v)) {
        if (hm.is_boundary(h)) continue;
        const VH a = hm.to_vertex_handle(h), b = hm.to_vertex_handle(hm.next_halfedge_handle(h));
        const OpenMesh::Vec3d N = n + normal_of(a) + normal_of(b), pa = hm.point(a), pb = hm.point(b);
        sides.push_back({N % (pb - pa), (pa % pb) | N});
      }
      const int before = wrong(hm.point(v));
      if (before == 0) continue;
      // Cyclic projections onto the sides it is outside of, moving in the tangent plane only and
      // a fifth past each side, so that it can end inside all of them where they meet.
      OpenMesh::Vec3d x = hm.point(v);
      for (int it = 0; it < 30 && wrong(x) > 0; ++it)
        for (const Side& s : sides) {
          const OpenMesh::Vec3d g = s.g - (s.g | n) / (n | n) * n;
          const double gg = g | g, f = s.c + (x | s.g);
          if (gg > 0.0 && f <= 0.0) x += (-1.2 * f / gg) * g;
        }
      if (wrong(x) < before) hm.point(v) = x, ++moved;
    }
    if (moved == moved_before) break;
  }
  return moved;
}

// Splits the patch's interior edges longer than kSplitFactor times its target length at their
// middle. Returns whether it split any.
bool split_long_edges(HoleMesh& hm, RepairMesh& mesh, HolePatch& patch,
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
    const VH m = new_vertex(hm, mesh, (hm.point(a) + hm.point(b)) * 0.5, std::array<VH, 2>{a, b});
    hm.property(patch.scale, m) =
        std::min(patch.coarsest, patch.growth * (0.5 * (hm.property(patch.scale, a) + hm.property(patch.scale, b))));
    split_edge(hm, e, m);
    patch.fresh.push_back(m);
    for (auto f : hm.vf_range(m))
      if (std::size_t(f.idx()) >= faces_before) {
        hm.property(prop, f) = patch.id;
        patch.faces.push_back(f);
      }
  }
  return !longs.empty();
}

}  // namespace tervik
