#pragma once
// Re-triangulating small discs of faces around the faces that face against their corners'
// point normals, where no flip or move of one vertex mends them (a face of three points folded
// right over, a patch face whose added corner is held by its other faces), and around the folds
// of the patches: faces of added vertices only that face against those vertices' normals
// (spread from the points around them when they were made).
//
// Around each such face, discs of growing size are tried (at most 100 faces): faces are added
// across the disc's edges, nearest first. A second pass over what is left grows the discs
// without pinching their rims (a face that meets the disc along one edge while its third corner
// is on the disc already waits for a second edge). A disc is taken apart only where its rim is
// one simple loop and it holds no handle. The vertices inside it, which must be `droppable`, are
// left without faces: added ones, and points, which stay in the vertex list, unmoved. Such
// points are mostly ones whose normals point inward, or points off the surface, that fold the
// faces around them. The loop is triangulated over its own corners by least cost, triangles
// against their points' normals priced high, without chords that are edges of the mesh already.
// The new faces replace the disc where no more of them face against their point normals, fewer
// face against those or fold, and none folds back onto a face beside it. Last, around the faces
// still against the normals, the discs made of the faces at one, two or all three of their
// corners are tried, and those grown by the faces at their vertices: where a point lies beyond
// its neighbours, the discs grown across edges keep it on their rims or take in more than its
// fan, whose own rim (or the next ring's) is flat. Where none of those rims' own triangulations
// mends the face, a fan around one new vertex over the same discs may (see `centres` below).
//
// With `crumples`, the discs are grown instead around the crumples of the patches: faces with an
// added corner whose normal turns away from the faces around their corners (a negative dot
// product with the sum of those faces' vector areas). A disc is replaced where fewer of its
// faces turn away from its vector area (which every triangulation of its rim shares), and no
// more face against the point normals or fold.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "tervik/points.h"

namespace tervik {

struct RegionRetriangulation {
  long regions = 0;           // discs replaced
  long faces_removed = 0;     // faces of those discs
  long faces_added = 0;       // faces that replaced them
  long vertices_dropped = 0;  // added vertices inside the discs, left without faces
  long points_dropped = 0;    // points inside the discs, left without faces
  long fans = 0;              // of the discs, those replaced by a fan around a new vertex

  RegionRetriangulation& operator+=(const RegionRetriangulation& o) {
    regions += o.regions;
    faces_removed += o.faces_removed;
    faces_added += o.faces_added;
    vertices_dropped += o.vertices_dropped;
    points_dropped += o.points_dropped;
    fans += o.fans;
    return *this;
  }
};

// Whether the face (a, b, c) faces against `s` (a sum of point normals), at its corners' places
// or at those places as the ASCII mesh file writes them, to six decimals: that rounding can
// turn a face that stands nearly on edge the other way.
inline bool faces_against(const Point3D& a, const Point3D& b, const Point3D& c, const Point3D& s) {
  const Point3D u = b - a, v = c - a;
  const double d = dot(cross(u, v), s);
  if (d < 0.0) return true;
  // Rounding moves each corner by at most 0.87e-6, so u and v each by at most 1.74e-6, and their
  // cross product by at most B = 1.74e-6 (|u| + |v|) + 3.1e-12. Where the face faces along s by
  // more than |s| B it still does as written; compared squared, with
  // B^2 <= 1.22e-11 (|u|^2 + |v|^2) + 2e-23.
  if (d * d > norm2(s) * (1.3e-11 * (norm2(u) + norm2(v)) + 2e-23)) return false;
  // As the writer prints it ("%f"), read back. Rounding x * 1e6 instead differs where the
  // product rounds onto a half: 0.2634145 is written 0.263414, but std::round(263414.5) is 263415.
  const auto written = [](const Point3D& p) {
    const auto one = [](double x) {
      char text[400];  // "%f" of 1e308 is 316 characters
      const auto r = std::to_chars(text, text + sizeof text, x, std::chars_format::fixed, 6);
      double back = x;
      std::from_chars(text, r.ptr, back);
      return back;
    };
    return Point3D(one(p.x), one(p.y), one(p.z));
  };
  const Point3D wa = written(a);
  return dot(cross(written(b) - wa, written(c) - wa), s) < 0.0;
}

// The faces of a mesh part: positions and normals of its vertices (a point's own; an added
// vertex's spread from the points), is_point[v], droppable[v] (v may be left without faces),
// complete[v] (every face at v is in `faces`): only vertices both droppable and complete can be
// inside a disc. Where `pieces` is given, (*pieces)[v] is the detached piece of the mesh that
// point v belongs to (-1: none), and (*left)[k] counts the points of piece k that have faces:
// a disc holds at most half of them, and the counts follow the replacements. Replaces discs as
// above: `faces` keeps its surviving faces in order, the new ones follow. Where `faces` is part of
// a larger mesh, (*joined_outside)[v] lists the vertices that v shares an edge with in faces
// left out of it: a new face never repeats such an edge. Where `centres` is given, a face still
// against the normals that no triangulation of a star's rim mends may be mended by a fan around
// one new vertex (an added vertex, numbered from positions.size() on in `faces`): its place and
// normal are appended to *centres.
RegionRetriangulation retriangulate_against(const std::vector<Point3D>& positions,
                                            const std::vector<Point3D>& normals,
                                            const std::vector<char>& is_point,
                                            const std::vector<char>& droppable,
                                            const std::vector<char>& complete,
                                            std::vector<Coord3D<long long>>& faces, bool crumples = false,
                                            const std::vector<int>* pieces = nullptr,
                                            std::vector<long>* left = nullptr,
                                            const std::vector<std::vector<long long>>* joined_outside = nullptr,
                                            std::vector<std::pair<Point3D, Point3D>>* centres = nullptr);

}  // namespace tervik
