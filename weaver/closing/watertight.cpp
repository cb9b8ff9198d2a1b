// The sequence of repairs that closes a mesh.
#include "weaver/closing/watertight.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <sstream>
#include <utility>

#include "weaver/closing/fairing.h"
#include "weaver/closing/manifold_repair.h"
#include "weaver/closing/patch_inflation.h"
#include "weaver/closing/patch_refinement.h"
#include "weaver/point_tree.h"

namespace tervik {
namespace {

// Two fans meeting at a vertex are first joined by a face across their gap where it is short
// (its third edge at most this many times the fans' longest edge at the vertex) and leans less
// than 60 degrees from each corner's point normal. Along the outline of a thin arm the front
// and back sheets meet at such vertices; without the joins, removing the smaller fans ate one
// sheet back, and the patch over that hole cut a notch into the silhouette (on the demo scene's
// third frame, 0.0076 off the plain mesh's IoU in the worst camera; with them, 0.0000). A looser
// bound on the lean (66 degrees) left two faces against the point normals on one bench cloud; a
// tighter one (53 degrees) left one on another, and more faces against the true surface on the
// thinned sphere than its plain mesh has.
constexpr double kJoinReach = 2.0;
constexpr double kJoinLeastCos = 0.5;
// Fans of at most this many faces are removed at a vertex where several meet; larger ones get
// a copy of the vertex.
constexpr long kMaxFanRemoved = 8;
// Specks: detached pieces with fewer faces than this, or than this share of the points, are
// removed. Every larger piece is kept: joined to another where a band or a bridge fits, closed
// on its own otherwise. On sparse clouds a piece of a few dozen faces may be a limb.
constexpr long kSpeckFaces = 20;
constexpr double kSpeckShare = 0.0005;
// A detached piece all of whose vertices lie within this many mean edge lengths of the largest
// piece (a second layer over it, or a fragment at its edge) is not a limb: the largest piece
// already stands for that surface, and the last stage may take the piece in whole. On the demo
// figure at 20,000 points one such piece (33 faces, 1.8 mean edges from the body at most) lies
// on a fin of the visual hull 1.3 to 3.8 sampling lengths outside the true surface, and one face
// joining it to the body stood against its normals. Of the other detached pieces on the bench's
// clouds, six lie as near and stay whole; the rest reach 2.1 mean edges and more from the body
// (most 4 to 25; a part of the head split off on the 8-camera figure at 7,000 points, 12.8).
constexpr double kLayerReach = 2.0;
// Handles are looked for in geodesic regions of this many mean edge lengths around each seed:
// a handle is removed when a loop around it fits in such a region (about twice this many edges
// long at most), so tunnels and bridges a few edges wide go, wider ones stay.
constexpr double kHandleRadius = 4.0;
// Rounds of handle removal (each finds loops, cuts and caps them).
constexpr int kHandleRounds = 2;
// Patches of at least this many new vertices are re-faired to least bending; smaller ones keep
// the membrane, which cannot overshoot a noisy rim. Bending every patch turned more faces against
// the true surface than the membrane did (1.76 against 1.70 % on the thinned generated figure at
// 40,000 points, whose plain mesh has 1.73 %); bending those of 40 vertices or more, no bench
// cloud of a single frame has a larger share than its plain mesh.
constexpr std::size_t kBendingPatch = 40;

// The kept faces, to count at the end those the closed mesh still has: each face's other two
// corners in increasing order, listed under its least corner (a face turned over or started at
// another corner is the same face).
class FaceSet {
 public:
  FaceSet(const std::vector<Coord3D<long long>>& faces, std::size_t vertices) : begin_(vertices + 1, 0) {
    for (const auto& f : faces) ++begin_[std::size_t(least(f)) + 1];
    for (std::size_t v = 0; v < vertices; ++v) begin_[v + 1] += begin_[v];
    others_.resize(faces.size());
    std::vector<std::size_t> next(begin_.begin(), begin_.end() - 1);
    for (const auto& f : faces) others_[next[std::size_t(least(f))]++] = rest(f);
  }
  std::size_t size() const { return others_.size(); }
  // Which of `faces` are in the set, each face of the set matched once.
  std::vector<char> marks(const std::vector<Coord3D<long long>>& faces) const {
    std::vector<char> taken(others_.size(), 0), found(faces.size(), 0);
    for (std::size_t i = 0; i < faces.size(); ++i) {
      const auto v = std::size_t(least(faces[i]));
      if (v + 1 >= begin_.size()) continue;  // a new vertex: a new face
      const auto r = rest(faces[i]);
      for (std::size_t k = begin_[v]; k < begin_[v + 1]; ++k)
        if (!taken[k] && others_[k] == r) {
          taken[k] = 1;
          found[i] = 1;
          break;
        }
    }
    return found;
  }

