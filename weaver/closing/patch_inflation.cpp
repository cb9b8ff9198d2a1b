// Lifting hole patches onto the point cloud along their normals.
#include "weaver/closing/patch_inflation.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <queue>
#include <utility>

#include "weaver/closing/empty_cells.h"
#include "weaver/closing/patch_refinement.h"
#include "weaver/point_tree.h"

namespace tervik {
namespace {

using VH = HoleMesh::VertexHandle;
using FH = HoleMesh::FaceHandle;

// A ray may travel this many times the vertex's distance from the rim (over the patch's edges):
// a patch over a hole in a round surface lies at most about that far below it.
constexpr double kMaxRise = 1.5;
// A ray stops past the tangent plane of a point within this many times the reach.
constexpr double kNear = 2.0;
// The steps, in reaches, of a ray that met no point, looking for where the silhouettes end.
constexpr double kHullStep = 0.25;
// The least cosine between a vertex's normal and the normal of the point its ray lands on.
constexpr double kMinAlong = 0.7;
// Gauss-Seidel sweeps of the harmonic interpolation of the moves between the rays that met the
// points and the rim.
constexpr int kSmoothingSweeps = 100;
// Rounds of giving up moves around faces that turned over.
constexpr int kFoldRounds = 20;
// A new vertex with no point within kNear reaches hangs in the gap between two walls when, within
// kGapReach reaches, points lie on both sides whose normals point at it (cosine kGapFacing or
// more to the direction to it) and against each other (cosine under kGapOpposed). On the demo
// figure at 20,000 points, the patches over the armpits spanned the gap between arm and body
// like webs; 0.7 and -0.7 found them there and on none of the sparse dome clouds, where -0.5
// also lowered a patch on the 8-camera figure at 7,000 points (in a trial, a point of coverage).
constexpr double kGapReach = 6.0;
constexpr double kGapFacing = 0.7;
constexpr double kGapOpposed = -0.7;
// How far a hanging vertex may be lowered, in reaches (the webs hung 6 to 55 reaches above the
// points their rays met).
constexpr double kMaxDrop = 80.0;
// A lowered vertex whose move would turn a face over halves it while more than this share of it
// is left (the last try takes a sixteenth).
constexpr double kLeastDropShare = 0.1;

}  // namespace

PatchInflation inflate_patches(HoleMesh& hm, std::size_t first_new, const std::vector<Patch>& points,
                               double reach, const PointTree* tree, const std::vector<std::uint32_t>* point_of,
                               const InsideTest& inside) {
  PatchInflation out;
  const std::size_t n = hm.n_vertices();
  if (first_new >= n || points.empty() || reach <= 0.0) return out;
  const auto fresh = [&](VH v) { return std::size_t(v.idx()) >= first_new; };
  // Distance from the rim along the patch's edges (Dijkstra from the old vertices next to new ones).
  std::vector<double> rim(n, std::numeric_limits<double>::infinity());
  using Item = std::pair<double, int>;
  std::priority_queue<Item, std::vector<Item>, std::greater<Item>> queue;
  for (std::size_t i = first_new; i < n; ++i) {
    const VH v{int(i)};
    for (auto w : hm.vv_range(v))
      if (!fresh(w)) {
        const double d = (hm.point(v) - hm.point(w)).norm();
        if (d < rim[i]) rim[i] = d, queue.emplace(d, int(i));
      }
  }
  while (!queue.empty()) {
    const auto [d, i] = queue.top();
    queue.pop();
    if (d > rim[std::size_t(i)]) continue;
    for (auto w : hm.vv_range(VH(i)))
      if (fresh(w)) {
        const double e = d + (hm.point(VH(i)) - hm.point(w)).norm();
        if (e < rim[std::size_t(w.idx())]) rim[std::size_t(w.idx())] = e, queue.emplace(e, w.idx());
      }
  }
  // A vertex nearer the rim than this cannot rise by the least move that counts (small patches
  // lie on the points already): where every vertex is, nothing moves and no tree is built.
  const double least_rim = kNear * reach / kMaxRise;
  if (std::none_of(rim.begin() + long(first_new), rim.end(), [&](double r) { return r >= least_rim; }))
    return out;
  std::optional<PointTree> own;
  if (tree == nullptr) {
    own.emplace(points);
    tree = &*own;
    point_of = nullptr;
  }
  const auto point = [&](unsigned int k) -> const Patch& { return points[point_of ? (*point_of)[k] : k]; };
  // The grid that answers empty searches is built once they are many enough to pay for it
  // (where rays start near the points, few searches come back empty).
  std::optional<EmptyCells> empty;
  std::size_t empty_searches = 0;
  // Each new vertex's normal and how far its ray travels to the points.
  const std::size_t m = n - first_new;
  std::vector<OpenMesh::Vec3d> normal(m, OpenMesh::Vec3d(0.0, 0.0, 0.0)), start(m);
  std::vector<double> rise(m, 0.0);
  // Whether a vertex's ray passed near any point (one that met none ran through a hole).
  std::vector<char> met(m, 0);
  for (std::size_t i = 0; i < m; ++i) {
    const VH v(int(first_new + i));
    start[i] = hm.point(v);
    for (auto f : hm.vf_range(v)) normal[i] += face_area_vector(hm, f);
    const double length = normal[i].norm();
    if (length <= 0.0) continue;
    normal[i] /= length;
    if (!std::isfinite(rim[first_new + i]) || rim[first_new + i] < least_rim) continue;
    const double limit = kMaxRise * rim[first_new + i];
    for (double t = 0.0; t <= limit;) {
      const Point3D q = to_point(start[i] + t * normal[i]);
      // The nearest point within kNear * reach of q (a small radius keeps the search short even
      // deep inside the object, where every point is about as far); most steps inside the
      // object need no search at all.
      std::uint32_t nearest = PointTree::kNone;
      if (!empty || !empty->clear(q)) {
        nearest = tree->nearest_within(q, kNear * reach * kNear * reach);
        if (nearest == PointTree::kNone && !empty && ++empty_searches > points.size() / 16 + 64)
          empty.emplace(points, kNear * reach, 4 * points.size() + 4096);
      }
      if (nearest == PointTree::kNone) {
        // Steps of 1.5 reaches pass within kNear * reach of every point within a reach of the ray.
        t += 1.5 * reach;
        continue;
      }
      met[i] = 1;
      const Patch* hit = &point(nearest);
      const double d = norm(hit->pos - q);
      const double along = dot(hit->normal, to_point(normal[i]));
      const double beyond = dot(q - hit->pos, hit->normal);
      // The ray has passed the tangent plane of a point near it: it stops on that plane, if the
      // point faces about the vertex's way (a surface met at a slant is no place to land).
      if (along > 0.0 && beyond >= 0.0) {
        if (along >= kMinAlong && t - beyond / along >= kNear * reach) rise[i] = t - beyond / along;
        break;
      }
      // A point facing the other way: the ray met the surface from outside.
      if (d < reach && along <= 0.0) break;
      // Sliding along a surface met at a slant: the ray lands nowhere.
      if (t > 0.0 && along < kMinAlong) break;
      t += 0.5 * reach;
    }
  }
  // Vertices hanging in a gap (see kGapReach) lie outside the object: each is lowered along its
  // normal, inward, onto the first point met from outside (within a reach of the ray, facing
  // back along it), which the interpolation below carries over the rest of its patch.
  std::vector<unsigned int> near;
  std::vector<Point3D> facing;
  for (std::size_t i = 0; i < m; ++i) {
    if (rise[i] != 0.0 || normal[i].sqrnorm() == 0.0 || !std::isfinite(rim[first_new + i])) continue;
    const Point3D v = to_point(start[i]);
    if (tree->nearest_within(v, kNear * reach * kNear * reach) != PointTree::kNone) continue;
    tree->within(v, kGapReach * reach * kGapReach * reach, near);
    facing.clear();
    bool gap = false;
    for (const unsigned int k : near) {
      const Point3D d = v - point(k).pos;
      if (dot(d, point(k).normal) <= kGapFacing * norm(d)) continue;
      for (const Point3D& other : facing)
        if (dot(other, point(k).normal) < kGapOpposed) gap = true;
      if (gap) break;
      facing.push_back(point(k).normal);
    }
    if (!gap) continue;
    met[i] = 1;
    for (double t = 0.5 * reach; t <= kMaxDrop * reach; t += 0.5 * reach) {
      const Point3D q = to_point(start[i] - t * normal[i]);
      const std::uint32_t nearest = tree->nearest_within(q, reach * reach);
      if (nearest == PointTree::kNone) continue;
      const Patch& met = point(nearest);
      const double along = dot(met.normal, to_point(normal[i]));
      // Lands on the tangent plane of a point met from outside (q lies that plane's height over
      // it, along the ray, short of it); a point facing elsewhere stops the ray where it is.
      if (along >= kMinAlong) rise[i] = std::min(0.0, -(t + dot(q - met.pos, met.normal) / along));
      break;
    }
  }
  // A ray that passed no point at all ran through a hole, where a patch sunk inside the object
  // finds nothing to land on. The silhouettes still show where the object ends along it: the
  // vertex rises to the last place inside them, if that lies kNear reaches or more away within
  // the ray's length. Vertices found hanging in a gap (a web's) are lowered instead, never
  // lifted this way.
  if (inside)
    for (std::size_t i = 0; i < m; ++i) {
      if (met[i] || rise[i] != 0.0 || normal[i].sqrnorm() == 0.0 || !std::isfinite(rim[first_new + i]) ||
          rim[first_new + i] < least_rim || !inside(to_point(start[i])))
        continue;
      const double limit = kMaxRise * rim[first_new + i];
      for (double t = kHullStep * reach, last = 0.0; t <= limit; last = t, t += kHullStep * reach)
        if (!inside(to_point(start[i] + t * normal[i]))) {
          if (last >= kNear * reach) rise[i] = last;
          break;
        }
    }
  // The moves of the vertices whose rays met the points hold; the others take the harmonic
  // interpolation between them and the rim (which does not move).
  std::vector<char> hit(m, 0);
  for (std::size_t i = 0; i < m; ++i) hit[i] = rise[i] != 0.0;
  // The vertices that take the interpolation, with their neighbours: a new vertex by its index
  // among the new ones, the rim by m, where `rise` holds a zero that stays.
  std::vector<std::size_t> smoothed, begin{0}, around;
  for (std::size_t i = 0; i < m; ++i) {
    if (hit[i]) continue;
    const std::size_t listed = around.size();
    for (auto w : hm.vv_range(VH(int(first_new + i)))) around.push_back(fresh(w) ? std::size_t(w.idx()) - first_new : m);
    if (around.size() == listed) continue;
    smoothed.push_back(i);
    begin.push_back(around.size());
  }
  // A vertex that no chain of interpolated vertices joins to one whose ray met the points only
  // ever averages zeros (the rim's and its own kind's), so its rise stays exactly zero through
  // every sweep: such vertices (patches too small to be lifted, mostly) are left out.
  {
    std::vector<std::size_t> slot(m, smoothed.size());  // each new vertex's place in `smoothed`
    for (std::size_t s = 0; s < smoothed.size(); ++s) slot[smoothed[s]] = s;
    std::vector<char> live(smoothed.size(), 0);
    std::vector<std::size_t> stack;
    for (std::size_t s = 0; s < smoothed.size(); ++s)
      for (std::size_t k = begin[s]; k < begin[s + 1] && !live[s]; ++k)
        if (around[k] < m && hit[around[k]]) live[s] = 1, stack.push_back(s);
    while (!stack.empty()) {
      const std::size_t s = stack.back();
      stack.pop_back();
      for (std::size_t k = begin[s]; k < begin[s + 1]; ++k)
        if (around[k] < m && slot[around[k]] < smoothed.size() && !live[slot[around[k]]])
          live[slot[around[k]]] = 1, stack.push_back(slot[around[k]]);
    }
    // Compacted in place: the entries written never lie past those still to be read.
    std::size_t kept = 0, listed = 0;
    for (std::size_t s = 0, from = begin[0]; s < smoothed.size(); ++s) {
      const std::size_t to = begin[s + 1];
      if (live[s]) {
        for (std::size_t k = from; k < to; ++k) around[listed++] = around[k];
        smoothed[kept++] = smoothed[s];
        begin[kept] = listed;
      }
      from = to;
    }
    smoothed.resize(kept);
    begin.resize(kept + 1);
    around.resize(listed);
  }
  rise.push_back(0.0);
  // Each vertex's neighbour count, as the divisor, converted once.
  std::vector<double> count(smoothed.size());
  for (std::size_t s = 0; s < smoothed.size(); ++s) count[s] = double(begin[s + 1] - begin[s]);
  for (int sweep = 0; sweep < kSmoothingSweeps; ++sweep)
    for (std::size_t s = 0; s < smoothed.size(); ++s) {
      // Two neighbours a step, added one after the other as always (a vertex has five to seven).
      const std::size_t* k = around.data() + begin[s];
      const std::size_t* const end = around.data() + begin[s + 1];
      const std::size_t* const pairs_end = k + ((end - k) & ~std::ptrdiff_t(1));
      double sum = 0.0;
      for (; k != pairs_end; k += 2) {
        sum += rise[k[0]];
        sum += rise[k[1]];
      }
      if (k != end) sum += rise[*k];
      rise[smoothed[s]] = sum / count[s];
    }
  rise.pop_back();
  // The faces that move, with their area vectors before.
  std::vector<FH> faces;
  std::vector<OpenMesh::Vec3d> before;
  std::vector<char> listed(hm.n_faces(), 0);
  for (std::size_t i = 0; i < m; ++i)
    for (auto f : hm.vf_range(VH(int(first_new + i))))
      if (!listed[std::size_t(f.idx())]) {
        listed[std::size_t(f.idx())] = 1;
        faces.push_back(f);
        before.push_back(face_area_vector(hm, f));
      }
  std::vector<char> kept(m, 0);
  std::vector<double> share(m, 1.0);  // the share of a lowering still taken
  for (std::size_t i = 0; i < m; ++i)
    if (rise[i] != 0.0) hm.set_point(VH(int(first_new + i)), start[i] + rise[i] * normal[i]);
  // A face that turned over (or collapsed) gives its new vertices back their old places; a
  // lowered vertex first tries half its move, then half of that (the web's vertices come down
  // between walls, where the full move often folds a face or two at the rim).
  for (int round = 0; round < kFoldRounds; ++round) {
    bool changed = false;
    for (std::size_t k = 0; k < faces.size(); ++k) {
      if (OpenMesh::dot(face_area_vector(hm, faces[k]), before[k]) > 0.0) continue;
      for (auto v : hm.fv_range(faces[k])) {
        const std::size_t i = std::size_t(v.idx()) - first_new;
        if (!fresh(v) || kept[i]) continue;
        if (rise[i] < 0.0 && share[i] > kLeastDropShare) {
          share[i] *= 0.5;
          hm.set_point(v, start[i] + share[i] * rise[i] * normal[i]);
        } else {
          kept[i] = 1;
          hm.set_point(v, start[i]);
        }
        changed = true;
      }
    }
    if (!changed) break;
  }
  for (std::size_t i = 0; i < m; ++i) {
    if (kept[i]) ++out.vertices_kept;
    else if (rise[i] != 0.0) ++out.vertices_moved;
  }
  return out;
}

long flip_lifted_creases(HoleMesh& hm, RepairMesh& mesh, std::size_t first_new_face) {
  std::vector<FH> patch;
  for (std::size_t f = first_new_face; f < hm.n_faces(); ++f) patch.emplace_back(int(f));
  const long flips = fold_flips(hm, mesh, patch, [&](FH f, FH g) {
    return std::size_t(f.idx()) >= first_new_face || std::size_t(g.idx()) >= first_new_face;
  });
  if (flips > 0) from_hole_mesh(hm, mesh);
  return flips;
}

}  // namespace tervik
