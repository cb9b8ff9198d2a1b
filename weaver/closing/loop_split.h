#pragma once
// Splitting a long hole loop into short ones by chords across the hole, so that each part can be
// triangulated by the cubic dynamic programming of weaver/closing/loop_triangulation.h at little cost.
//
// A chord joins two corners far apart along the loop and near each other in space; it is cut
// into pieces of about the wanted edge length by new points on the straight line between its
// ends, and both parts take it as a boundary path. Parts are split again until none has more
// corners than asked, or no chord shortens it.
#include <array>
#include <functional>
#include <vector>

#include "tervik/points.h"

namespace tervik {

// A loop split into parts. points and normals start with the loop's corners (same indices) and
// continue with the chords' new points; parents[k] are the two chord ends (indices into points)
// that new point points.size() - parents.size() + k lies between. Each part is a closed polygon
// over indices into points that runs the same way as the loop (inside on the left, seen from the
// side the normals point to).
struct LoopSplit {
  std::vector<Point3D> points;
  std::vector<Point3D> normals;
  std::vector<std::array<int, 2>> parents;
  std::vector<std::vector<int>> parts;
};

// Splits the closed polygon p (with outward unit normals at its corners, inside on the left seen
// from outside) until each part has at most max_corners corners. spacing is the length chords are
// cut to. allowed(i, k) tells whether a chord without new points may join corners i and k of
// the loop. A chord is taken only where it leaves both ends towards the inside of the loop
// (within 60 degrees of straight in, to the left of the loop's direction there) and where each
// part faces the way its corners' normals point (area vector against normal sum), which keeps
// each part running the loop's way round and off chords through the object's inside.
LoopSplit split_loop(const std::vector<Point3D>& p, const std::vector<Point3D>& normals,
                     double spacing, int max_corners,
                     const std::function<bool(int, int)>& allowed);

}  // namespace tervik
