// The last stage of the closing step turns faces against their corners' point normals, and
// never moves a point (one inside a re-triangulated disc is left without faces).
#include "weaver/closing/normal_agreement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "common/patch.h"
#include "weaver/point_tree.h"

namespace tervik {
namespace {

// Every directed edge of the faces, counted: a closed, consistently oriented mesh uses each once
// and its reverse once.
bool closed_and_oriented(const RepairMesh& m) {
  std::map<std::pair<long long, long long>, int> uses;
  for (const auto& f : m.faces)
    for (int k = 0; k < 3; ++k) ++uses[{f[k], f[(k + 1) % 3]}];
  for (const auto& [e, n] : uses)
    if (n != 1 || uses.count({e.second, e.first}) == 0) return false;
  return true;
}

TEST(NormalAgreement, AddedVertexMovesOutOfAFoldAndTheMeshStaysClosed) {
  // An octahedron of six points with outward normals; one face is split at an added vertex
  // pushed deep inside, so that its three faces face inward against their corners' normals.
  RepairMesh m;
  m.vertices = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  for (const Point3D& v : m.vertices) m.normals.push_back(v);
  m.faces = {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4}, {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}};
  m.vertices.push_back({-0.6, -0.6, -0.6});
  m.normals.push_back({0, 0, 0});
  m.colors.assign(m.vertices.size(), {});
  m.faces[0] = {0, 2, 6};
  m.faces.push_back({2, 4, 6});
  m.faces.push_back({4, 0, 6});
  const std::vector<Point3D> before = m.vertices;
  ASSERT_EQ(faces_against_point_normals(m, 6), 3);
  // The added vertex has no normal of its own: the same faces with it counted as a point.
  EXPECT_EQ(faces_against_point_normals(m, 7), 3);

  const NormalAgreement r = agree_with_point_normals(m, 6);
  EXPECT_EQ(r.against_before, 3);
  EXPECT_EQ(r.against_after, 0);
  EXPECT_EQ(faces_against_point_normals(m, 6), 0);
  EXPECT_TRUE(closed_and_oriented(m));
  for (std::size_t v = 0; v < 6; ++v) EXPECT_EQ(m.vertices[v], before[v]) << "point " << v;
  // It moved out of the fold, at most two of its ring's edge lengths (sqrt 2 each), to where
  // its faces lean at most 75 degrees from their points' normals.
  EXPECT_GT(std::sqrt(dist2(m.vertices[6], before[6])), 0.5);
  EXPECT_LT(std::sqrt(dist2(m.vertices[6], before[6])), 2.0 * std::sqrt(2.0));
  for (const auto& f : m.faces) {
    if (f.x != 6 && f.y != 6 && f.z != 6) continue;
    Point3D sum;
    for (int k = 0; k < 3; ++k)
      if (f[k] < 6) sum += m.normals[std::size_t(f[k])];
    const Point3D& a = m.vertices[std::size_t(f.x)];
    const Point3D n = cross(m.vertices[std::size_t(f.y)] - a, m.vertices[std::size_t(f.z)] - a);
    EXPECT_GE(dot(n, sum) / (norm(n) * norm(sum)), std::cos(75.0 * M_PI / 180.0) - 1e-9);
  }
}

TEST(NormalAgreement, MovesStayNearThePointsWhereTheirTreeIsGiven) {
  // The octahedron's split face again, its added vertex now inside next to the point (-1, 0, 0),
  // and far off a sheet of short edges (a 15 x 15 grid, spacing 0.001) that makes the mesh's
  // mean edge length small: 4 of them are about 0.15. Moving the vertex out of the fold takes
  // it 0.43 further from the nearest point; with the points' tree given, that move is refused
  // and a disc mends the fold instead, the vertex left out.
  const auto folded = [] {
    RepairMesh m;
    m.vertices = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (const Point3D& v : m.vertices) m.normals.push_back(v);
    m.faces = {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4}, {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}};
    const long long grid = 6;
    for (int i = 0; i < 15; ++i)
      for (int j = 0; j < 15; ++j) {
        m.vertices.push_back({100 + 0.001 * i, 0.001 * j, 0});
        m.normals.push_back({0, 0, 1});
      }
    for (long long i = 0; i < 14; ++i)
      for (long long j = 0; j < 14; ++j) {
        const long long a = grid + 15 * i + j;
        m.faces.push_back({a, a + 15, a + 16});
        m.faces.push_back({a, a + 16, a + 1});
      }
    m.vertices.push_back({-0.9, -0.1, -0.1});
    m.normals.push_back({0, 0, 0});
    m.colors.assign(m.vertices.size(), {});
    const auto added = static_cast<long long>(m.vertices.size()) - 1;
    m.faces[0] = {0, 2, added};
    m.faces.push_back({2, 4, added});
    m.faces.push_back({4, 0, added});
    return m;
  };
  RepairMesh free = folded();
  const std::size_t points = free.vertices.size() - 1;
  std::vector<Patch> patches;
  for (std::size_t v = 0; v < points; ++v) patches.push_back({free.vertices[v], free.normals[v]});
  const auto nearest = [&](const Point3D& q) {
    double best = 1e30;
    for (const Patch& p : patches) best = std::min(best, std::sqrt(dist2(q, p.pos)));
    return best;
  };
  ASSERT_EQ(faces_against_point_normals(free, points), 3);
  const double start = nearest(free.vertices[points]);

