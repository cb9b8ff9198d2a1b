// Turning the faces left against their corners' point normals: edge flips, moves of added vertices
// and re-triangulated discs.
#include "weaver/closing/normal_agreement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

#include "weaver/closing/handle_removal.h"
#include "weaver/closing/hole_mesh.h"
#include "weaver/closing/region_retriangulation.h"
#include "weaver/point_tree.h"

namespace tervik {
namespace {

using VH = HoleMesh::VertexHandle;
using FH = HoleMesh::FaceHandle;
using HH = HoleMesh::HalfedgeHandle;

// Rounds of mending: a flip or a move changes the faces next to it, which the next round looks at.
constexpr int kRounds = 4;
// An added vertex moves at most this many mean edge lengths of its ring. On the generated
// figure at 20,000 points, 1 left 92 faces against the normals, 2 left 67, with the same
// coverage and silhouettes.
constexpr double kMaxMove = 2.0;
// A move takes an added vertex at most this many mean edge lengths of the mesh further from
// the nearest point than it was. The bound of two ring lengths alone is loose where the ring's
// edges are long: on the 32-camera ring figure at 25,000 points a vertex of a handle's cap, on
// a point, went 11.5 mean edge lengths off the surface (8.7 from any point) to turn the faces
// of a ring whose edges average 7 of them, and three cameras saw it against the background
// (their IoU 0.0069 below the plain mesh's; with the bound, 0.0002). The bound is relative: a
// vertex hanging in a web off the points may still move within the air there, where the discs
// later take it in.
constexpr double kMaxDrift = 4.0;
// A moved vertex's faces lean at most this far (degrees) from the normals of the points they
// hold (the part of those normals across the face's edge at the points). A face that only just
// faces along normals that point wrong (a few in a hundred do, on sparse clouds) faces against
// the surface. On the sparse sphere with a hole (78 faces against the true surface before this
// stage), moves without the bound left 87 such faces, the whole stage with it 79; 60 degrees
// mended fewer faces and turned no fewer against the surface.
constexpr double kMaxTilt = 75.0;
// A new place must clear every face's plane condition by this share of the ring's mean edge
// length: the positions are written with six decimals, and a face standing on edge would turn
// either way by that rounding.
constexpr double kClearance = 0.02;
// Sweeps of the projections that look for a place satisfying all of a vertex's faces.
constexpr int kSweeps = 64;

// The small mesh holds every face at the vertices within this many rings of the corners of the
// faces against the normals (counting the corners as the first): room for the discs that
// region_retriangulation.h re-triangulates.
constexpr int kRings = 3;

class Mender {
 public:
  // `mesh` holds the normals of hm's vertices; is_point[v] says which are points, `movable[v]`
  // which may move (those whose every face is in hm).
  // `joined_outside[v]` lists the vertices that v shares an edge with in faces of the whole mesh
  // that hm does not hold.
  // `tree`, where given, holds the points; a move then takes a vertex at most `drift` further
  // from the nearest of them than it was.
  Mender(HoleMesh& hm, const RepairMesh& mesh, const std::vector<char>& is_point, const std::vector<char>& movable,
         const std::vector<std::vector<long long>>& joined_outside, const PointTree* tree, double drift)
      : hm_(hm),
        mesh_(mesh),
        is_point_(is_point),
        movable_(movable),
        joined_outside_(joined_outside),
        tree_(tree),
        drift_(drift) {}

  bool is_point(VH v) const { return is_point_[std::size_t(v.idx())] != 0; }
  bool movable(VH v) const { return std::size_t(v.idx()) < movable_.size() && movable_[std::size_t(v.idx())]; }

  // The normals of those of a, b that are points, summed (zero where neither is).
  Point3D point_normals(VH a, VH b) const {
    Point3D s;
    if (is_point(a)) s += mesh_.normals[std::size_t(a.idx())];
    if (is_point(b)) s += mesh_.normals[std::size_t(b.idx())];
    return s;
  }

  bool against(VH a, VH b, VH c) const {
    Point3D s = point_normals(a, b);
    if (is_point(c)) s += mesh_.normals[std::size_t(c.idx())];
    return faces_against(at(a), at(b), at(c), s);
  }

  bool against(FH f) const {
    const auto [a, b, c] = corners(f);
    return against(a, b, c);
  }

  std::array<VH, 3> corners(FH f) const {
    auto it = hm_.cfv_iter(f);
    const VH a = *it, b = *++it, c = *++it;
    return {a, b, c};
  }

