#pragma once
// The last stage of the closing step: faces that still face against the normals of their
// corners are turned to agree with them.
//
// A face (a, b, c) faces against its corners' normals where its normal (right-hand rule) has a
// negative dot product with the sum of the normals of those of its corners that are points
// (vertex v < `points`); vertices the closing step added have no normal of their own and are
// left out of the sum, and a face with no point for a corner is not judged. Such faces are left
// where a patch meets a rim that folds, or closes a hole of three or four corners whose normals
// disagree. Each is mended by the first of these that works:
//  1. flipping one of its edges, where that leaves fewer of the two faces against the normals;
//  2. moving one of its added corners to a place where none of that vertex's faces faces
//     against the normals (nor, among faces without a point, turns over), at most two edge
//     lengths of its ring away; or, for a face of three points, flipping an edge towards an
//     added vertex beyond it and moving that vertex so;
//  3. splitting the face (or, failing that, one of its edges) at a new vertex placed so, at
//     most an edge length away from the face's centroid (the edge's middle): a low tent over
//     the face whose sides each agree with the two points they hold.
// A face of three points folded right over (its corners' normals all against it) cannot be
// mended this way and stays.
#include <cstddef>

#include "weaver/closing/manifold_repair.h"

namespace tervik {

// What agree_with_point_normals changed.
struct NormalAgreement {
  long against_before = 0;  // faces against their corners' normals before
  long against_after = 0;   // and after
  long flips = 0;           // edges flipped
  long moves = 0;           // added vertices moved
  long splits = 0;          // faces and edges split at a new vertex
};

// The faces of `mesh` against the normals of their corners that are points (v < points).
long faces_against_point_normals(const RepairMesh& mesh, std::size_t points);

// Mends the faces of `mesh` (manifold, consistently oriented; closed or not) that face against
// their corners' point normals, as above. Vertices keep their indices; new vertices are
// appended (position, colour and normal the mean of the face's or edge's corners), new faces
// follow the old ones. A mesh that the half-edge structure refuses is left as it is.
NormalAgreement agree_with_point_normals(RepairMesh& mesh, std::size_t points);

}  // namespace tervik