  const NormalAgreement moved = agree_with_point_normals(free, points);
  EXPECT_EQ(moved.moves, 1);
  EXPECT_EQ(moved.against_after, 0);
  EXPECT_GT(nearest(free.vertices[points]) - start, 0.4);

  RepairMesh bound = folded();
  const PointTree tree(patches);
  const NormalAgreement r = agree_with_point_normals(bound, points, 0, nullptr, &tree);
  EXPECT_EQ(r.moves, 0);
  EXPECT_EQ(r.regions.regions, 1);
  EXPECT_EQ(r.against_after, 0);
  EXPECT_EQ(faces_against_point_normals(bound, points), 0);
  EXPECT_EQ(bound.vertices.size(), points);
}

TEST(NormalAgreement, FoldedFaceOfThreePointsIsFlippedTowardsAnAddedVertexBesideIt) {
  // Points a, b, c (normals +z) in a face that faces -z, folded under the face (b, a, d) of an
  // added vertex d. No flip alone helps; flipped towards d, both new faces hold d, which then
  // moves out beyond c.
  const auto folded = [](bool with_added) {
    RepairMesh m;
    m.vertices = {{0, 0, 0}, {1, 0, 0}, {0.5, -0.6, 0}, {0.5, -0.3, 0.1}};
    m.normals.assign(4, Point3D(0, 0, 1));
    m.colors.assign(4, {});
    m.faces = {{0, 1, 2}};
    if (with_added) m.faces.push_back({1, 0, 3});
    return m;
  };
  RepairMesh m = folded(true);
  ASSERT_EQ(faces_against_point_normals(m, 3), 1);
  const NormalAgreement r = agree_with_point_normals(m, 3);
  EXPECT_EQ(r.flips, 1);
  EXPECT_EQ(r.moves, 1);
  EXPECT_EQ(r.against_after, 0);
  EXPECT_EQ(faces_against_point_normals(m, 3), 0);
  for (const auto& f : m.faces) EXPECT_TRUE(f.x == 3 || f.y == 3 || f.z == 3);
  EXPECT_LT(m.vertices[3].y, -0.6);
  EXPECT_EQ(m.vertices[2], Point3D(0.5, -0.6, 0));

  // Without the added vertex nothing can turn the face: it stays as it is.
  RepairMesh alone = folded(false);
  const NormalAgreement kept = agree_with_point_normals(alone, 3);
  EXPECT_EQ(kept.against_after, 1);
  EXPECT_EQ(alone.faces, folded(false).faces);
  EXPECT_EQ(alone.vertices, folded(false).vertices);
}