  Point3D at(VH v) const { return to_point(hm_.point(v)); }

  // Flips an edge of f where fewer of the two faces then face against the normals and the two
  // new faces do not fold onto each other.
  bool flip(FH f) {
    auto h = hm_.halfedge_handle(f);
    for (int k = 0; k < 3; ++k, h = hm_.next_halfedge_handle(h)) {
      const HH o = hm_.opposite_halfedge_handle(h);
      if (hm_.is_boundary(o) || !flippable(hm_.edge_handle(h))) continue;
      const VH a = hm_.from_vertex_handle(h), b = hm_.to_vertex_handle(h);
      const VH c = hm_.to_vertex_handle(hm_.next_halfedge_handle(h));
      const VH d = hm_.to_vertex_handle(hm_.next_halfedge_handle(o));
      const int before = int(against(a, b, c)) + int(against(b, a, d));
      const int after = int(against(a, d, c)) + int(against(b, c, d));
      const Point3D pa = at(a), pb = at(b), pc = at(c), pd = at(d);
      const Point3D n1 = cross(pd - pa, pc - pa), n2 = cross(pc - pb, pd - pb);
      const double scale = dist2(pa, pb) + dist2(pc, pd);
      if (after >= before || dot(n1, n2) <= 0.0 || norm2(n1) <= 1e-12 * scale * scale ||
          norm2(n2) <= 1e-12 * scale * scale)
        continue;
      flip_edge(hm_, hm_.edge_handle(h));
      ++flips;
      return true;
    }
    return false;
  }

  // Flips an edge of f towards an added vertex beyond it, then moves that vertex where none of
  // its faces faces against the normals; where no such place is found, flips the edge back.
  bool flip_and_move(FH f) {
    auto h = hm_.halfedge_handle(f);
    for (int k = 0; k < 3; ++k, h = hm_.next_halfedge_handle(h)) {
      const HH o = hm_.opposite_halfedge_handle(h);
      if (hm_.is_boundary(o)) continue;
      const VH d = hm_.to_vertex_handle(hm_.next_halfedge_handle(o));
      const auto e = hm_.edge_handle(h);
      if (is_point(d) || !movable(d) || !flippable(e)) continue;
      flip_edge(hm_, e);
      if (move(d)) {
        ++flips;
        return true;
      }
      flip_edge(hm_, e);
    }
    return false;
  }

  // Moves the added vertex v where none of its faces faces against the normals.
  bool move(VH v) {
    std::vector<std::pair<VH, VH>> ring;
    for (const HH h : hm_.voh_range(v)) {
      if (hm_.is_boundary(h)) continue;
      ring.emplace_back(hm_.to_vertex_handle(h), hm_.to_vertex_handle(hm_.next_halfedge_handle(h)));
    }
    Point3D place;
    if (!place_apex(at(v), ring, kMaxMove, place)) return false;
    hm_.set_point(v, to_vec(place));
    ++moves;
    return true;
  }

  long flips = 0, moves = 0;

 private:
  // Whether edge e can flip: a face on either side, and its two far corners differ and are not
  // joined already.
  bool flippable(HoleMesh::EdgeHandle e) const {
    if (hm_.is_boundary(e)) return false;
    const VH c = hm_.to_vertex_handle(hm_.next_halfedge_handle(hm_.halfedge_handle(e, 0)));
    const VH d = hm_.to_vertex_handle(hm_.next_halfedge_handle(hm_.halfedge_handle(e, 1)));
    if (c == d) return false;
    for (const VH n : hm_.vv_range(c))
      if (n == d) return false;
    const auto& outside = joined_outside_[std::size_t(c.idx())];
    return std::find(outside.begin(), outside.end(), (long long)d.idx()) == outside.end();
  }

