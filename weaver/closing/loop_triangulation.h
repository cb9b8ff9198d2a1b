#pragma once
// Triangulations of a closed polygon in 3-d over its own corners (no new vertices): by least
// cost (dynamic programming) or by cutting off corners.
#include <array>
#include <functional>
#include <vector>

#include "tervik/points.h"

namespace tervik {

// Triangles over the closed polygon p[0], ..., p[n-1] (n >= 3), as triples (i, m, k) of corner
// indices with i < m < k, of least total cost: area plus a quarter of the squared edge lengths,
// nearly flat triangles priced 100 times their squared edges more. allowed(i, k) tells whether the chord between
// corners i and k (not neighbours on the polygon) may be used. Empty when no triangulation
// avoids the chords that are not allowed.
std::vector<std::array<int, 3>> min_area_triangulation(
    const std::vector<Point3D>& p, const std::function<bool(int, int)>& allowed);

// The same, where a triangle that faces against the sum of its corners' `normals` (outward
// unit normals, one per corner) is priced like a nearly flat one: used only where every
// triangulation needs it.
std::vector<std::array<int, 3>> min_area_triangulation(
    const std::vector<Point3D>& p, const std::function<bool(int, int)>& allowed,
    const std::vector<Point3D>& normals);

// The same with the chords that may not be used given as lists: corner i (i < n) must not be
// joined to the corners joined[joined_start[i]], ..., joined[joined_start[i + 1] - 1] (either
// way round; neighbours on the polygon and entries out of range are passed over). Gives what the
// function form gives with allowed(i, k) false exactly where k is in i's list or i in k's.
std::vector<std::array<int, 3>> min_area_triangulation(const std::vector<Point3D>& p,
                                                       const std::vector<std::size_t>& joined_start,
                                                       const std::vector<int>& joined,
                                                       const std::vector<Point3D>& normals);

// The normals that steer min_area_triangulation of a polygon whose corners have the unit
// normals `normals`: up to `small` corners, the corners' own; for more corners, where their sum
// is at least `agreement` times their number (they spread little), their mean direction at every
// corner (far-apart corners meeting in one triangle then judge it by one direction rather than by
// their own noisy normals); otherwise none (empty: unsteered).
std::vector<Point3D> steering_normals(const std::vector<Point3D>& normals, std::size_t small,
                                      double agreement);

// Triangles over the closed polygon p (n >= 3) by repeatedly cutting off the corner with the
// smallest interior angle, measured around the outward normal normals[i] of each corner; the
// polygon runs with its inside on the left seen from outside. Each triple (prev, corner, next)
// keeps the polygon's direction. Empty when some cut needs a chord that is not allowed.
std::vector<std::array<int, 3>> ear_triangulation(
    const std::vector<Point3D>& p, const std::vector<Point3D>& normals,
    const std::function<bool(int, int)>& allowed);

}  // namespace tervik
