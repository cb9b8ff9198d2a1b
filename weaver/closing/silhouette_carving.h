#pragma once
// Carving hole patches back into the silhouettes.
//
// Where the cloud has no points, a patch cannot tell a surface the cameras did not sample from a
// wedge of air that their points do not reach: under an arm, a patch across the gap between arm
// and body hangs like a web, and every camera looking into the gap sees it over the background.
// The silhouettes tell the two apart. Each new vertex that some camera sees over its background
// is moved inward along the patch's normal until every camera sees it over the object, edges
// that still span the background are split and their middles carved the same way, and the moves
// are relaxed over the patch. A web carved into the crease above it turns from facing down to
// facing sideways, so a face's turn alone is no sign of a fold here; a face with corners among
// the points that ends up against the sum of their normals is one, and its moves are given back.
#include <cstddef>

#include "tervik/points.h"
#include "weaver/closing/hole_mesh.h"
#include "weaver/closing/manifold_repair.h"

namespace tervik {

// What carve_patches did.
struct SilhouetteCarving {
  long vertices_outside = 0;  // new vertices that some camera saw over the background
  long vertices_added = 0;    // vertices made by splitting edges that spanned the background
  long vertices_moved = 0;    // new vertices carved in, or relaxed after them
  // New vertices seen over the background and left there: no place inside within reach, or their
  // move folded a face.
  long vertices_kept = 0;
};

// Moves the vertices of hm numbered from `first_new` on (the patches' new vertices) for which
// inside() is false inward along their normals (the sum of their faces' area vectors, taken
// before any move) to the first place, in steps of a quarter `reach`, for which it is true, at
// most 12 reaches away. Twice, the edges between two faces numbered from `first_new_face` on
// (the patches' faces) of at least a reach whose ends are inside and whose middle is not are
// split there and their
// new vertices carved the same way (new vertices take the mean colour and normal of the edge's
// ends, in `mesh`). Then the moved vertices and the new vertices beside them are relaxed, in 10
// sweeps: each moves half way to the mean of its neighbours where that place is inside too. A
// face with old corners (points, whose normals are in mesh.normals) that the moves turned against
// the sum of those corners' normals gives its new vertices back their places from before the
// carving (in rounds, until none is left). Last, mesh's vertices and faces are rewritten from hm
// if anything changed.
SilhouetteCarving carve_patches(HoleMesh& hm, RepairMesh& mesh, std::size_t first_new,
                                std::size_t first_new_face, const InsideTest& inside, double reach);

}  // namespace tervik