  // A place for a vertex whose faces are (ring[i].first, ring[i].second, vertex), near `from`:
  // where each face with a point among its two ring corners faces along their normals, leaning
  // at most kMaxTilt from them, and each face without one faces as it does now (as it would at
  // `from`), each by the clearance.
  // Found by projecting onto the violated conditions in turn (each a half-space: the face
  // (p, q, m) faces along s where (m - p) . (s x (q - p)) > 0); false where the sweeps find
  // no such place within max_move mean ring edges of `from`.
  bool place_apex(const Point3D& from, const std::vector<std::pair<VH, VH>>& ring, double max_move,
                  Point3D& place) const {
    if (ring.empty()) return false;
    double length = 0.0;
    for (const auto& [p, q] : ring) length += norm(at(q) - at(p));
    length /= double(ring.size());
    if (!(length > 0.0)) return false;
    struct Plane {
      Point3D on, normal;  // unit normal
    };
    std::vector<Plane> planes;
    planes.reserve(ring.size());
    for (const auto& [p, q] : ring) {
      const Point3D pp = at(p), edge = at(q) - pp;
      Point3D s = point_normals(p, q);
      if (norm2(s) == 0.0) s = cross(edge, from - pp);  // no point: keep facing as now
      const Point3D g = cross(s, edge);
      const double n = norm(g);
      if (!(n > 0.0)) return false;
      const Point3D gu = g / n;
      planes.push_back({pp, gu});
      if (point_normals(p, q) == Point3D()) continue;
      // With m - p = b su + c gu + (a part along the edge), where su is the part of s across
      // the edge, the face's normal leans from su by atan(|b| / c): two more half-spaces.
      const Point3D su = cross(edge, gu) / norm(edge);
      const double tilt = std::tan(kMaxTilt * M_PI / 180.0);
      for (const Point3D& side : {gu * tilt - su, gu * tilt + su}) planes.push_back({pp, side / norm(side)});
    }
    const double clear = kClearance * length;
    place = from;
    for (int sweep = 0; sweep < kSweeps; ++sweep) {
      bool moved = false;
      for (const Plane& pl : planes) {
        const double d = dot(place - pl.on, pl.normal);
        // Past the clearance by a little more, so that the sweeps end in finite steps.
        if (d < clear) place += (1.5 * clear - d) * pl.normal, moved = true;
      }
      if (!moved) return dist2(place, from) <= max_move * max_move * length * length && stays_near(from, place);
    }
    return false;
  }

  // Whether `place` lies at most drift_ further from the nearest point than `from` does.
  bool stays_near(const Point3D& from, const Point3D& place) const {
    if (tree_ == nullptr) return true;
    const double reach = std::sqrt(tree_->nearest_distance2(from)) + drift_;
    return tree_->nearest_distance2(place) <= reach * reach;
  }

