// Closing holes: triangulation of each boundary loop, refinement and fairing.
#include "weaver/closing/hole_filling.h"

#include <algorithm>
#include <cmath>
#include <array>
#include <functional>
#include <limits>
#include <map>
#include <numeric>
#include <set>
#include <tuple>
#include <utility>

#include "weaver/closing/band_stitch.h"
#include "weaver/closing/fairing.h"
#include "weaver/closing/loop_nearness.h"
#include "weaver/closing/loop_split.h"
#include "weaver/closing/patch_refinement.h"
#include "weaver/closing/rim_bridges.h"
#include "weaver/closing/rim_untangling.h"

namespace tervik {
namespace {

using VH = HoleMesh::VertexHandle;
using HH = HoleMesh::HalfedgeHandle;

// Loops with more corners than this are split by chords across the hole (weaver/loop_split.h).
constexpr int kMaxPart = 64;
// Parts longer than this (no chord shortened them) are triangulated corner by corner instead of
// by dynamic programming. No chord splits a rim that wraps round the object (over a hole larger
// than a hemisphere its normals lean away from the hole) or that winds across a fragmented
// region; the least-area triangulation of such a rim joins corners far apart straight through
// the object, where cutting corners keeps each triangle beside the rim it starts from. On the
// 8-camera figure at 7,000 points, whose head and neck lie inside one rim of 478 corners, the
// closed mesh had 1.91 % of its faces against the true surface and covered 50.6 % of it within
// 1 L with the least-area triangulation up to 1000 corners; with corners cut, 1.58 and 54.3 %.
constexpr int kMaxDynamicLoop = kMaxPart;
// Gauss-Seidel sweeps of the fairing after each refinement round (the last fairing settles the
// patch; these only place the next round's splits, and 6 to 12 of them served as well as 20).
constexpr int kFairingSweeps = 10;
// Refinement stops after a round that adds fewer new vertices than the patch had over this.
// Such a round only fills in where the fairing stretched a few edges; the last fairing settles
// the patch as well without it, and on a large patch the round's sweeps and flips cost about a
// tenth of the closing step.
constexpr std::size_t kLastRoundShare = 3;
// Parts of at most this many corners avoid triangles that face against their corners' normals
// where another triangulation does (on larger parts, where corners far apart meet in one
// triangle, the noisy normals misled more than they helped).
constexpr std::size_t kSteeredPart = 6;
// Larger parts whose corners' normals sum to at least this share of their number avoid
// triangles that face against their mean normal instead (0.6 steered parts of the large holes in
// the sparse sphere cloud wrongly; 0.7 to 0.8 helped on all clouds but that one).
constexpr double kSteerAgreement = 0.7;
// A patch over a hole whose rim is so long that a disc refined to the rim's edge length (about
// corners^2 / 6 faces) would hold more faces than the mesh it closes is graded: each round of
// splits makes the new vertices want edges kGrowth times as long as their ends want, up to
// kCoarsest times the rim's edge length. Such a patch (over a hole that misses a large part of
// a sparse cloud) is a guess lifted onto the few points beyond it; refined as finely as its rim,
// it held as many vertices as the rest of the mesh and its closing cost as much as the
// triangulation. On the sparse sphere clouds a growth of 2 instead of 1.5 took 8 % off the
// closing step with coverage within 0.2 points and fewer inward faces near the surface; 2.5 and
// 3 cost coverage (up to 2.7 points).
constexpr double kGrowth = 2.0;
constexpr double kCoarsest = 4.0;
// Sweeps of the last fairing, once the patch is refined.
constexpr int kFinalSweeps = 80;
// A fairing stops after a sweep that moved no vertex by more than this share of the patch's
// target edge length: the membrane has settled, and further sweeps only cost time (on the
// sparse sphere cloud most of the closing step went into sweeping one large patch to the end).
constexpr double kSettled = 0.03;
// A band between two loops is stitched over (corners of one) x (corners of the other) states;
// pairs of loops beyond this are closed on their own.
constexpr std::size_t kMaxBandStates = std::size_t(1) << 22;
// Loops tried as the hole a detached piece lies in (the nearest ones).
constexpr std::size_t kBandCandidates = 4;
// A band is taken only where less than this share of its area faces against the normals.
constexpr double kMaxBandAgainst = 0.2;
// Rounds of widening holes whose rim overlaps them (weaver/rim_untangling.h).
constexpr int kUntangleRounds = 3;
// Two pieces whose rims come closer than the radius of the shorter rim (taken as a circle) are
// joined by a bridge of two faces before their holes are closed; each would otherwise be capped
// on its own, a closed surface of its own. The search looks no farther than this many mean edge
// lengths.
constexpr double kMaxBridgeReach = 32.0;


// Appends the corners of `loop`, starting at its corner `first`, to v (vertices), p
// (positions) and normals, and sets each corner's wanted edge length (scale) to the mean of its
// two loop edges (at least min_target). Returns the loop's mean edge length.
double take_corners(HoleMesh& hm, const RepairMesh& mesh, const std::vector<HH>& loop,
                    std::size_t first, const OpenMesh::VPropHandleT<double>& scale,
                    double min_target, std::vector<VH>& v, std::vector<Point3D>& p,
                    std::vector<Point3D>& normals) {
  const std::size_t n = loop.size(), start = p.size();
  v.reserve(v.size() + n);
  p.reserve(start + n);
  normals.reserve(normals.size() + n);
  double sum = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    const HH h = loop[(first + k) % n];
    v.push_back(hm.from_vertex_handle(h));
    p.push_back(to_point(hm.point(v.back())));
    normals.push_back(mesh.normals[std::size_t(v.back().idx())]);
    sum += std::sqrt(hm.calc_edge_sqr_length(hm.edge_handle(h)));
  }
  for (std::size_t i = 0; i < n; ++i) {
    const double before = norm(p[start + i] - p[start + (i + n - 1) % n]);
    const double after = norm(p[start + (i + 1) % n] - p[start + i]);
    hm.property(scale, v[start + i]) = std::max(min_target, 0.5 * (before + after));
  }
  return sum / double(n);
}

void refine_patch(HoleMesh& hm, RepairMesh& mesh, HolePatch& patch,
                  const OpenMesh::FPropHandleT<int>& prop, std::size_t corners, std::size_t mesh_faces);

// Closes the band between the rim of a hole (`outer`) and the rim of a detached piece inside
// it (`inner`), joined first between outer corner a and inner corner b (weaver/band_stitch.h),
// then refines and fairs it like a hole's patch (`mesh_faces`: the faces of the mesh being
// closed, see refine_patch). False when the faces cannot be added.
bool close_band(HoleMesh& hm, RepairMesh& mesh, const std::vector<HH>& outer, std::size_t a,
                const std::vector<HH>& inner, std::size_t b, int id,
                const OpenMesh::FPropHandleT<int>& prop, const OpenMesh::VPropHandleT<double>& scale,
                const OpenMesh::EPropHandleT<char>& queued, double min_target, std::size_t mesh_faces) {
  HolePatch patch{id, 0.0, {}, {}, scale, queued};
  std::vector<VH> v;
  std::vector<Point3D> p, normals;
  const double outer_mean = take_corners(hm, mesh, outer, a, scale, min_target, v, p, normals);
  const double inner_mean = take_corners(hm, mesh, inner, b, scale, min_target, v, p, normals);
  const std::size_t n = outer.size(), m = inner.size();
  patch.target = std::max(min_target, (outer_mean * double(n) + inner_mean * double(m)) / double(n + m));
  const auto tris = stitch_band(std::vector<Point3D>(p.begin(), p.begin() + long(n)),
                                std::vector<Point3D>(p.begin() + long(n), p.end()));
  for (const auto& t : tris) {
    const auto fh = add_face(hm, v[std::size_t(t[0])], v[std::size_t(t[1])], v[std::size_t(t[2])]);
    if (!fh.is_valid()) return false;
    hm.property(prop, fh) = id;
    patch.faces.push_back(fh);
  }
  refine_patch(hm, mesh, patch, prop, n + m, mesh_faces);
  return true;
}

// A detached piece that lies in a hole of another piece: the loops of the hole's rim (outer)
// and of the piece's rim (inner), and the nearest pair of their corners (a, b), where the band
// between them starts.
struct Band {
  std::size_t outer, inner, a, b;
};

// Whether the loop's own patch would face against its corners' normals (its area vector about
// the centroid against their sum): the outer rim of a detached piece, seen from its hole side.
bool patch_faces_against_normals(const HoleMesh& hm, const RepairMesh& mesh, const std::vector<HH>& loop) {
  OpenMesh::Vec3d centre(0.0, 0.0, 0.0);
  for (auto h : loop) centre += hm.point(hm.from_vertex_handle(h)) / double(loop.size());
  Point3D area, normals;
  for (auto h : loop) {
    const VH from = hm.from_vertex_handle(h), to = hm.to_vertex_handle(h);
    area += cross(to_point(hm.point(from) - centre), to_point(hm.point(to) - centre));
    normals += mesh.normals[std::size_t(from.idx())];
  }
  return dot(area, normals) < 0.0;
}

// The bands to stitch instead of closing both rims on their own. A loop whose own patch would
// face against its normals, on a piece other than the largest, is the rim of a detached piece;
// it is paired with a loop of another piece whose patch would face along its normals (a hole):
// of the holes nearest all round it, the one whose stitched band faces against the corners'
// normals least, if under kMaxBandAgainst of its area. Each loop takes part in one band at
// most; longer rims choose first. `pieces`, when given, are hm's pieces (else they are found).
std::vector<Band> find_bands(const HoleMesh& hm, const RepairMesh& mesh,
                             const std::vector<std::vector<HH>>& loops, const FacePieces* pieces) {
  // Only a loop whose patch would face against its normals can be a detached piece's rim.
  std::vector<char> against;
  against.reserve(loops.size());
  for (const auto& loop : loops) against.push_back(patch_faces_against_normals(hm, mesh, loop));
  if (std::find(against.begin(), against.end(), 1) == against.end()) return {};
  FacePieces found;
  if (pieces == nullptr) found.count = face_pieces(hm, found.piece, found.largest), pieces = &found;
  if (pieces->count < 2) return {};
  const std::vector<int>& piece = pieces->piece;
  const int largest = pieces->largest;
  std::vector<int> loop_piece;
  loop_piece.reserve(loops.size());
  std::vector<std::size_t> islands;
  for (std::size_t l = 0; l < loops.size(); ++l) {
    loop_piece.push_back(piece[std::size_t(hm.face_handle(hm.opposite_halfedge_handle(loops[l][0])).idx())]);
    if (against[l] && loop_piece.back() != largest) islands.push_back(l);
  }
  std::stable_sort(islands.begin(), islands.end(),
                   [&](std::size_t x, std::size_t y) { return loops[x].size() > loops[y].size(); });
  std::vector<char> used(loops.size(), 0);
  std::vector<Band> bands;
  // Corner positions, read once.
  std::vector<std::vector<Point3D>> corners(loops.size());
  for (std::size_t k = 0; k < loops.size(); ++k) {
    corners[k].reserve(loops[k].size());
    for (auto h : loops[k]) corners[k].push_back(to_point(hm.point(hm.from_vertex_handle(h))));
  }
  const auto corner = [&](std::size_t loop, std::size_t i) -> const Point3D& {
    return corners[loop][i % corners[loop].size()];
  };
  const auto normal = [&](std::size_t loop, std::size_t i) {
    return mesh.normals[std::size_t(hm.from_vertex_handle(loops[loop][i % loops[loop].size()]).idx())];
  };
  // Each loop's centre (mean corner) and radius (farthest corner from it), which bound the
  // distances between corners of two loops from below.
  std::vector<Point3D> centre(loops.size());
  std::vector<double> radius(loops.size(), 0.0);
  for (std::size_t k = 0; k < loops.size(); ++k) {
    for (std::size_t i = 0; i < loops[k].size(); ++i) centre[k] += corner(k, i) / double(loops[k].size());
    for (std::size_t i = 0; i < loops[k].size(); ++i) radius[k] = std::max(radius[k], norm(corner(k, i) - centre[k]));
  }
  for (const std::size_t l : islands) {
    double length = 0.0;
    for (auto h : loops[l]) length += std::sqrt(hm.calc_edge_sqr_length(hm.edge_handle(h)));
    // The hole the piece lies in is near all round its rim: candidates are the loops with the
    // least mean distance from the rim's corners to their nearest corner on it, under the
    // radius of a circle as long as the rim (a wider gap is no narrow ring round the piece).
    const double limit = length / (2.0 * M_PI);
    std::vector<std::size_t> tried;
    for (std::size_t k = 0; k < loops.size(); ++k) {
      if (against[k] || used[k] || loop_piece[k] == loop_piece[l]) continue;
      if (loops[k].size() * loops[l].size() > kMaxBandStates) continue;
      if (norm(centre[k] - centre[l]) - radius[k] - radius[l] >= limit) continue;
      tried.push_back(k);
    }
    const auto near = nearest_all_round(corners[l], corners, tried, limit, kBandCandidates);
    // Of those, the one whose band (stitched from the nearest pair of corners) faces along its
    // corners' normals the most; a band mostly against them means the piece is not in that hole.
    Band band{loops.size(), l, 0, 0};
    double best = kMaxBandAgainst;
    for (const auto& [mean, k] : near) {
      Band b{k, l, 0, 0};
      double closest = std::numeric_limits<double>::infinity();
      for (std::size_t i = 0; i < loops[k].size(); ++i)
        for (std::size_t j = 0; j < loops[l].size(); ++j)
          if (dist2(corner(k, i), corner(l, j)) < closest) closest = dist2(corner(k, i), corner(l, j)), b.a = i, b.b = j;
      std::vector<Point3D> p, ns;
      for (std::size_t i = 0; i < loops[k].size(); ++i) p.push_back(corner(k, b.a + i)), ns.push_back(normal(k, b.a + i));
      for (std::size_t j = 0; j < loops[l].size(); ++j) p.push_back(corner(l, b.b + j)), ns.push_back(normal(l, b.b + j));
      double area = 0.0, wrong = 0.0;
      for (const auto& t : stitch_band(std::vector<Point3D>(p.begin(), p.begin() + long(loops[k].size())),
                                       std::vector<Point3D>(p.begin() + long(loops[k].size()), p.end()))) {
        const Point3D& x = p[std::size_t(t[0])];
        const Point3D n = cross(p[std::size_t(t[1])] - x, p[std::size_t(t[2])] - x);
        area += norm(n);
        if (dot(n, ns[std::size_t(t[0])] + ns[std::size_t(t[1])] + ns[std::size_t(t[2])]) < 0.0) wrong += norm(n);
      }
      if (area > 0.0 && wrong / area < best) best = wrong / area, band = b;
    }
    const bool found = band.outer < loops.size();
    if (!found) continue;
    used[band.outer] = used[band.inner] = 1;
    bands.push_back(band);
  }
  return bands;
}

// The boundary loops of hm, each as its half-edges in order.
std::vector<std::vector<HH>> boundary_loops(const HoleMesh& hm) {
  std::vector<std::vector<HH>> loops;
  std::vector<char> seen(hm.n_halfedges(), 0);
  // Each loop is walked into one reused list and copied out at its size: one allocation a
  // loop instead of one for every doubling.
  std::vector<HH> walk;
  for (auto h : hm.halfedges()) {
    if (!hm.is_boundary(h) || seen[std::size_t(h.idx())]) continue;
    walk.clear();
    for (auto g = h; !seen[std::size_t(g.idx())]; g = hm.next_halfedge_handle(g)) {
      seen[std::size_t(g.idx())] = 1;
      walk.push_back(g);
    }
    loops.emplace_back(walk.begin(), walk.end());
  }
  return loops;
}

// Triangulates one boundary loop, refines and fairs it (`mesh_faces`: the faces of the mesh
// being closed, see refine_patch). False when it cannot be closed.
bool close_loop(HoleMesh& hm, RepairMesh& mesh, const std::vector<HoleMesh::HalfedgeHandle>& loop,
                int id, const OpenMesh::FPropHandleT<int>& prop,
                const OpenMesh::VPropHandleT<double>& scale,
                const OpenMesh::EPropHandleT<char>& queued, double min_target, std::size_t mesh_faces) {
  const int n = int(loop.size());
  if (n < 3) return false;
  HolePatch patch{id, 0.0, {}, {}, scale, queued};
  std::vector<VH> v;
  std::vector<Point3D> p, normals;
  patch.target = std::max(min_target, take_corners(hm, mesh, loop, 0, scale, min_target, v, p, normals));
  // Long loops are split by chords into parts of at most kMaxPart corners; each part is then
  // triangulated over its corners, its faces added before the next part is looked at, so that
  // no part takes a chord that an earlier part already made an edge.
  const auto allowed = [&](int i, int k) { return !hm.find_halfedge(v[std::size_t(i)], v[std::size_t(k)]).is_valid(); };
  const LoopSplit split = split_loop(p, normals, patch.target, kMaxPart, allowed);
  for (std::size_t k = 0; k < split.parents.size(); ++k) {
    const VH a = v[std::size_t(split.parents[k][0])], b = v[std::size_t(split.parents[k][1])];
    const VH c = new_vertex(hm, mesh, to_vec(split.points[std::size_t(n) + k]), std::array<VH, 2>{a, b});
    hm.property(scale, c) = 0.5 * (hm.property(scale, a) + hm.property(scale, b));
    patch.fresh.push_back(c);
    v.push_back(c);
  }
  for (const auto& part : split.parts) {
    const int m = int(part.size());
    std::vector<Point3D> pp, pn;
    pp.reserve(std::size_t(m));
    pn.reserve(std::size_t(m));
    for (int i : part) {
      pp.push_back(split.points[std::size_t(i)]);
      pn.push_back(split.normals[std::size_t(i)]);
    }
    // The corners that an edge of the mesh joins to each corner already, read from the corners'
    // outgoing half-edges before the least-cost triangulation, or when the ear triangulation
    // first asks.
    std::vector<std::size_t> joined_start;
    std::vector<int> joined;
    const auto list_joined = [&] {
      std::vector<std::pair<int, int>> by_vertex;  // (vertex, corner)
      // Sized once: a corner is joined to its two neighbours along the loop and seldom to more.
      by_vertex.reserve(std::size_t(m));
      joined_start.reserve(std::size_t(m) + 1);
      joined.reserve(3 * std::size_t(m));
      for (int i = 0; i < m; ++i) by_vertex.emplace_back(v[std::size_t(part[std::size_t(i)])].idx(), i);
      std::sort(by_vertex.begin(), by_vertex.end());
      joined_start.push_back(0);
      for (int i = 0; i < m; ++i) {
        for (const auto h : hm.voh_range(v[std::size_t(part[std::size_t(i)])])) {
          const int to = hm.to_vertex_handle(h).idx();
          for (auto at = std::lower_bound(by_vertex.begin(), by_vertex.end(), std::make_pair(to, 0));
               at != by_vertex.end() && at->first == to; ++at)
            joined.push_back(at->second);
        }
        joined_start.push_back(joined.size());
      }
    };
    const auto part_allowed = [&](int i, int k) {
      if (joined_start.empty()) list_joined();
      const auto first = joined.begin() + long(joined_start[std::size_t(i)]);
      const auto last = joined.begin() + long(joined_start[std::size_t(i) + 1]);
      return std::find(first, last, k) == last;
    };
    // The least-cost triangulation reads the lists as a table of barred chords (a triangle
    // has no chord to bar).
    if (m <= kMaxDynamicLoop && m > 3) list_joined();
    const auto tris = m <= kMaxDynamicLoop
                          ? min_area_triangulation(pp, joined_start, joined,
                                                   steering_normals(pn, kSteeredPart, kSteerAgreement))
                          : ear_triangulation(pp, pn, part_allowed);
    std::vector<std::array<VH, 3>> faces;
    faces.reserve(tris.empty() ? std::size_t(m) : tris.size());
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
      const auto fh = add_face(hm, f[0], f[1], f[2]);
      if (!fh.is_valid()) return false;
      hm.property(prop, fh) = id;
      patch.faces.push_back(fh);
    }
  }
  refine_patch(hm, mesh, patch, prop, std::size_t(n), mesh_faces);
  return true;
}