TEST(NormalAgreement, DiscAroundAFoldIsRetriangulatedOverItsRim) {
  // A dart of four points a, b, c, d (normals +z; d is its reflex corner) fanned around an
  // added vertex m far outside it: two faces face -z, and m cannot move that far. A flip mends
  // one; the disc of m's three faces left is re-triangulated over its rim, and m, left without
  // faces, is removed.
  RepairMesh m;
  m.vertices = {{0, 0, 0}, {4, 0, 0}, {2, 4, 0}, {2, 1, 0}, {-6, 2, 0}};
  m.normals.assign(5, Point3D(0, 0, 1));
  m.colors = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}, {5, 5, 5}};
  m.faces = {{0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}};
  ASSERT_EQ(faces_against_point_normals(m, 4), 2);
  const NormalAgreement r = agree_with_point_normals(m, 4);
  EXPECT_EQ(r.moves, 0);
  EXPECT_EQ(r.flips, 1);
  EXPECT_EQ(r.regions.regions, 1);
  EXPECT_EQ(r.regions.vertices_dropped, 1);
  EXPECT_EQ(r.against_after, 0);
  EXPECT_EQ(faces_against_point_normals(m, 4), 0);
  ASSERT_EQ(m.vertices.size(), 4u);
  EXPECT_EQ(m.colors.size(), 4u);
  EXPECT_EQ(m.normals.size(), 4u);
  EXPECT_EQ(m.vertices[3], Point3D(2, 1, 0));
  EXPECT_EQ(m.colors[3], (Coord3D<unsigned char>(4, 4, 4)));
  // The rim keeps its direction: each rim edge once, the one new edge both ways.
  std::map<std::pair<long long, long long>, int> uses;
  for (const auto& f : m.faces)
    for (int k = 0; k < 3; ++k) ++uses[{f[k], f[(k + 1) % 3]}];
  for (const auto& e : {std::pair<long long, long long>{0, 1}, {1, 2}, {2, 3}, {3, 0}}) EXPECT_EQ(uses[e], 1);
  EXPECT_EQ(m.faces.size(), 2u);

  // Where m is one the step may not remove (made before the patches), its disc stays.
  RepairMesh kept = m;
  kept.vertices = {{0, 0, 0}, {4, 0, 0}, {2, 4, 0}, {2, 1, 0}, {-6, 2, 0}};
  kept.normals.assign(5, Point3D(0, 0, 1));
  kept.colors.assign(5, {});
  kept.faces = {{0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}};
  const NormalAgreement k = agree_with_point_normals(kept, 4, 5);
  EXPECT_EQ(k.regions.regions, 0);
  EXPECT_EQ(k.against_after, 1);
  EXPECT_EQ(kept.vertices.size(), 5u);
  EXPECT_EQ(kept.faces.size(), 4u);

  // Where m is a point, off the surface the others span, the disc takes it in all the same: it
  // is left without faces, but keeps its place, index and colour. Not where m is more than
  // half of what is left of a detached piece.
  RepairMesh off = kept;
  off.colors = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}, {5, 5, 5}};
  RepairMesh limb = off;
  const std::vector<int> alone = {-1, -1, -1, -1, 0}, with_three = {0, 0, -1, 0, 0};
  EXPECT_EQ(agree_with_point_normals(limb, 5, 0, &alone).against_after, 1);
  EXPECT_EQ(limb.faces.size(), 4u);
  const NormalAgreement o = agree_with_point_normals(off, 5, 0, &with_three);
  EXPECT_EQ(o.regions.regions, 1);
  EXPECT_EQ(o.regions.points_dropped, 1);
  EXPECT_EQ(o.regions.vertices_dropped, 0);
  EXPECT_EQ(o.against_after, 0);
  EXPECT_EQ(faces_against_point_normals(off, 5), 0);
  ASSERT_EQ(off.vertices.size(), 5u);
  EXPECT_EQ(off.vertices[4], Point3D(-6, 2, 0));
  EXPECT_EQ(off.colors[4], (Coord3D<unsigned char>(5, 5, 5)));
  EXPECT_EQ(off.faces.size(), 2u);
  for (const auto& f : off.faces) EXPECT_TRUE(f.x != 4 && f.y != 4 && f.z != 4);
}

