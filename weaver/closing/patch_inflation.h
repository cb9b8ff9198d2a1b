#pragma once
// Lifting hole patches onto the point cloud.
//
// A patch faired over a large hole is a membrane spanned by its rim: over a hole that misses a
// good part of a convex object it cuts through the inside, although the object's points lie
// beyond it. Each new vertex is moved along the patch's own normal until it meets the points
// (a ray marched through the point tree); the moves are interpolated over the patch, and any move
// that would turn a face over is given up. A patch that spans the gap between two walls facing
// each other (under an arm) hangs outside the object like a web: its vertices there are lowered
// onto the points instead. Where a hole leaves no point for a ray to meet, the silhouettes, when
// given, still show where the object ends along it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/patch.h"
#include "weaver/closing/hole_mesh.h"
#include "weaver/closing/manifold_repair.h"
#include "weaver/point_tree.h"

namespace tervik {

// What inflate_patches did.
struct PatchInflation {
  long vertices_moved = 0;
  long vertices_kept = 0;  // moves given up because a face would turn over
};

// Moves the vertices of hm numbered from `first_new` on (the patches' new vertices) out along
// their normals (the sum of their faces' area vectors) onto the surface of `points`. A ray from
// each vertex, at most 1.5 times the vertex's distance from its rim (over the patch's edges),
// stops on the tangent plane of the first point within 2 `reach` whose plane it has passed; it
// lands there if that point faces its way (cosine 0.7 or more) and the rise is 2 reach or
// more. A vertex with no point within 2 reach, but points within 6 reach on two sides whose
// normals point at it and against each other, is lowered instead: its ray runs inward (at most
// 80 reach) to the first point within a reach of it and lands on that point's tangent plane if
// the point faces back along the ray. With `inside` (the silhouettes), a vertex inside them whose
// ray passed within 2 reach of no point at all (it ran through a hole), and that does not hang
// in a gap, rises to the last place inside them along the ray, in steps of a quarter reach, if
// that is 2 reach or more and the ray leaves them within its length. Landed vertices take their
// rise; the others take the harmonic interpolation of the rises (rim vertices: 0). A face that
// would turn over gives its new vertices their old places (a lowered vertex tries half its move
// first, down to a sixteenth). Nothing moves, and no point tree is built, where every new vertex
// is too near its rim.
// `tree`, when given, is a point tree over `points` whose answers are numbers i of the points
// point_of[i] (as the triangulation hands its tree over); otherwise one is built.
PatchInflation inflate_patches(HoleMesh& hm, std::size_t first_new, const std::vector<Patch>& points,
                               double reach, const PointTree* tree = nullptr,
                               const std::vector<std::uint32_t>* point_of = nullptr,
                               const InsideTest& inside = {});

// After lifting: flips the edges of hm's faces numbered from `first_new_face` on (the patches),
// and those between them and the faces beside them, where two faces meet in a crease and the
// flip lowers the bending (fold_flips, guarded by the point normals in mesh.normals), then
// rewrites mesh's vertices and faces from hm if any edge was flipped. Lifting moves each vertex
// by a ray of its own, and where neighbouring rays rose by different amounts a patch creases.
// Returns the flips made.
long flip_lifted_creases(HoleMesh& hm, RepairMesh& mesh, std::size_t first_new_face);

}  // namespace tervik
