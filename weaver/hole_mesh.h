#pragma once
// The half-edge mesh in which holes are closed (OpenMesh's triangle mesh with double
// coordinates), and the conversions from and to the repair mesh.
#include <OpenMesh/Core/Mesh/TriMesh_ArrayKernelT.hh>

#include "weaver/manifold_repair.h"

namespace tervik {

struct HoleMeshTraits : OpenMesh::DefaultTraits {
  typedef OpenMesh::Vec3d Point;
  typedef OpenMesh::Vec3d Normal;
};
using HoleMesh = OpenMesh::TriMesh_ArrayKernelT<HoleMeshTraits>;

inline OpenMesh::Vec3d to_vec(const Point3D& p) { return {p.x, p.y, p.z}; }
inline Point3D to_point(const OpenMesh::Vec3d& v) { return {v[0], v[1], v[2]}; }

// Copies the vertices (same indices) and faces of `mesh` into a half-edge mesh. Faces that the
// half-edge structure refuses (an edge of a third face, or two faces traversing an edge in the
// same direction) are left out and counted in `refused`.
HoleMesh to_hole_mesh(const RepairMesh& mesh, long& refused);

// The same, built in `hm` (whatever it held is cleared; its properties stay).
void to_hole_mesh(const RepairMesh& mesh, long& refused, HoleMesh& hm);

// Copies the vertex positions of `hm` (including its new vertices, appended) and its faces (in
// face-handle order) back into `mesh`. Colours and normals of new vertices are the caller's.
void from_hole_mesh(const HoleMesh& hm, RepairMesh& mesh);

}  // namespace tervik