TEST(NormalAgreement, FanAroundANewVertexMendsWhatNoTriangulationOfTheRimCan) {
  // A square of points whose normals lean outwards and a little down, as on the rim of a cap
  // seen from inside: every triangle over the corners faces against them, whichever diagonal.
  // Faces from each side up to a vertex over the middle face along both their corners' normals.
  RepairMesh m;
  m.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  for (const Point3D& v : m.vertices) {
    const Point3D out(v.x - 0.5, v.y - 0.5, -0.1);
    m.normals.push_back(out / std::sqrt(norm2(out)));
  }
  m.colors = {{10, 0, 0}, {20, 0, 0}, {30, 0, 0}, {40, 0, 0}};
  m.faces = {{0, 1, 2}, {0, 2, 3}};
  ASSERT_EQ(faces_against_point_normals(m, 4), 2);
  const NormalAgreement r = agree_with_point_normals(m, 4);
  EXPECT_EQ(r.regions.fans, 1);
  EXPECT_EQ(r.against_after, 0);
  EXPECT_EQ(faces_against_point_normals(m, 4), 0);
  ASSERT_EQ(m.vertices.size(), 5u);
  EXPECT_GT(m.vertices[4].z, 0.0);
  EXPECT_LT(std::hypot(m.vertices[4].x - 0.5, m.vertices[4].y - 0.5), 0.5);
  EXPECT_EQ(m.colors.size(), 5u);
  EXPECT_EQ(m.colors[4], (Coord3D<unsigned char>(25, 0, 0)));
  ASSERT_EQ(m.faces.size(), 4u);
  for (const auto& f : m.faces) EXPECT_TRUE(f.x == 4 || f.y == 4 || f.z == 4);
  for (long long v = 0; v < 4; ++v)  // the rim stays as it was
    EXPECT_EQ(std::count_if(m.faces.begin(), m.faces.end(), [&](const auto& f) { return f.x == v || f.y == v || f.z == v; }),
              2);
}

TEST(NormalAgreement, FoldInsideAPatchIsRetriangulated) {
  // Four added vertices (normals +z, spread from the points around) in a dart whose diagonal
  // from its reflex corner d is missing: the face (a, c, d) faces -z. With the other diagonal
  // both faces face +z.
  const std::vector<Point3D> at = {{0, 0, 0}, {4, 0, 0}, {2, 4, 0}, {2, 1, 0}};
  const std::vector<Point3D> normals(4, Point3D(0, 0, 1));
  const std::vector<char> no(4, 0), yes(4, 1);
  std::vector<Coord3D<long long>> faces = {{0, 1, 2}, {0, 2, 3}};
  const RegionRetriangulation r = retriangulate_against(at, normals, no, yes, yes, faces);
  EXPECT_EQ(r.regions, 1);
  ASSERT_EQ(faces.size(), 2u);
  for (const auto& f : faces) {
    EXPECT_GT(cross(at[std::size_t(f.y)] - at[std::size_t(f.x)], at[std::size_t(f.z)] - at[std::size_t(f.x)]).z, 0.0);
    EXPECT_TRUE(f.x == 3 || f.y == 3 || f.z == 3);
  }
  // Where b and d already share an edge in faces of the mesh outside these (the part lies at
  // the border of what the stage looks at), that diagonal would give the edge four faces: the
  // fold stays.
  std::vector<Coord3D<long long>> bordered = {{0, 1, 2}, {0, 2, 3}};
  std::vector<std::vector<long long>> joined_outside(4);
  joined_outside[1] = {3};
  joined_outside[3] = {1};
  EXPECT_EQ(retriangulate_against(at, normals, no, yes, yes, bordered, false, nullptr, nullptr, &joined_outside).regions, 0);
  EXPECT_EQ(bordered, (std::vector<Coord3D<long long>>{{0, 1, 2}, {0, 2, 3}}));
}

