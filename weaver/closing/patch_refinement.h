#pragma once
// Refinement of the patch that closes a hole: edges flipped towards better triangles, long edges
// split at their middle. The patch's faces are marked in a face property with the patch's id.
#include <functional>
#include <limits>
#include <span>
#include <vector>

#include "weaver/closing/hole_mesh.h"
#include "weaver/closing/manifold_repair.h"

namespace tervik {

// The faces and new vertices of one hole while it is closed.
struct HolePatch {
  int id;
  double target;  // mean edge length of the loop
  std::vector<HoleMesh::FaceHandle> faces;
  std::vector<HoleMesh::VertexHandle> fresh;
  // Edge length wanted around each vertex of the patch: for a loop vertex the mean of its two
  // loop edges, for a new vertex the mean of the two it was made from.
  OpenMesh::VPropHandleT<double> scale;
  // Whether an edge waits in quality_flips' list (all false between calls).
  OpenMesh::EPropHandleT<char> queued;
  // A vertex made by splitting an edge wants edges `growth` times as long as the mean its two
  // ends want, up to `coarsest`: above 1, each round of splits leaves the patch coarser away
  // from its rim.
  double growth = 1.0;
  double coarsest = std::numeric_limits<double>::infinity();
};

// A new vertex of hm at p; its colour and normal (appended to mesh's) are the mean of `from`'s.
HoleMesh::VertexHandle new_vertex(HoleMesh& hm, RepairMesh& mesh, const OpenMesh::Vec3d& p,
                                  std::span<const HoleMesh::VertexHandle> from);

// Flips interior edges of the patch where the flip raises the smaller of the two triangles'
// smallest angles, without turning either over (nor, where the two face the same way, making
// one that faces against either of them). Starts from the edges of the faces around
// `around` (every patch face when empty) and looks again at the edges next to each flip.
void quality_flips(HoleMesh& hm, const HolePatch& patch, const OpenMesh::FPropHandleT<int>& prop,
                   const std::vector<HoleMesh::VertexHandle>& around);

// Flips edges next to the given faces where a triangle faces against the sum of its corners'
// normals (mesh.normals) and the flip leaves fewer of the two triangles doing so (and neither
// degenerate, nor folded over the other); may_flip(f, g) tells whether the edge between faces
// f and g may be flipped. Looks at the given faces against the normals, then at the faces
// around each flip, for up to three passes. Returns the flips made.
long normal_flips(HoleMesh& hm, const RepairMesh& mesh, const std::vector<HoleMesh::FaceHandle>& faces,
                  const std::function<bool(HoleMesh::FaceHandle, HoleMesh::FaceHandle)>& may_flip);

// Flips edges of the given faces where the two faces beside the edge meet in a crease (their
// normals more than 60 degrees apart) and the flip lowers the bending of the quad they make
// (the sum of 1 - cos of the angles between the face normals across its diagonal and its four
// sides), leaving no needle; may_flip(f, g) tells whether the edge between faces f and g may be
// flipped. A flip may not leave more of the two faces against the sum of their corners' normals
// (mesh.normals) than before. Looks again at the quad's sides after each flip. Returns the flips
// made.
long fold_flips(HoleMesh& hm, const RepairMesh& mesh, const std::vector<HoleMesh::FaceHandle>& faces,
                const std::function<bool(HoleMesh::FaceHandle, HoleMesh::FaceHandle)>& may_flip);

// Runs fold_flips over a whole mesh on the faces that `old_face` does not mark (the faces
// added by the closing), flipping their edges with each other and with the marked faces beside
// them. Only the normals of the mesh's first `points` vertices (the points') guard the flips.
// Works on a half-edge copy of the faces around the creases of added faces; does nothing where
// that copy is not manifold. Returns the flips made.
long flip_added_creases(RepairMesh& mesh, const std::vector<char>& old_face, std::size_t points);

// Moves each vertex of `fresh` within its tangent plane (mesh.normals) to a place where fewer
// of its faces face against the sum of their corners' normals, where such a place is found;
// `sweeps` passes. Returns the moves made.
long untangle_vertices(HoleMesh& hm, const RepairMesh& mesh, const std::vector<HoleMesh::VertexHandle>& fresh,
                       int sweeps);

// Splits the patch's interior edges longer than 4/3 of the larger wanted length at their ends,
// at their middle (new vertices go to patch.fresh, new faces to patch.faces; each new vertex
// wants the mean of its ends' lengths, times patch.growth, at most patch.coarsest). Returns
// whether it split any.
bool split_long_edges(HoleMesh& hm, RepairMesh& mesh, HolePatch& patch,
                      const OpenMesh::FPropHandleT<int>& prop);

}  // namespace tervik