// Refines the faces of `patch` until their edges are about as long as the loop's (or loops')
// edges around it, and fairs its new vertices; `corners` counts the rim's corners, `mesh_faces`
// the faces of the mesh being closed.
void refine_patch(HoleMesh& hm, RepairMesh& mesh, HolePatch& patch,
                  const OpenMesh::FPropHandleT<int>& prop, std::size_t corners, std::size_t mesh_faces) {
  if (corners * corners > 6 * mesh_faces) {
    patch.growth = kGrowth;
    patch.coarsest = kCoarsest * patch.target;
  }
  // A disc bounded by n edges of the target length needs about n^2 / 6 faces; the cap only
  // guards against loops far from round.
  const std::size_t max_faces = corners * corners + 100;
  quality_flips(hm, patch, prop, {});
  for (int round = 0; round < 40 && patch.faces.size() < max_faces; ++round) {
    fair_vertices_unfolded(hm, patch.fresh, kFairingSweeps, mesh.normals, kSettled * patch.target);
    const std::size_t fresh_before = patch.fresh.size();
    if (!split_long_edges(hm, mesh, patch, prop)) break;
    // Only the faces around the new vertices changed since the last flips.
    const std::size_t made = patch.fresh.size() - fresh_before;
    quality_flips(hm, patch, prop,
                  std::vector<VH>(patch.fresh.begin() + long(fresh_before), patch.fresh.end()));
    // Once the patch is refined, fairing only stretches a few edges each round (the membrane
    // settles): a round that adds under a third of the new vertices made so far is the last,
    // which saves sweeping the whole patch for a trickle of splits.
    if (made * kLastRoundShare < fresh_before) break;
  }
  fair_vertices_unfolded(hm, patch.fresh, kFinalSweeps, mesh.normals, kSettled * patch.target);
  normal_flips(hm, mesh, patch.faces, [&](HoleMesh::FaceHandle f, HoleMesh::FaceHandle g) {
    return hm.property(prop, f) == patch.id && hm.property(prop, g) == patch.id;
  });
  // New vertices whose faces still point against their corners' normals move where fewer do.
  untangle_vertices(hm, mesh, patch.fresh, 3);
}

}  // namespace