TEST(NormalAgreement, DiscsThatWouldPinchTheirRimWaitForASecondEdge) {
  // A patch in the plane (normals +z) tangled by vertices moved across their neighbours, found
  // by a search over jittered grids. Discs grown face by face around its folds pinch their rims
  // (a face joined along one edge whose third corner is on the disc already), and none mends
  // the last fold; grown without pinches, one does.
  const std::vector<Point3D> at = {
      {2.939, -0.130, 0}, {1.951, 1.237, 0}, {4.659, 0.607, 0}, {4.137, 0.807, 0}, {1.232, 1.719, 0},
      {3.549, 2.410, 0},  {2.972, 2.062, 0}, {3.843, 1.772, 0}, {0.881, 3.026, 0}, {2.675, 0.333, 0},
      {2.828, 2.830, 0},  {4.134, 3.096, 0}, {1.136, 3.908, 0}, {2.253, 4.116, 0}, {3.256, 4.063, 0}};
  const std::vector<char> is_point = {1, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1};
  std::vector<char> droppable(at.size());
  for (std::size_t v = 0; v < at.size(); ++v) droppable[v] = !is_point[v];
  const std::vector<char> complete(at.size(), 1);
  const std::vector<Point3D> normals(at.size(), Point3D(0, 0, 1));
  std::vector<Coord3D<long long>> faces = {{0, 2, 1},  {0, 3, 2},  {1, 5, 4},  {1, 2, 5},   {2, 3, 6},
                                           {3, 7, 6},  {4, 5, 9},  {4, 9, 8},  {6, 10, 9},  {6, 7, 11},
                                           {6, 11, 10}, {8, 9, 12}, {9, 13, 12}, {9, 10, 14}, {9, 14, 13}};
  const auto down = [&] {
    int n = 0;
    for (const auto& f : faces)
      n += cross(at[std::size_t(f.y)] - at[std::size_t(f.x)], at[std::size_t(f.z)] - at[std::size_t(f.x)]).z < 0.0;
    return n;
  };
  ASSERT_GT(down(), 0);
  const RegionRetriangulation r = retriangulate_against(at, normals, is_point, droppable, complete, faces);
  EXPECT_GT(r.regions, 0);
  EXPECT_EQ(down(), 0);
}

// Faces of a patch in the plane z = 0 that face -z.
int facing_down(const std::vector<Point3D>& at, const std::vector<Coord3D<long long>>& faces) {
  int n = 0;
  for (const auto& f : faces)
    n += cross(at[std::size_t(f.y)] - at[std::size_t(f.x)], at[std::size_t(f.z)] - at[std::size_t(f.x)]).z < 0.0;
  return n;
}

// A 4 x 4 grid of points in the plane (normals +z) whose inner four have all their faces known:
// re-triangulated as the closing step does, with the grid's outer rim kept, each edge once in its
// direction.
RegionRetriangulation retriangulate_grid(const std::vector<Point3D>& at, std::vector<Coord3D<long long>>& faces) {
  const std::vector<Point3D> normals(at.size(), Point3D(0, 0, 1));
  const std::vector<char> is_point(at.size(), 1), droppable(at.size(), 1);
  std::vector<char> complete(at.size(), 0);
  for (const int v : {5, 6, 9, 10}) complete[std::size_t(v)] = 1;
  const RegionRetriangulation r = retriangulate_against(at, normals, is_point, droppable, complete, faces);
  std::map<std::pair<long long, long long>, int> uses;
  for (const auto& f : faces)
    for (int k = 0; k < 3; ++k) ++uses[{f[k], f[(k + 1) % 3]}];
  for (const auto& e : std::vector<std::pair<long long, long long>>{
           {0, 1}, {1, 2}, {2, 3}, {3, 7}, {7, 11}, {11, 15}, {15, 14}, {14, 13}, {13, 12}, {12, 8}, {8, 4}, {4, 0}})
    EXPECT_EQ(uses[e], 1);
  return r;
}

