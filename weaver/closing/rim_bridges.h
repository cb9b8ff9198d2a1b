#pragma once
// Where two pieces of a mesh nearly touch: pairs of rim edges, one on each piece, that run in
// opposite directions close to each other, so that two faces across them join the pieces.
#include <cstddef>
#include <tuple>
#include <vector>

#include "tervik/points.h"

namespace tervik {

// An edge of a piece's rim, from `from` to `to` (the piece on its left, seen from outside);
// `group` names its piece and `reach` is the longest a bridge from it may be (the radius of a
// circle as long as its loop, capped).
struct RimEdge {
  Point3D from, to;
  int group = 0;
  double reach = 0.0;
};

// The pairs (i, j), i < j, of rim edges of different groups that two faces (from_i, to_i,
// from_j) and (from_i, from_j, to_j) may join: the edges run against each other (the dot
// product of their directions is negative) and both new edges, to_i - from_j and to_j - from_i,
// are no longer than the smaller reach of the two. Each pair comes with the sum of the two new
// edges' lengths; the list is sorted (by that sum, then i, then j). Edges are paired only where
// their midpoints lie in neighbouring cells of a grid as fine as the largest reach, and the
// midpoints are within the smaller reach (a relative slack of 1e-6 and 1e-9 of their
// coordinates' size covers the rounding), which every such pair is; an edge whose midpoint is
// not finite is paired with none.
std::vector<std::tuple<double, std::size_t, std::size_t>> bridge_candidates(const std::vector<RimEdge>& edges);

}  // namespace tervik