  HoleMesh& hm_;
  const RepairMesh& mesh_;
  const std::vector<char>& is_point_;
  const std::vector<char>& movable_;
  const std::vector<std::vector<long long>>& joined_outside_;
  const PointTree* tree_;
  double drift_;
};

}  // namespace

long faces_against_point_normals(const RepairMesh& mesh, std::size_t points) {
  long against = 0;
  for (const auto& f : mesh.faces) {
    Point3D s;
    for (int k = 0; k < 3; ++k)
      if (std::size_t(f[k]) < points) s += mesh.normals[std::size_t(f[k])];
    const Point3D& a = mesh.vertices[std::size_t(f[0])];
    against += dot(cross(mesh.vertices[std::size_t(f[1])] - a, mesh.vertices[std::size_t(f[2])] - a), s) < 0.0;
  }
  return against;
}

namespace {

// One pass of the stage over the parts of the mesh around its faces against the normals and
// the folds (or, with `crumples`, around the crumples of the patches: only discs, no flips or
// moves).
NormalAgreement mend_part(RepairMesh& mesh, std::size_t points, std::size_t first_added,
                          const std::vector<int>* pieces, bool crumples, const PointTree* tree, double drift) {
  NormalAgreement report;
  // 1: against its point corners' normals; 2: a face of added vertices only (inside a patch)
  // against their spread normals; 0: neither.
  const auto kind = [&](const Coord3D<long long>& f) {
    Point3D s;
    for (int k = 0; k < 3; ++k)
      if (std::size_t(f[k]) < points) s += mesh.normals[std::size_t(f[k])];
    const Point3D &a = mesh.vertices[std::size_t(f[0])], &b = mesh.vertices[std::size_t(f[1])],
                  &c = mesh.vertices[std::size_t(f[2])];
    if (s != Point3D()) return faces_against(a, b, c, s) ? 1 : 0;
    for (int k = 0; k < 3; ++k)
      if (std::size_t(f[k]) < mesh.normals.size()) s += mesh.normals[std::size_t(f[k])];
    return dot(cross(b - a, c - a), s) < 0.0 ? 2 : 0;
  };
  // The work is done on a small half-edge mesh: the faces at the vertices within kRings rings
  // of the corners of the faces against the normals (marked with bit r for ring r). Every
  // marked vertex has all its faces there.
  const std::size_t nv = mesh.vertices.size();
  std::vector<char> inner(nv, 0);
  if (crumples) {
    // A patch face crumples where its normal turns away from the faces around its corners (the
    // sum of their vector areas). Counted as folds.
    const auto area = [&](const Coord3D<long long>& f) {
      const Point3D& a = mesh.vertices[std::size_t(f[0])];
      return cross(mesh.vertices[std::size_t(f[1])] - a, mesh.vertices[std::size_t(f[2])] - a);
    };
    std::vector<Point3D> around(nv);
    for (const auto& f : mesh.faces)
      for (int k = 0; k < 3; ++k) around[std::size_t(f[k])] += area(f);
    for (const auto& f : mesh.faces) {
      if (std::size_t(f.x) < points && std::size_t(f.y) < points && std::size_t(f.z) < points) continue;
      if (dot(area(f), around[std::size_t(f.x)] + around[std::size_t(f.y)] + around[std::size_t(f.z)]) >= 0.0)
        continue;
      ++report.folds_before;
      for (int c = 0; c < 3; ++c) inner[std::size_t(f[c])] = 1;
    }
  } else {
    for (const auto& f : mesh.faces)
      if (const int k = kind(f)) {
        ++(k == 1 ? report.against_before : report.folds_before);
        for (int c = 0; c < 3; ++c) inner[std::size_t(f[c])] = 1;
      }
  }
  report.against_after = report.against_before;
  report.folds_after = report.folds_before;
  if (report.against_before + report.folds_before == 0) return report;
  for (int ring = 1; ring < kRings; ++ring) {
    const char from = char(1 << (ring - 1)), to = char(1 << ring);
    for (const auto& f : mesh.faces)
      if ((inner[std::size_t(f.x)] | inner[std::size_t(f.y)] | inner[std::size_t(f.z)]) & from)
        for (int k = 0; k < 3; ++k) inner[std::size_t(f[k])] |= to;
  }
  std::vector<std::size_t> taken;  // global faces in the small mesh, in order
  std::vector<long long> local(nv, -1);
  std::vector<std::size_t> global;  // the global vertex of each local one
  RepairMesh small;
  std::vector<char> is_point;
  for (std::size_t i = 0; i < mesh.faces.size(); ++i) {
    const auto& f = mesh.faces[i];
    if (!inner[std::size_t(f.x)] && !inner[std::size_t(f.y)] && !inner[std::size_t(f.z)]) continue;
    Coord3D<long long> g;
    for (int k = 0; k < 3; ++k) {
      const auto v = std::size_t(f[k]);
      if (local[v] < 0) {
        local[v] = (long long)global.size();
        global.push_back(v);
        small.vertices.push_back(mesh.vertices[v]);
        small.normals.push_back(v < mesh.normals.size() ? mesh.normals[v] : Point3D());
        is_point.push_back(v < points);
      }
      g[k] = local[v];
    }
    taken.push_back(i);
    small.faces.push_back(g);
  }
  // Edges between the small mesh's vertices along faces left out of it (at its border): neither
  // a flip nor a re-triangulated disc may make one of them again, which would give it four faces.
  std::vector<std::vector<long long>> joined_outside(global.size());
  {
    std::vector<char> in_small(mesh.faces.size(), 0);
    for (std::size_t i : taken) in_small[i] = 1;
    for (std::size_t i = 0; i < mesh.faces.size(); ++i) {
      if (in_small[i]) continue;
      const auto& f = mesh.faces[i];
      for (int k = 0; k < 3; ++k) {
        const long long a = local[std::size_t(f[k])], b = local[std::size_t(f[(k + 1) % 3])];
        if (a < 0 || b < 0) continue;
        joined_outside[std::size_t(a)].push_back(b);
        joined_outside[std::size_t(b)].push_back(a);
      }
    }
  }
  // A vertex may move where all its faces are in the small mesh: the marked ones are (every
  // face at them is taken); for the others it is not known.
  std::vector<char> movable(global.size(), 0);
  for (std::size_t l = 0; l < global.size(); ++l) movable[l] = inner[global[l]] != 0;

  std::vector<Coord3D<long long>> faces;
  if (crumples) {
    faces = small.faces;
  } else {
    HoleMesh hm;
    long refused = 0;
    to_hole_mesh(small, refused, hm);
    if (refused > 0) return report;
    Mender mender(hm, small, is_point, movable, joined_outside, tree, drift);
    std::vector<FH> todo;
    for (const FH f : hm.faces())
      if (mender.against(f)) todo.push_back(f);
    for (int round = 0; round < kRounds && !todo.empty(); ++round) {
      for (const FH f : todo) {
        if (!mender.against(f) || mender.flip(f)) continue;
        bool moved = false;
        for (const VH v : mender.corners(f))
          if (!mender.is_point(v) && mender.movable(v) && (moved = mender.move(v))) break;
        if (!moved) mender.flip_and_move(f);
      }
      // Whatever is still against, including faces that a flip turned nearby.
      todo.clear();
      for (const FH f : hm.faces())
        if (mender.against(f)) todo.push_back(f);
    }
    // The small mesh's faces as they are now, each starting at the corner it started at before
    // where the half-edge mesh starts it at another.
    faces.reserve(hm.n_faces());
    for (const FH f : hm.faces()) {
      const auto c = mender.corners(f);
      Coord3D<long long> g(c[0].idx(), c[1].idx(), c[2].idx());
      const Coord3D<long long>& old = small.faces[std::size_t(f.idx())];
      if ((g.x == old.y && g.y == old.z && g.z == old.x) || (g.x == old.z && g.y == old.x && g.z == old.y)) g = old;
      faces.push_back(g);
    }
    for (std::size_t l = 0; l < global.size(); ++l) small.vertices[l] = to_point(hm.point(VH(int(l))));
    report.flips = mender.flips;
    report.moves = mender.moves;
  }
  // What flips and moves left, and the folds inside patches: small discs around those faces
  // re-triangulated.
  {
    // Inside a disc, a vertex is left without faces: an added one, or a point.
    std::vector<char> droppable(global.size(), 0);
    for (std::size_t l = 0; l < global.size(); ++l) droppable[l] = is_point[l] || global[l] >= first_added;
    // The detached pieces' points that have faces, over the whole mesh.
    std::vector<int> piece;
    std::vector<long> left;
    if (pieces) {
      const auto of = [&](std::size_t v) { return v < points && v < pieces->size() ? (*pieces)[v] : -1; };
      std::vector<char> counted(std::min(points, pieces->size()), 0);
      for (const auto& f : mesh.faces)
        for (int k = 0; k < 3; ++k) {
          const auto v = std::size_t(f[k]);
          const int p = of(v);
          if (p < 0 || counted[v]) continue;
          counted[v] = 1;
          if (std::size_t(p) >= left.size()) left.resize(std::size_t(p) + 1, 0);
          ++left[std::size_t(p)];
        }
      piece.resize(global.size());
      for (std::size_t l = 0; l < global.size(); ++l) {
        piece[l] = of(global[l]);
        if (piece[l] >= 0 && std::size_t(piece[l]) >= left.size()) piece[l] = -1;
      }
    }
    std::vector<std::pair<Point3D, Point3D>> centres;
    report.regions = retriangulate_against(small.vertices, small.normals, is_point, droppable, movable, faces,
                                           crumples, pieces ? &piece : nullptr, pieces ? &left : nullptr,
                                           &joined_outside, &centres);
    // The fans' new vertices join the mesh after its others, coloured as the mean of their rims.
    if (!centres.empty()) {
      if (mesh.normals.size() < mesh.vertices.size()) mesh.normals.resize(mesh.vertices.size());
      const bool coloured = mesh.colors.size() == mesh.vertices.size();
      for (const auto& [at, normal] : centres) {
        const std::size_t l = global.size();
        global.push_back(mesh.vertices.size());
        small.vertices.push_back(at);
        small.normals.push_back(normal);
        is_point.push_back(0);
        mesh.vertices.push_back(at);
        mesh.normals.push_back(normal);
        if (!coloured) continue;
        double rgb[3] = {0.0, 0.0, 0.0};
        int count = 0;
        for (const auto& f : faces)
          for (int k = 0; k < 3; ++k)
            if (std::size_t(f[k]) == l) {
              const std::size_t next = global[std::size_t(f[(k + 1) % 3])];
              if (next >= mesh.colors.size()) continue;  // another fan's vertex, not coloured yet
              const auto& c = mesh.colors[next];
              for (int i = 0; i < 3; ++i) rgb[i] += c[i];
              ++count;
            }
        if (count == 0) count = 1;
        mesh.colors.emplace_back((unsigned char)std::lround(rgb[0] / count), (unsigned char)std::lround(rgb[1] / count),
                                 (unsigned char)std::lround(rgb[2] / count));
      }
    }
  }

  // Every face against the normals is in the small mesh, before and after.
  report.against_after = report.folds_after = 0;
  for (const auto& f : faces) {
    Point3D s, spread;
    for (int k = 0; k < 3; ++k) {
      const auto v = std::size_t(f[k]);
      (is_point[v] ? s : spread) += small.normals[v];
    }
    const Point3D &a = small.vertices[std::size_t(f.x)], &b = small.vertices[std::size_t(f.y)],
                  &c = small.vertices[std::size_t(f.z)];
    if (s != Point3D()) report.against_after += faces_against(a, b, c, s);
    else report.folds_after += dot(cross(b - a, c - a), spread) < 0.0;
  }

  // Back into the whole mesh: the added vertices' places, the small mesh's faces in the places
  // of those it was made of (fewer where discs were re-triangulated: the places left over are
  // closed up).
  for (std::size_t l = 0; l < global.size(); ++l)
    if (!is_point[l]) mesh.vertices[global[l]] = small.vertices[l];
  const auto to_global = [&](const Coord3D<long long>& f) {
    return Coord3D<long long>((long long)global[std::size_t(f.x)], (long long)global[std::size_t(f.y)],
                              (long long)global[std::size_t(f.z)]);
  };
  for (std::size_t j = 0; j < faces.size() && j < taken.size(); ++j) mesh.faces[taken[j]] = to_global(faces[j]);
  for (std::size_t j = taken.size(); j < faces.size(); ++j) mesh.faces.push_back(to_global(faces[j]));
  if (faces.size() < taken.size()) {
    std::vector<char> gone(mesh.faces.size(), 0);
    for (std::size_t j = faces.size(); j < taken.size(); ++j) gone[taken[j]] = 1;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < mesh.faces.size(); ++i)
      if (!gone[i]) mesh.faces[kept++] = mesh.faces[i];
    mesh.faces.resize(kept);
  }
  // Vertices inside the re-triangulated discs are left without faces: the added vertices after
  // them move down to close the gaps.
  if (report.regions.vertices_dropped > 0) {
    std::vector<char> used(mesh.vertices.size(), 0);
    for (const auto& f : mesh.faces)
      for (int k = 0; k < 3; ++k) used[std::size_t(f[k])] = 1;
    std::vector<long long> renumber(mesh.vertices.size());
    std::size_t next = first_added;
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
      if (v < first_added || used[v]) {
        const std::size_t to = v < first_added ? v : next++;
        renumber[v] = (long long)to;
        if (to != v) {
          mesh.vertices[to] = mesh.vertices[v];
          if (v < mesh.colors.size()) mesh.colors[to] = mesh.colors[v];
          if (v < mesh.normals.size()) mesh.normals[to] = mesh.normals[v];
        }
      }
    }
    if (first_added < mesh.vertices.size()) {
      mesh.vertices.resize(next);
      if (mesh.colors.size() > next) mesh.colors.resize(next);
      if (mesh.normals.size() > next) mesh.normals.resize(next);
    }
    for (auto& f : mesh.faces)
      for (int k = 0; k < 3; ++k) f[k] = renumber[std::size_t(f[k])];
  }
  return report;
}

}  // namespace

NormalAgreement agree_with_point_normals(RepairMesh& mesh, std::size_t points, std::size_t first_added,
                                         const std::vector<int>* pieces, const PointTree* tree) {
  first_added = std::max(first_added, points);
  points = std::min(points, mesh.normals.size());
  const double drift = tree != nullptr ? kMaxDrift * mean_edge_length(mesh) : 0.0;
  NormalAgreement report = mend_part(mesh, points, first_added, pieces, false, tree, drift);
  const NormalAgreement crumples = mend_part(mesh, points, first_added, pieces, true, tree, drift);
  report.crumples_before = crumples.folds_before;
  report.crumples = crumples.regions;
  // Discs re-triangulated over the crumples change the rims of the discs around what is left:
  // a second pass mends more of it.
  if (crumples.regions.regions > 0 && report.against_after + report.folds_after > 0) {
    const NormalAgreement again = mend_part(mesh, points, first_added, pieces, false, tree, drift);
    report.flips += again.flips;
    report.moves += again.moves;
    report.regions += again.regions;
    report.against_after = again.against_after;
    report.folds_after = again.folds_after;
  }
  return report;
}

}  // namespace tervik
