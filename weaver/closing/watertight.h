#pragma once
// The closing step of weaver --watertight: turns the triangulation's mesh into a closed,
// manifold, consistently oriented surface. make_watertight runs these stages in order:
//  1. withdrawn faces left out; degenerate faces, edges of more than two faces, orientation by
//     the point normals, folded faces, vertices where two fans meet joined by a face across
//     their gap, vertices where several fans still meet, detached specks (fewer
//     than 20 faces, or than 0.05 % of the points: every larger piece is kept, though stage 6
//     may take in one lying within 2 mean edge lengths of the largest piece)
//     (manifold_repair.h; linear-time sorts in vertex_sort.h);
//  2. the repaired faces become a half-edge mesh (hole_mesh.h);
//  3. every hole is closed (hole_filling.h), which in turn:
//     - widens holes whose rim overlaps itself (rim_untangling.h),
//     - joins detached pieces to the body: the hole nearest a piece's rim (loop_nearness.h),
//       a band stitched between the two rims (band_stitch.h), or faces across rim edges that
//       nearly touch (rim_bridges.h); a piece that cannot be joined is closed on its own,
//     - splits long loops by chords (loop_split.h) and triangulates each part by least cost
//       (loop_triangulation.h),
//     - refines each patch by flips and splits (patch_refinement.h) and fairs its new vertices
//       (fairing.h);
//  4. patches of at least 40 new vertices are faired again to least bending (fairing.h), and
//     patches over large holes are lifted onto the point cloud (patch_inflation.h, with the
//     empty-space grid of empty_cells.h);
//     With the cameras' silhouettes, patch vertices that a camera sees over the background are
//     then carved back inside (silhouette_carving.h);
//  5. small handles are cut out and capped (handle_removal.h);
//  6. faces still against their corners' point normals are turned by edge flips and moves of
//     added vertices, and small discs around what is left, around the folds inside patches
//     and around their crumples are re-triangulated, or last, as a fan around a new vertex
//     (normal_agreement.h, region_retriangulation.h);
//  7. creases left between added faces, or between an added face and a kept one, are flipped
//     away where that bends the surface less (patch_refinement.h).
#include <cstdint>
#include <string>
#include <vector>

#include "common/patch.h"
#include "tervik/mesh.h"
#include "weaver/closing/handle_removal.h"
#include "weaver/closing/hole_filling.h"
#include "weaver/closing/normal_agreement.h"
#include "weaver/closing/silhouette_carving.h"
#include "weaver/point_tree.h"

namespace tervik {

// A detached piece of the mesh: its faces and the mean of its faces' first corners.
struct DetachedPiece {
  long faces = 0;
  Point3D centre;
  bool layer = false;  // every vertex of it lay within 2 mean edge lengths of the largest piece
};

// What make_watertight changed.
struct WatertightReport {
  long withdrawn = 0;         // faces left out because the triangulation withdrew them
  long degenerate = 0;        // faces with a repeated vertex, or repeating another face
  long nonmanifold_edge = 0;  // faces removed so that no edge has more than two
  long unorientable = 0;      // faces removed to orient consistently
  long folded = 0;            // faces against their point normals
  long fans_joined = 0;         // faces added to join two fans at a vertex
  long nonmanifold_vertex = 0;  // faces removed around vertices with several fans
  long vertices_split = 0;      // vertex copies made for fans that could not be removed
  long small_pieces = 0;        // faces of detached specks removed
  // Detached pieces larger than specks that the repairs took away whole (none is expected).
  std::vector<DetachedPiece> pieces_lost;
  HoleFilling holes;
  HandleRemoval handles;  // small handles cut out after the holes are closed
  SilhouetteCarving carving;  // new vertices carved back into the silhouettes (when given)
  NormalAgreement agreement;  // faces turned to agree with their corners' point normals
  // Against the kept faces (those not withdrawn), as sets of three vertices: the kept faces that
  // the closed mesh no longer has, and its faces that are not kept ones. The kept faces less
  // the first plus the second are the closed mesh's faces.
  long faces_gone = 0;
  long faces_new = 0;

  // Faces removed by the repairs, withdrawn faces not included.
  long faces_removed() const {
    return degenerate + nonmanifold_edge + unorientable + folded + nonmanifold_vertex + small_pieces +
           holes.faces_opened;
  }
};

// The closed mesh made from `mesh` (as get_mesh returns it: vertex i is points[i]), its face
// flags and the points (for their normals). The vertices keep their indices and colours, new
// vertices follow; the faces are the kept faces, turned where needed, then the new ones.
// `tree` and `point_of`, when given, are the triangulation's point tree over `points` and the
// point of each of its numbers (PivotingTrace): lifting patches searches it instead of a new one.
// `inside`, when given, tells where the cameras see the object: the lifting raises patches
// through holes that left no point to where it ends (patch_inflation.h), and after lifting, the
// patches' vertices that some camera sees over the background are carved back in
// (silhouette_carving.h).
FaceVertexMesh make_watertight(const FaceVertexMesh& mesh, const std::vector<bool>& face_flags,
                               const std::vector<Patch>& points, WatertightReport& report,
                               const PointTree* tree = nullptr,
                               const std::vector<std::uint32_t>* point_of = nullptr,
                               const InsideTest& inside = {});
// The same, taking `mesh` apart instead of copying it (its memory serves the repairs).
FaceVertexMesh make_watertight(FaceVertexMesh&& mesh, const std::vector<bool>& face_flags,
                               const std::vector<Patch>& points, WatertightReport& report,
                               const PointTree* tree = nullptr,
                               const std::vector<std::uint32_t>* point_of = nullptr,
                               const InsideTest& inside = {});

// The lines weaver prints about it: holes closed, largest hole, faces removed and added.
std::string format_report(const WatertightReport& report);

}  // namespace tervik