HoleFilling fill_holes(RepairMesh& mesh) {
  HoleMesh hm;
  return fill_holes(mesh, hm);
}

namespace {

// Joins the pieces of hm whose rims (the loops `loops`) nearly touch: across the two nearest rim
// edges of two pieces that run in opposite directions, a->a' on one and b->b' on the other,
// the faces (a, a', b) and (a, b, b') make one piece of the two and one loop of their two
// loops. Both new edges a'-b and a-b' must be shorter than the radius of a circle as long as the
// shorter of the two loops (at most `max_reach`): two halves of a surface that a row of missing
// faces cut apart are joined, while the holes of two separate objects stay apart unless they
// lie closer than they are wide. Pieces are joined nearest first until all are one or no two
// come that close; a bridge whose faces would face against their corners' normals is not made.
// `group` gives each loop's piece. The new faces take patch number `id`. Returns the bridges
// made.
long bridge_pieces(HoleMesh& hm, const RepairMesh& mesh, const std::vector<std::vector<HH>>& loops,
                   const std::vector<int>& group, double max_reach,
                   const OpenMesh::FPropHandleT<int>& prop, int id) {
  // The groups joined so far, as a union-find forest over the pieces' numbers.
  std::map<int, int> parent;
  const std::function<int(int)> root = [&](int g) {
    const auto it = parent.find(g);
    return it == parent.end() || it->second == g ? g : (parent[g] = root(it->second));
  };
  // Each rim edge as a half-edge, with its piece, position and reach.
  std::vector<HH> rims;
  std::vector<RimEdge> edges;
  for (std::size_t l = 0; l < loops.size(); ++l) {
    double length = 0.0;
    for (const HH h : loops[l]) length += std::sqrt(hm.calc_edge_sqr_length(hm.edge_handle(h)));
    // The rim of a detached piece seen from its hole side (its own patch would face against its
    // normals) may be bridged as far as the search looks: closed on its own, the piece would be
    // a two-sided pancake.
    const double radius =
        patch_faces_against_normals(hm, mesh, loops[l]) ? max_reach : std::min(length / (2.0 * M_PI), max_reach);
    for (const HH h : loops[l]) {
      rims.push_back(h);
      edges.push_back({to_point(hm.point(hm.from_vertex_handle(h))), to_point(hm.point(hm.to_vertex_handle(h))),
                       group[l], radius});
    }
  }
  // (No pieces are joined before the bridges: until then each group is its own root.)
  const auto candidates = bridge_candidates(edges);
  const auto pos = [&](VH v) { return to_point(hm.point(v)); };
  const auto normal = [&](VH v) { return mesh.normals[std::size_t(v.idx())]; };
  long bridges = 0;
  for (const auto& [cost, i, j] : candidates) {
    const int gi = root(edges[i].group), gj = root(edges[j].group);
    if (gi == gj || !hm.is_boundary(rims[i]) || !hm.is_boundary(rims[j])) continue;
    const VH a = hm.from_vertex_handle(rims[i]), a2 = hm.to_vertex_handle(rims[i]);
    const VH b = hm.from_vertex_handle(rims[j]), b2 = hm.to_vertex_handle(rims[j]);
    // One gap at each corner, so that both faces go in (the first alone would pinch b).
    if (!hm.is_manifold(a) || !hm.is_manifold(a2) || !hm.is_manifold(b) || !hm.is_manifold(b2)) continue;
    const Point3D n1 = cross(pos(a2) - pos(a), pos(b) - pos(a)), n2 = cross(pos(b) - pos(a), pos(b2) - pos(a));
    if (dot(n1, normal(a) + normal(a2) + normal(b)) <= 0.0 || dot(n2, normal(a) + normal(b) + normal(b2)) <= 0.0)
      continue;
    const auto f1 = add_face(hm, a, a2, b);
    if (!f1.is_valid()) continue;
    const auto f2 = add_face(hm, a, b, b2);
    hm.property(prop, f1) = id;
    if (f2.is_valid()) hm.property(prop, f2) = id;
    parent[gi] = gj;
    ++bridges;
  }
  return bridges;
}

// Closes the boundary loops of hm for which take(first vertex index of each loop edge) holds;
// `mesh` gives the colours and normals (and takes those of new vertices). With whole_mesh (hm
// holds all of the mesh), detached pieces lying in holes are joined by bands. Patch edges on
// the rims may be flipped, so the caller copies every face of hm back. Fills in the counts of
// what was added, the Euler characteristic's change included. `pieces`, when given, are hm's
// pieces; then it counts the pieces of the result too. `mesh_faces` counts the faces of the
// whole mesh (hm may hold only part of it). Where hm holds part of the mesh, `elsewhere` lists
// the edges (lower vertex first, sorted) that join two of hm's vertices in faces left out of
// hm: no flip on a patch's rim makes one of them again, which would give it four faces.
HoleFilling close_holes(HoleMesh& hm, RepairMesh& mesh, double min_target, std::size_t mesh_faces, bool whole_mesh,
                        const std::function<bool(const std::vector<HoleMesh::HalfedgeHandle>&)>& take,
                        const FacePieces* pieces = nullptr,
                        const std::vector<std::pair<int, int>>& elsewhere = {}) {
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
  for (auto& loop : boundary_loops(hm))
    if (take(loop)) loops.push_back(std::move(loop));
  // Detached pieces lying in holes are joined to the surface around them by bands.
  std::vector<char> banded(loops.size(), 0);
  const std::vector<Band> bands = whole_mesh ? find_bands(hm, mesh, loops, pieces) : std::vector<Band>();
  // A patch closes a loop of one piece; a band joins the pieces of its two loops.
  std::vector<int> joined;
  if (pieces != nullptr) {
    joined.resize(std::size_t(pieces->count));
    std::iota(joined.begin(), joined.end(), 0);
    out.pieces = pieces->count;
  }
  const auto piece_of = [&](const std::vector<HoleMesh::HalfedgeHandle>& loop) {
    int k = pieces->piece[std::size_t(hm.face_handle(hm.opposite_halfedge_handle(loop[0])).idx())];
    while (joined[std::size_t(k)] != k) k = joined[std::size_t(k)];
    return k;
  };
  for (std::size_t k = 0; k < bands.size(); ++k) {
    const Band& b = bands[k];
    banded[b.outer] = banded[b.inner] = 1;
    const int outer_piece = pieces != nullptr ? piece_of(loops[b.outer]) : -1;
    const int inner_piece = pieces != nullptr ? piece_of(loops[b.inner]) : -1;
    const bool closed = close_band(hm, mesh, loops[b.outer], b.a, loops[b.inner], b.b,
                                   int(loops.size() + k), prop, scale, queued, min_target, mesh_faces);
    out.holes_closed += closed ? 2 : 0;
    out.holes_left += closed ? 0 : 2;
    if (closed) out.largest_hole = std::max(out.largest_hole, long(loops[b.outer].size()));
    if (closed && outer_piece != inner_piece) joined[std::size_t(inner_piece)] = outer_piece, --out.pieces;
  }
  // Pieces still apart whose rims nearly touch are bridged, and their loops closed as one.
  int first_id = 0;
  if (whole_mesh && pieces != nullptr && pieces->count > 1 && out.holes_left == 0) {
    std::vector<std::vector<HoleMesh::HalfedgeHandle>> rest;
    std::vector<int> group;  // each loop's piece, pieces joined by bands as one
    for (std::size_t l = 0; l < loops.size(); ++l)
      if (!banded[l]) rest.push_back(loops[l]), group.push_back(piece_of(loops[l]));
    const int bridge_id = int(loops.size() + bands.size());
    // (min_target is half the mean edge length.)
    out.bridges = bridge_pieces(hm, mesh, rest, group, kMaxBridgeReach * 2.0 * min_target, prop, bridge_id);
    out.pieces -= out.bridges;  // each joins two pieces
    if (out.bridges > 0) {
      loops.clear();
      for (auto& loop : boundary_loops(hm))
        if (take(loop)) loops.push_back(std::move(loop));
      banded.assign(loops.size(), 0);
      first_id = bridge_id + 1;
    }
  }
  for (std::size_t id = 0; id < loops.size(); ++id) {
    if (banded[id]) continue;
    if (close_loop(hm, mesh, loops[id], first_id + int(id), prop, scale, queued, min_target, mesh_faces)) {
      ++out.holes_closed;
      out.largest_hole = std::max(out.largest_hole, long(loops[id].size()));
    } else {
      ++out.holes_left;
    }
  }
  // Once every hole is closed, edges where a patch meets the faces around it may be flipped
  // too (the callers copy every face of hm back, the old ones included).
  std::vector<HoleMesh::FaceHandle> added;
  for (std::size_t f = faces_before; f < hm.n_faces(); ++f) added.emplace_back(int(f));
  const auto on_patch = [&](HoleMesh::FaceHandle f, HoleMesh::FaceHandle g) {
    if (hm.property(prop, f) < 0 && hm.property(prop, g) < 0) return false;
    if (elsewhere.empty()) return true;
    // The flip joins the corners of f and g off their common edge.
    int c = -1, d = -1;
    for (const auto h : hm.fh_range(f))
      if (hm.face_handle(hm.opposite_halfedge_handle(h)) == g) {
        c = hm.to_vertex_handle(hm.next_halfedge_handle(h)).idx();
        d = hm.to_vertex_handle(hm.next_halfedge_handle(hm.opposite_halfedge_handle(h))).idx();
      }
    return !std::binary_search(elsewhere.begin(), elsewhere.end(), std::make_pair(std::min(c, d), std::max(c, d)));
  };
  normal_flips(hm, mesh, added, on_patch);
  // Where a patch meets its rim across a crease (mostly a triangle over a few rim corners that
  // folds back over a rim face, or over a patch face beside it, where the rim is twisted),
  // flips that lower the bending smooth it. The flips above look only at faces against their
  // corners' normals, which many of these folds are not: needles standing across the surface,
  // and folds where the normals around them are noisy.
  fold_flips(hm, mesh, added, on_patch);
  if (out.holes_left > 0) out.pieces = -1;
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
  std::vector<int> across;  // the faces across each face's edges, which the widening reads
  to_hole_mesh(mesh, refused, hm, &across);
  // Rims that overlap their hole are widened first; that needs hm's faces to be mesh's.
  // The pieces of hm, found once and kept up to date while faces go.
  FacePieces pieces;
  const long opened = refused == 0 ? untangle_rims(mesh, hm, kUntangleRounds, &pieces, std::move(across)).faces_removed : 0;
  // Detached pieces stay: each is joined to another by a band or a bridge where one fits, and
  // closed on its own otherwise (it may be a limb that the points show only in part).
  // Half the mean edge length bounds the target length from below (loops of tiny edges).
  double mean_edge = 0.0;
  for (auto e : hm.edges()) mean_edge += std::sqrt(hm.calc_edge_sqr_length(e));
  if (hm.n_edges() > 0) mean_edge /= double(hm.n_edges());
  HoleFilling out = close_holes(hm, mesh, 0.5 * mean_edge, hm.n_faces(), true, [](const auto&) { return true; },
                                refused == 0 ? &pieces : nullptr);
  out.faces_refused = refused;
  out.faces_opened = opened;
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
  std::vector<std::size_t> source;  // the index in mesh.faces of each face around
  const auto is_marked = [&](long long v) { return std::size_t(v) < marked.size() && marked[std::size_t(v)]; };
  for (std::size_t f = 0; f < mesh.faces.size(); ++f) {
    const auto& t = mesh.faces[f];
    if (is_marked(t.x) || is_marked(t.y) || is_marked(t.z)) around.faces.push_back(t), source.push_back(f);
  }
  // The faces left out may join two vertices of the faces around by an edge, which a flip on a
  // cap's rim must not make again.
  std::vector<char> in_around(mesh.vertices.size(), 0);
  for (const auto& t : around.faces)
    for (int k = 0; k < 3; ++k) in_around[std::size_t(t[k])] = 1;
  std::vector<std::pair<int, int>> elsewhere;
  for (std::size_t f = 0, next = 0; f < mesh.faces.size(); ++f) {
    if (next < source.size() && source[next] == f) {
      ++next;
      continue;
    }
    const auto& t = mesh.faces[f];
    for (int k = 0; k < 3; ++k) {
      const auto a = int(t[k]), b = int(t[(k + 1) % 3]);
      if (in_around[std::size_t(a)] && in_around[std::size_t(b)]) elsewhere.emplace_back(std::min(a, b), std::max(a, b));
    }
  }
  std::sort(elsewhere.begin(), elsewhere.end());
  HoleMesh hm;
  long refused = 0;
  to_hole_mesh(around, refused, hm);
  HoleFilling out = close_holes(
      hm, mesh, 0.5 * mean_edge, mesh.faces.size(), false,
      [&](const auto& loop) {
        for (auto h : loop)
          if (!is_marked(hm.from_vertex_handle(h).idx())) return false;
        return true;
      },
      nullptr, elsewhere);
  out.faces_refused = refused;
  for (std::size_t v = mesh.vertices.size(); v < hm.n_vertices(); ++v)
    mesh.vertices.push_back(to_point(hm.point(HoleMesh::VertexHandle(int(v)))));
  // The faces around may have been flipped on the patches' rims: they go back to their places.
  for (std::size_t f = 0; f < hm.n_faces(); ++f) {
    auto it = hm.cfv_iter(HoleMesh::FaceHandle(int(f)));
    const long long a = it->idx(), b = (++it)->idx(), c = (++it)->idx();
    if (f >= around.faces.size()) mesh.faces.emplace_back(a, b, c);
    else if (refused == 0) mesh.faces[source[f]] = Coord3D<long long>(a, b, c);
  }
  return out;
}

}  // namespace tervik
