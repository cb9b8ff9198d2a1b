#pragma once
// The half-edge mesh in which holes are closed (OpenMesh's triangle mesh with double
// coordinates), and the conversions from and to the repair mesh.
#include <functional>
#include <vector>

#include <OpenMesh/Core/Mesh/TriMesh_ArrayKernelT.hh>

#include "weaver/closing/manifold_repair.h"

namespace tervik {

struct HoleMeshTraits : OpenMesh::DefaultTraits {
  typedef OpenMesh::Vec3d Point;
  typedef OpenMesh::Vec3d Normal;
};
using HoleMesh = OpenMesh::TriMesh_ArrayKernelT<HoleMeshTraits>;

// Whether a point may lie inside the object: false where some camera sees it over the
// background of its silhouette.
using InsideTest = std::function<bool(const Point3D&)>;

inline OpenMesh::Vec3d to_vec(const Point3D& p) { return {p.x, p.y, p.z}; }
inline Point3D to_point(const OpenMesh::Vec3d& v) { return {v[0], v[1], v[2]}; }
// A triangle's area vector: twice its area, along its normal. Inlined, as it is taken for every
// face around every vertex that a patch moves.
[[gnu::always_inline]] inline OpenMesh::Vec3d face_area_vector(const HoleMesh& hm,
                                                               HoleMesh::FaceHandle f) {
  auto it = hm.cfv_iter(f);
  const OpenMesh::Vec3d a = hm.point(*it), b = hm.point(*++it), c = hm.point(*++it);
  return OpenMesh::cross(b - a, c - a);
}

// Copies the vertices (same indices) and faces of `mesh` into a half-edge mesh. Faces that the
// half-edge structure refuses (an edge of a third face, or two faces traversing an edge in the
// same direction) are left out and counted in `refused`.
HoleMesh to_hole_mesh(const RepairMesh& mesh, long& refused);

// The same, built in `hm` (whatever it held is cleared; its properties stay). `across`, when
// given, receives faces_across(hm), which the construction mostly knows already.
void to_hole_mesh(const RepairMesh& mesh, long& refused, HoleMesh& hm, std::vector<int>* across = nullptr);

// The pieces of a half-edge mesh: its faces connected across edges.
struct FacePieces {
  std::vector<int> piece;  // the piece of each face (-1: a face left out), numbered in the order
                           // of their first faces
  int largest = -1;        // the piece with the most faces (the first of equals; -1: no faces)
  int count = 0;           // how many pieces there are
};

// The face across each edge of each face of `hm`: across[3 f + k] for the k-th half-edge of face
// f, counted from halfedge_handle(f) along next; -1 on the boundary.
std::vector<int> faces_across(const HoleMesh& hm);

// The pieces of the faces f with gone[f] == 0 (all faces when `gone` is empty), connected
// across edges as faces_across lists them; the faces gone are in piece -1.
FacePieces pieces_of(const std::vector<int>& across, const std::vector<char>& gone);

// Where garbage_collection() puts the faces of `hm` (which must have face status): the old
// index of each face it keeps, in their new order. It fills the place of each deleted face,
// from the front, with the last face kept.
std::vector<int> faces_after_collection(const HoleMesh& hm);

// Does what hm.garbage_collection() does to `hm`, which must have status on every element:
// removes the deleted faces and edges, moving the last ones kept into their places, so that
// every handle, link and status comes out the same. Where only faces and edges are deleted and
// hm has no properties but the points and the status, it moves only those elements and
// rewrites only the links to them (the collection rewrites every link of the mesh), else it
// calls garbage_collection(). Returns faces_after_collection(hm) as it was before.
std::vector<int> collect_garbage(HoleMesh& hm);

// `pieces` for the faces order[0], order[1], ... (old face indices, as faces_after_collection
// gives them): numbered again in the order of their first faces; pieces without faces left
// are gone.
FacePieces reorder_pieces(const FacePieces& pieces, const std::vector<int>& order);

// Flips the edge e of hm, which must be able to flip (hm.is_flip_ok(e)): the same links come
// out as from hm.flip(e), without the library's checks of every handle it touches (which made
// up most of a flip's work).
void flip_edge(HoleMesh& hm, HoleMesh::EdgeHandle e);

// Splits the edge e of hm, which has a face on either side, at the vertex vh (new, joined to
// nothing yet) as hm.split_copy(e, vh) does: the same links, new edges and new faces come out,
// each new edge with e's properties and each new face with those of the old face it came from,
// again without the library's checks of every handle.
void split_edge(HoleMesh& hm, HoleMesh::EdgeHandle e, HoleMesh::VertexHandle vh);

// Deletes the face f of hm (which has status on its faces, edges and half-edges) as
// hm.delete_face(f, false) does: the same links, outgoing half-edges and deletion marks come
// out, edges left with no face deleted and vertices left with no edge kept, without the
// library's checks of every handle and status it touches.
void delete_face(HoleMesh& hm, HoleMesh::FaceHandle f);

// Adds the face (a, b, c) to hm as hm.add_face(a, b, c) does: the same new edges, links and
// outgoing half-edges come out, the boundary around a corner relinked the same way where the
// face joins two of its half-edges that did not follow each other, without the library's
// checks of every handle. Where the library refuses the face (a corner with no gap left, an
// edge with a face on that side already, no gap to move the faces between two such half-edges
// into), the library is left to refuse it (with its message on the error stream); hm is then
// unchanged and the handle returned invalid.
HoleMesh::FaceHandle add_face(HoleMesh& hm, HoleMesh::VertexHandle a, HoleMesh::VertexHandle b,
                              HoleMesh::VertexHandle c);

// Copies the vertex positions of `hm` (including its new vertices, appended) and its faces (in
// face-handle order) back into `mesh`. Colours and normals of new vertices are the caller's.
void from_hole_mesh(const HoleMesh& hm, RepairMesh& mesh);

}  // namespace tervik
