// Carving hole patches back into the silhouettes.
#include "weaver/closing/silhouette_carving.h"

#include <array>
#include <vector>

#include "weaver/closing/patch_refinement.h"

namespace tervik {
namespace {

using VH = HoleMesh::VertexHandle;
using FH = HoleMesh::FaceHandle;
using EH = HoleMesh::EdgeHandle;

// How far inward a vertex may be carved, in reaches. The webs of the demo figure at 20,500
// points hung up to 8 reaches below the crease between arm and body that they span.
constexpr double kMaxCarve = 12.0;
// The carving's steps, in reaches.
constexpr double kCarveStep = 0.25;
// Rounds of splitting the patches' edges whose middle some camera sees over the background
// (each followed by carving the new vertices), and the shortest edge split, in reaches.
constexpr int kSplitRounds = 2;
constexpr double kLeastSplit = 1.0;
// Relaxation sweeps over the carved vertices and the new vertices beside them.
constexpr int kRelaxSweeps = 10;
// Rounds of giving moves back around faces that they folded.
constexpr int kFoldGuardRounds = 20;

}  // namespace

SilhouetteCarving carve_patches(HoleMesh& hm, RepairMesh& mesh, std::size_t first_new,
                                std::size_t first_new_face, const InsideTest& inside, double reach) {
  SilhouetteCarving out;
  if (!inside || first_new >= hm.n_vertices() || reach <= 0.0) return out;
  const auto fresh = [&](VH v) { return std::size_t(v.idx()) >= first_new; };
  // By new vertex (index less first_new): where it started, whether some camera saw it over the
  // background, whether it was carved in.
  std::vector<OpenMesh::Vec3d> start;
  std::vector<char> outside, carved;
  std::vector<OpenMesh::Vec3d> normal;
  for (int round = 0;; ++round) {
    // The vertices not looked at yet: all new ones first, then those of the last splits. Their
    // normals are taken before any of them moves: a neighbour carved first would tilt them.
    const std::size_t from = start.size(), m = hm.n_vertices() - first_new;
    start.resize(m);
    outside.resize(m, 0);
    carved.resize(m, 0);
    normal.assign(m, OpenMesh::Vec3d(0.0, 0.0, 0.0));
    for (std::size_t i = from; i < m; ++i) {
      const VH v(int(first_new + i));
      start[i] = hm.point(v);
      if (inside(to_point(start[i]))) continue;
      outside[i] = 1;
      if (round == 0) ++out.vertices_outside;
      for (auto f : hm.vf_range(v)) normal[i] += face_area_vector(hm, f);
    }
    for (std::size_t i = from; i < m; ++i) {
      const double length = normal[i].norm();
      if (!outside[i] || length <= 0.0) continue;
      for (double t = kCarveStep; t <= kMaxCarve && !carved[i]; t += kCarveStep) {
        const OpenMesh::Vec3d q = start[i] - (t * reach / length) * normal[i];
        if (inside(to_point(q))) hm.set_point(VH(int(first_new + i)), q), carved[i] = 1;
      }
    }
    if (round == kSplitRounds) break;
    // A face between vertices inside can still span the gap they were carved out of: edges
    // between two new faces whose ends are inside and whose middle is not are split there, and
    // the new vertices carved in the next round.
    std::vector<EH> splits;
    for (auto e : hm.edges()) {
      const auto h = hm.halfedge_handle(e, 0), g = hm.halfedge_handle(e, 1);
      const FH f = hm.face_handle(h), k = hm.face_handle(g);
      if (!f.is_valid() || !k.is_valid() || std::size_t(f.idx()) < first_new_face ||
          std::size_t(k.idx()) < first_new_face)
        continue;
      const VH a = hm.from_vertex_handle(h), b = hm.to_vertex_handle(h);
      const OpenMesh::Vec3d middle = 0.5 * (hm.point(a) + hm.point(b));
      if ((hm.point(a) - hm.point(b)).sqrnorm() >= kLeastSplit * kLeastSplit * reach * reach &&
          !inside(to_point(middle)) && inside(to_point(hm.point(a))) && inside(to_point(hm.point(b))))
        splits.push_back(e);
    }
    if (splits.empty()) break;
    for (const EH e : splits) {
      const auto h = hm.halfedge_handle(e, 0);
      const VH a = hm.from_vertex_handle(h), b = hm.to_vertex_handle(h);
      const VH middle = new_vertex(hm, mesh, 0.5 * (hm.point(a) + hm.point(b)), std::array<VH, 2>{a, b});
      split_edge(hm, e, middle);
      ++out.vertices_added;
    }
  }
  // The carved vertices and the new vertices beside them relax towards their neighbours' mean,
  // within the silhouettes: a carved vertex alone would leave a spike or a pit in the patch.
  const std::size_t m = start.size();
  std::vector<char> relaxed(m, 0);
  std::vector<VH> region;
  for (std::size_t i = 0; i < m; ++i) {
    if (!carved[i]) continue;
    const VH v(int(first_new + i));
    if (!relaxed[i]) relaxed[i] = 1, region.push_back(v);
    for (auto w : hm.vv_range(v))
      if (fresh(w) && !relaxed[std::size_t(w.idx()) - first_new])
        relaxed[std::size_t(w.idx()) - first_new] = 1, region.push_back(w);
  }
  for (int sweep = 0; sweep < kRelaxSweeps; ++sweep)
    for (const VH v : region) {
      OpenMesh::Vec3d mean(0.0, 0.0, 0.0);
      int count = 0;
      for (auto w : hm.vv_range(v)) mean += hm.point(w), ++count;
      if (count == 0) continue;
      const OpenMesh::Vec3d q = 0.5 * (hm.point(v) + mean / double(count));
      if (inside(to_point(q))) hm.set_point(v, q);
    }
  // A face with corners among the points that a move turned against the sum of their normals
  // is folded (a web's own faces turn from facing down to facing sideways, but they have no
  // such corners): its new vertices go back to where they were carved from, round after round.
  std::vector<FH> faces;
  std::vector<OpenMesh::Vec3d> sums;
  std::vector<char> listed(hm.n_faces(), 0);
  for (std::size_t i = 0; i < m; ++i) {
    if (hm.point(VH(int(first_new + i))) == start[i]) continue;
    for (auto f : hm.vf_range(VH(int(first_new + i)))) {
      if (listed[std::size_t(f.idx())]) continue;
      listed[std::size_t(f.idx())] = 1;
      OpenMesh::Vec3d sum(0.0, 0.0, 0.0), corner[3];
      int k = 0;
      for (auto w : hm.fv_range(f)) {
        if (fresh(w)) {
          corner[k++] = start[std::size_t(w.idx()) - first_new];
        } else {
          corner[k++] = hm.point(w);
          sum += to_vec(mesh.normals[std::size_t(w.idx())]);
        }
      }
      if (sum.sqrnorm() > 0.0 && OpenMesh::dot(OpenMesh::cross(corner[1] - corner[0], corner[2] - corner[0]), sum) > 0.0)
        faces.push_back(f), sums.push_back(sum);
    }
  }
  for (int round = 0; round < kFoldGuardRounds; ++round) {
    bool changed = false;
    for (std::size_t k = 0; k < faces.size(); ++k) {
      if (OpenMesh::dot(face_area_vector(hm, faces[k]), sums[k]) > 0.0) continue;
      for (auto v : hm.fv_range(faces[k]))
        if (fresh(v) && hm.point(v) != start[std::size_t(v.idx()) - first_new])
          hm.set_point(v, start[std::size_t(v.idx()) - first_new]), changed = true;
    }
    if (!changed) break;
  }
  for (std::size_t i = 0; i < m; ++i)
    if (hm.point(VH(int(first_new + i))) != start[i]) ++out.vertices_moved;
    else if (outside[i]) ++out.vertices_kept;
  if (out.vertices_moved > 0 || out.vertices_added > 0) from_hole_mesh(hm, mesh);
  return out;
}

}  // namespace tervik
