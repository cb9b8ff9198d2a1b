#pragma once
// Closing the holes of a manifold, consistently oriented triangle mesh.
//
// Each boundary loop is first triangulated without new vertices (minimum total area by dynamic
// programming, or for long loops by cutting off the sharpest corner first), then refined until
// its edges are about as long as the loop's edges (long edges split at their middle, edges
// flipped towards better triangles), and its new vertices are moved to the smooth membrane that
// the loop spans (fairing).
#include <array>
#include <functional>
#include <vector>

#include "weaver/manifold_repair.h"

namespace tervik {

// What fill_holes did.
struct HoleFilling {
  long holes_closed = 0;   // loops that were closed
  long largest_hole = 0;   // edges of the longest loop closed
  long faces_added = 0;
  long vertices_added = 0;
  long holes_left = 0;     // loops that could not be closed
  long faces_refused = 0;  // input faces the half-edge structure refused (left out)
};

// Triangles over the closed polygon p[0], ..., p[n-1] (n >= 3), as triples (i, m, k) of corner
// indices with i < m < k, of minimum total area. allowed(i, k) tells whether the chord between
// corners i and k (not neighbours on the polygon) may be used. Empty when no triangulation
// avoids the chords that are not allowed.
std::vector<std::array<int, 3>> min_area_triangulation(
    const std::vector<Point3D>& p, const std::function<bool(int, int)>& allowed);

// Triangles over the closed polygon p (n >= 3) by repeatedly cutting off the corner with the
// smallest interior angle, measured around the outward normal normals[i] of each corner; the
// polygon runs with its inside on the left seen from outside. Each triple (prev, corner, next)
// keeps the polygon's direction. Empty when some cut needs a chord that is not allowed.
std::vector<std::array<int, 3>> ear_triangulation(
    const std::vector<Point3D>& p, const std::vector<Point3D>& normals,
    const std::function<bool(int, int)>& allowed);

// Closes every hole of `mesh`, which must have at most two faces per edge, manifold vertices and
// consistent orientation. New vertices are appended (colour: the mean of the vertices they are
// made from; normal likewise); new faces follow the old ones, oriented like their neighbours.
HoleFilling fill_holes(RepairMesh& mesh);

}  // namespace tervik
