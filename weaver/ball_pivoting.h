#pragma once
// Ball-pivoting triangulation of an oriented point cloud.
//
// The surface grows from seed triangles across its open border edges, breadth-first. A new
// triangle is accepted when its angle at the vertex being added (its apex) lies between
// minangle and 180 - 2 * minangle degrees, its right-hand normal agrees with the normals of
// its three points, and the small ball around it holds no point of the surface in the way.
// Points inside an accepted triangle are retired. Every face is stored with its apex first.
#include <cstdint>
#include <memory>
#include <vector>

#include "common/patch.h"
#include "tervik/mesh.h"
#include "tervik/points.h"
#include "weaver/point_tree.h"

namespace tervik {

// Scales p in place to unit length (each component times 1 / |p|). Returns false, leaving p
// unchanged, when |p| is zero, so that callers skip candidates built from coincident points.
bool normalize(Point3D& p);

// Cross product a x b, computed with OpenMesh's fixed-size 3-vector type.
Point3D cross_product(const Point3D& a, const Point3D& b);

// The admissible apex angles for a minimum angle in degrees, as a band of cosines:
// cos_min = cos(minangle), cos_max = cos(180 - 2 * minangle), with pi taken as 3.14159.
struct ApexBand {
  double cos_min = 1.0;
  double cos_max = -1.0;

  explicit ApexBand(double minangle);
  // Whether an apex angle with cosine c is admissible: cos_max <= c <= cos_min.
  bool admits(double c) const { return cos_max <= c && c <= cos_min; }
};

// The corner of a prospective triangle at `apex`: e1 and e2 are the unit directions from the
// apex to p and q, c = e1 . e2 the cosine of the angle. False when the apex coincides with p
// or q (the directions are undefined).
struct Corner {
  Point3D e1, e2;
  double c = 0.0;
};
bool corner(const Point3D& apex, const Point3D& p, const Point3D& q, Corner& out);

// What a triangulation leaves besides the mesh, for inspection: the free flag of every point
// (false once it was retired as covered by a triangle) and the used-point count; with
// keep_tree set, also the point tree it searched, handed over for later searches over the
// same points (its answers are numbers in the tree's own order: point_of[i] is the input index
// of number i).
struct PivotingTrace {
  std::vector<bool> free_points;
  unsigned int used = 0;
  bool keep_tree = false;
  std::unique_ptr<PointTree> tree;
  std::vector<std::uint32_t> point_of;
};

// Triangulates `points` (pos, unit outward normal, colour). nn: neighbours examined around a
// seed point and a border edge (10 * nn in the second pass); minangle in degrees; npoints:
// bound on the points that seeds and the first pass take into the surface. Returns a mesh
// whose vertex i is point i (with its colour) and whose faces are in order of acceptance;
// face_flags gets one flag per face, false for faces withdrawn later (they stay in the mesh).
// Progress and the mesher's "ERROR: " lines go to standard output. Draws seeds from rand().
// With threads > 1 the other threads compute neighbour lists ahead; the result is the same.
FaceVertexMesh get_mesh(const std::vector<Patch>& points, unsigned int nn, double minangle,
                        std::vector<bool>& face_flags, unsigned int npoints,
                        PivotingTrace* trace = nullptr, unsigned int threads = 1);

}  // namespace tervik
