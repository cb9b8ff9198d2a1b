#pragma once
// Triangulation of the band between two closed polygons: the rim of a hole and the rim of a
// detached piece lying in it. Closing both rims on their own would give the piece a second
// sheet facing the other way (a closed pancake); stitching the band joins the piece to the
// surface around it instead.
#include <array>
#include <vector>

#include "tervik/points.h"

namespace tervik {

// Triangles over the band between `outer` (n corners) and `inner` (m corners), which run
// opposite ways round it, each with the band on its left (seen from outside), joined by the
// bridge outer[0]-inner[0]. Corners are numbered outer 0..n-1, then inner n..n+m-1. Every
// triangle has two corners on one polygon, neighbours there, and one on the other; each side
// outer[i] -> outer[i+1] and inner[k] -> inner[k+1] appears in one triangle in that direction,
// and every bridge between the polygons in two, opposite ways (n + m triangles). Of all such
// triangulations, the one with the least total length of bridges (dynamic programming over
// n x m states).
std::vector<std::array<int, 3>> stitch_band(const std::vector<Point3D>& outer,
                                            const std::vector<Point3D>& inner);

}  // namespace tervik