TEST(NormalAgreement, PointPulledAcrossItsNeighboursLeavesTheMeshWithItsFaces) {
  // Grids found by a search over jittered ones. In the first, point 5 lies beyond its neighbour
  // 7 and two of its faces face -z: every disc grown across edges around them leaves a face
  // against the normals; the disc of 5's own faces does not.
  std::vector<Point3D> at = {{0.019, -0.217, 0}, {1.062, -0.196, 0}, {1.786, -0.136, 0}, {3.145, 0.114, 0},
                             {-0.131, 0.953, 0}, {3.567, 0.947, 0},  {1.909, 1.027, 0},  {3.176, 0.932, 0},
                             {0.120, 2.076, 0},  {0.848, 2.232, 0},  {1.992, 2.016, 0},  {2.760, 2.006, 0},
                             {-0.204, 2.999, 0}, {0.821, 3.206, 0},  {1.962, 3.066, 0},  {2.755, 2.870, 0}};
  std::vector<Coord3D<long long>> faces = {{0, 1, 5},  {0, 5, 4},   {1, 2, 5},   {2, 6, 5},   {2, 3, 6},   {3, 7, 6},
                                           {4, 5, 8},  {5, 9, 8},   {5, 6, 10},  {5, 10, 9},  {6, 7, 11},  {6, 11, 10},
                                           {8, 9, 12}, {9, 13, 12}, {9, 10, 13}, {10, 14, 13}, {10, 11, 15}, {10, 15, 14}};
  ASSERT_EQ(facing_down(at, faces), 2);
  RegionRetriangulation r = retriangulate_grid(at, faces);
  EXPECT_EQ(facing_down(at, faces), 0);
  EXPECT_EQ(r.points_dropped, 1);
  for (const auto& f : faces) EXPECT_TRUE(f.x != 5 && f.y != 5 && f.z != 5);

  // In the second, point 5 lies beyond 8 and 12, and five faces face -z. The discs of the fans
  // at their corners leave two; those fans grown by the faces at their vertices leave none.
  at = {{0.033, -0.160, 0}, {1.235, -0.125, 0}, {2.089, -0.242, 0}, {3.126, 0.195, 0},
        {0.122, 0.966, 0},  {-0.654, 2.245, 0}, {2.103, 0.912, 0},  {2.859, 1.012, 0},
        {0.189, 1.826, 0},  {1.180, 2.191, 0},  {0.354, 3.096, 0},  {3.204, 1.765, 0},
        {-0.010, 2.802, 0}, {1.145, 2.906, 0},  {2.009, 3.195, 0},  {2.814, 2.892, 0}};
  faces = {{0, 1, 5},  {0, 5, 4},   {1, 2, 5},   {2, 6, 5},   {2, 3, 7},    {2, 7, 6},
           {4, 5, 9},  {4, 9, 8},   {5, 6, 9},   {6, 10, 9},  {6, 7, 10},   {7, 11, 10},
           {8, 9, 12}, {9, 13, 12}, {9, 10, 13}, {10, 14, 13}, {10, 11, 15}, {10, 15, 14}};
  ASSERT_EQ(facing_down(at, faces), 5);
  r = retriangulate_grid(at, faces);
  EXPECT_EQ(facing_down(at, faces), 0);
  EXPECT_GT(r.points_dropped, 0);
}

TEST(NormalAgreement, CrumpleOfAPatchIsRetriangulatedOnlyWhenAskedFor) {
  // The same dart, but its added vertices carry no normals: nothing says the face (a, c, d) is
  // folded except that it turns away from the faces around it.
  const std::vector<Point3D> at = {{0, 0, 0}, {4, 0, 0}, {2, 4, 0}, {2, 1, 0}};
  const std::vector<Point3D> normals(4);
  const std::vector<char> no(4, 0), yes(4, 1);
  const std::vector<Coord3D<long long>> dart = {{0, 1, 2}, {0, 2, 3}};
  std::vector<Coord3D<long long>> faces = dart;
  EXPECT_EQ(retriangulate_against(at, normals, no, yes, yes, faces).regions, 0);
  EXPECT_EQ(faces, dart);
  const RegionRetriangulation r = retriangulate_against(at, normals, no, yes, yes, faces, true);
  EXPECT_EQ(r.regions, 1);
  ASSERT_EQ(faces.size(), 2u);
  for (const auto& f : faces)
    EXPECT_GT(cross(at[std::size_t(f.y)] - at[std::size_t(f.x)], at[std::size_t(f.z)] - at[std::size_t(f.x)]).z, 0.0);
}

TEST(NormalAgreement, FacesAreJudgedAlsoAsTheFileWritesThem) {
  // Nearly on edge: along +z at these places (a z component of 1e-7), against it once the mesh
  // file rounds them to six decimals (y 0.000001 and 0.000001 give -1e-6).
  const Point3D a(0, 0, 0), b(1, 6e-7, 0), c(2, 1.3e-6, 0), up(0, 0, 1);
  ASSERT_GT(dot(cross(b - a, c - a), up), 0.0);
  EXPECT_TRUE(faces_against(a, b, c, up));
  EXPECT_FALSE(faces_against(a, Point3D(1, 0, 0), Point3D(0, 1, 0), up));
  EXPECT_TRUE(faces_against(a, Point3D(0, 1, 0), Point3D(1, 0, 0), up));
  // On edge exactly, and along +z as written: 0.2634145 is written 0.263414 (its double lies
  // just below the half), although 0.2634145 * 1e6 rounds onto 263414.5.
  EXPECT_FALSE(faces_against(Point3D(0, 0.263414, 0), Point3D(1, 0.2634145, 0), Point3D(2, 0.263415, 0), up));
}

}  // namespace
}  // namespace tervik