 private:
  static long long least(const Coord3D<long long>& f) { return std::min({f.x, f.y, f.z}); }
  static std::array<long long, 2> rest(const Coord3D<long long>& f) {
    const long long lo = least(f), hi = std::max({f.x, f.y, f.z});
    return {f.x + f.y + f.z - lo - hi, hi};
  }
  std::vector<std::size_t> begin_;
  std::vector<std::array<long long, 2>> others_;
};

// The pieces (faces connected through shared vertices) of at least min_faces faces, with their
// face counts and centres (the mean of their faces' first corners); label[v] is the piece of
// vertex v, or -1 when v is on no such piece.
std::vector<DetachedPiece> label_pieces(const RepairMesh& m, long min_faces, std::vector<int>& label) {
  std::vector<long long> parent(m.vertices.size());
  for (std::size_t v = 0; v < parent.size(); ++v) parent[v] = (long long)v;
  const auto root = [&](long long v) {
    while (parent[std::size_t(v)] != v) v = parent[std::size_t(v)] = parent[std::size_t(parent[std::size_t(v)])];
    return v;
  };
  for (const auto& f : m.faces) {
    parent[std::size_t(root(f.x))] = root(f.y);
    parent[std::size_t(root(f.y))] = root(f.z);
  }
  std::vector<long> faces(m.vertices.size(), 0);
  for (const auto& f : m.faces) ++faces[std::size_t(root(f.x))];
  std::vector<DetachedPiece> out;
  std::vector<int> piece_of_root(m.vertices.size(), -1);
  for (std::size_t v = 0; v < parent.size(); ++v)
    if (parent[v] == (long long)v && faces[v] >= min_faces) {
      piece_of_root[v] = int(out.size());
      out.push_back({faces[v], Point3D()});
    }
  label.assign(m.vertices.size(), -1);
  for (std::size_t v = 0; v < parent.size(); ++v) label[v] = piece_of_root[std::size_t(root((long long)v))];
  for (const auto& f : m.faces) {
    const int k = label[std::size_t(f.x)];
    if (k >= 0) out[std::size_t(k)].centre += m.vertices[std::size_t(f.x)] / double(out[std::size_t(k)].faces);
  }
  return out;
}

}  // namespace

FaceVertexMesh make_watertight(const FaceVertexMesh& mesh, const std::vector<bool>& face_flags,
                               const std::vector<Patch>& points, WatertightReport& report,
                               const PointTree* tree, const std::vector<std::uint32_t>* point_of,
                               const InsideTest& inside) {
  FaceVertexMesh copy;
  copy.vertices = mesh.vertices;
  copy.colors = mesh.colors;
  copy.faces = mesh.faces;
  return make_watertight(std::move(copy), face_flags, points, report, tree, point_of, inside);
}

FaceVertexMesh make_watertight(FaceVertexMesh&& mesh, const std::vector<bool>& face_flags,
                               const std::vector<Patch>& points, WatertightReport& report,
                               const PointTree* tree, const std::vector<std::uint32_t>* point_of,
                               const InsideTest& inside) {
  report = WatertightReport();
  RepairMesh m;
  m.vertices = std::move(mesh.vertices);
  m.colors = std::move(mesh.colors);
  // Room for the vertices that closing the holes adds, made now, while the memory the
  // triangulation freed can take it: growing the tables later takes fresh memory pages.
  const std::size_t room = m.vertices.size() + m.vertices.size() / 8 + 64;
  m.vertices.reserve(room);
  m.colors.reserve(room);
  m.normals.reserve(room);
  m.normals.resize(m.vertices.size());
  for (std::size_t i = 0; i < m.normals.size() && i < points.size(); ++i) m.normals[i] = points[i].normal;
  m.faces = std::move(mesh.faces);
  std::size_t kept_faces = 0;
  for (std::size_t f = 0; f < m.faces.size(); ++f) {
    if (f < face_flags.size() && !face_flags[f]) ++report.withdrawn;
    else m.faces[kept_faces++] = m.faces[f];
  }
  m.faces.resize(kept_faces);
  const FaceSet kept_set(m.faces, m.vertices.size());
  mesh = FaceVertexMesh();  // the rest (the faces around each vertex) goes back to the allocator
  {
    // The first repairs look faces up by their edges: one table serves them all.
    std::vector<EdgeUse> uses = edge_uses(m.faces);
    report.degenerate = remove_degenerate_faces(m, uses);
    report.nonmanifold_edge = remove_nonmanifold_edges(m, uses);
    report.unorientable = orient_faces(m, std::as_const(uses));  // the table's last reader
  }
  report.folded = remove_folded_faces(m);
  report.fans_joined = join_fans(m, kJoinReach, kJoinLeastCos);
  report.nonmanifold_vertex = resolve_nonmanifold_vertices(m, kMaxFanRemoved, report.vertices_split);
  const long min_faces = std::max(kSpeckFaces, long(std::ceil(kSpeckShare * double(points.size()))));
  report.small_pieces = remove_small_components(m, min_faces);
  // The pieces kept, each by one of its vertices: no later repair should take a whole piece
  // away, and one that does is reported.
  std::vector<int> piece_label;
  const std::vector<DetachedPiece> kept_pieces = label_pieces(m, min_faces, piece_label);
  HoleMesh closed;
  const std::size_t old_vertices = m.vertices.size();
  report.holes = fill_holes(m, closed);
  // The kept faces come first, less those removed to widen holes.
  const std::size_t kept = m.faces.size() - std::size_t(report.holes.faces_added);
  // Patches of some size are re-faired to least bending, so that they carry on the curvature
  // around their holes.
  if (fair_bending(closed, old_vertices, kBendingPatch) > 0)
    for (std::size_t v = old_vertices; v < closed.n_vertices(); ++v)
      m.vertices[v] = to_point(closed.point(HoleMesh::VertexHandle(int(v))));
  if (closed.n_vertices() > old_vertices && !points.empty()) {
    // Patches over large holes span the inside of the object: they are lifted onto the points,
    // or where a hole left none, onto where the silhouettes end.
    const PatchInflation lifted =
        inflate_patches(closed, old_vertices, points, mean_edge_length(m), tree, point_of, inside);
    for (std::size_t v = old_vertices; v < closed.n_vertices(); ++v)
      m.vertices[v] = to_point(closed.point(HoleMesh::VertexHandle(int(v))));
    if (lifted.vertices_moved > 0) flip_lifted_creases(closed, m, kept);
  }
  if (inside && closed.n_vertices() > old_vertices) {
    // Where the points left a wedge of air unsampled, the silhouettes still show it.
    report.carving = carve_patches(closed, m, old_vertices, kept, inside, mean_edge_length(m));
    if (report.carving.vertices_moved > 0) flip_lifted_creases(closed, m, kept);
  }
  if (report.holes.holes_left == 0 && report.holes.faces_refused == 0) {
    // Handles are mostly where the triangulation struggled, around the holes: the search for
    // them starts at the holes' rims, the old vertices of the patches (new faces follow the
    // kept ones). A patch is a disc: its inside holds no handle.
    std::vector<char> seen(closed.n_vertices(), 0);
    std::vector<HoleMesh::VertexHandle> near_holes;
    for (std::size_t f = kept; f < closed.n_faces(); ++f)
      for (auto v : closed.fv_range(HoleMesh::FaceHandle(int(f))))
        if (std::size_t(v.idx()) < old_vertices && !seen[std::size_t(v.idx())]) {
          seen[std::size_t(v.idx())] = 1;
          near_holes.push_back(v);
        }
    // On a closed manifold mesh, pieces connected through vertices are connected across edges.
    report.handles = remove_handles(
        m, kHandleRadius * mean_edge_length(m), kHandleRounds, report.holes.euler, &closed, near_holes,
        report.holes.pieces >= 0 ? std::optional<long>(report.holes.pieces) : std::nullopt);
  }

  // Last, the faces still against their corners' point normals (where a patch meets a folded
  // rim) are turned where flips and moves of added vertices can. The discs it re-triangulates
  // may leave points without faces, but never more than half of those of a piece detached
  // from the largest (a limb, on sparse clouds), which a disc could otherwise take in whole;
  // a piece lying on the largest one (every vertex within kLayerReach) has no such guard.
  std::vector<int> detached(piece_label.size(), -1);
  std::vector<char> layer;
  if (kept_pieces.size() > 1) {
    std::size_t largest = 0;
    for (std::size_t k = 1; k < kept_pieces.size(); ++k)
      if (kept_pieces[k].faces > kept_pieces[largest].faces) largest = k;
    layer = pieces_lying_on(m.vertices, piece_label, kept_pieces.size(), int(largest),
                            kLayerReach * mean_edge_length(m));
    for (std::size_t v = 0; v < piece_label.size(); ++v) {
      const int k = piece_label[v];
      if (k >= 0 && std::size_t(k) != largest && !layer[std::size_t(k)]) detached[v] = k;
    }
  }
  // The last stage's moves stay near the points: it finds them in the mesher's tree, or in one
  // of its own where none was given.
  std::optional<PointTree> own_tree;
  if (tree == nullptr && !points.empty() && m.vertices.size() > points.size()) tree = &own_tree.emplace(points);
  report.agreement = agree_with_point_normals(m, points.size(), old_vertices, &detached, tree);
  // Last of all, the creases that the carving, the handle removal and the turning above left
  // between added faces, or between them and the kept faces beside them, are flipped away where
  // that bends the surface less: the lifting's own flips ran before those stages.
  std::vector<char> old_faces = kept_set.marks(m.faces);
  if (flip_added_creases(m, old_faces, points.size()) > 0) old_faces = kept_set.marks(m.faces);

  // A piece is gone when none of its vertices is a corner of a face any more (pieces joined to
  // others keep theirs).
  std::vector<char> alive(kept_pieces.size(), 0);
  for (const auto& f : m.faces)
    for (int k = 0; k < 3; ++k)
      if (std::size_t(f[k]) < piece_label.size() && piece_label[std::size_t(f[k])] >= 0)
        alive[std::size_t(piece_label[std::size_t(f[k])])] = 1;
  for (std::size_t k = 0; k < kept_pieces.size(); ++k)
    if (!alive[k]) {
      report.pieces_lost.push_back(kept_pieces[k]);
      report.pieces_lost.back().layer = k < layer.size() && layer[k];
    }

  const auto still = long(std::count(old_faces.begin(), old_faces.end(), char(1)));
  report.faces_gone = long(kept_set.size()) - still;
  report.faces_new = long(m.faces.size()) - still;

  // The vertices, colours and faces move over as they are (every face's vertices exist, as
  // add_face requires); each vertex's face list is sized once instead of growing face by face.
  FaceVertexMesh out;
  out.vertices = std::move(m.vertices);
  out.colors = std::move(m.colors);
  out.colors.resize(out.vertices.size());
  std::vector<int> uses(out.vertices.size(), 0);
  for (const auto& f : m.faces)
    for (int k = 0; k < 3; ++k) ++uses[std::size_t(f[k])];
  out.vertex_faces.resize(out.vertices.size());
  for (std::size_t i = 0; i < uses.size(); ++i) out.vertex_faces[i].reserve(std::size_t(uses[i]));
  for (std::size_t k = 0; k < m.faces.size(); ++k)
    for (int c = 0; c < 3; ++c) out.vertex_faces[std::size_t(m.faces[k][c])].push_back((long long)k);
  out.faces = std::move(m.faces);
  return out;
}

std::string format_report(const WatertightReport& r) {
  std::ostringstream s;
  s << "Holes closed: " << r.holes.holes_closed << "\n"
    << "Largest hole: " << r.holes.largest_hole << " edges\n"
    << "Handles removed: " << r.handles.handles << " (faces added: " << r.handles.faces_added
    << ")\n"
    << "Faces removed: " << r.faces_gone << " (withdrawn faces left out: " << r.withdrawn << ")\n"
    << "Faces added: " << r.faces_new
    << " (new vertices: "
    << r.holes.vertices_added + r.handles.vertices_added + r.carving.vertices_added -
           r.agreement.regions.vertices_dropped -
           r.agreement.crumples.vertices_dropped << ")";
  if (r.handles.euler_after != r.handles.euler_before + 2 * r.handles.handles)
    s << "\nWARNING: Euler characteristic " << r.handles.euler_after << " after removing "
      << r.handles.handles << " handles, expected " << r.handles.euler_before + 2 * r.handles.handles;
  for (const DetachedPiece& p : r.pieces_lost) {
    s << "\nWARNING: a detached piece of " << p.faces << " faces around (" << p.centre.x << ", "
      << p.centre.y << ", " << p.centre.z << ") was removed";
    if (p.layer) s << ": it lay within " << kLayerReach << " mean edge lengths of the largest piece";
  }
  if (r.holes.holes_left > 0 || r.holes.faces_refused > 0)
    s << "\nWARNING: holes left open: " << r.holes.holes_left
      << ", faces refused: " << r.holes.faces_refused;
  return s.str();
}

}  // namespace tervik
