// The last stage of the closing step turns faces against their corners' point normals, and
// never moves a point.
#include "weaver/closing/normal_agreement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <utility>
#include <vector>

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
  // It moved out of the fold, not much past it (the ring's edges are about 1.4 long).
  EXPECT_GT(std::sqrt(dist2(m.vertices[6], before[6])), 0.5);
  EXPECT_LT(std::sqrt(dist2(m.vertices[6], before[6])), 1.5);
}

TEST(NormalAgreement, TentsATriangleWhoseCornersLeanOutwardAndLeavesAReversedOneAlone) {
  // One triangle in the plane z = 0, facing +z. Its corners' normals lean outward and down:
  // their sum points down, so the face is against them, but a low tent over it has sides that
  // each face along the two normals they hold.
  const auto triangle = [](double lean) {
    RepairMesh m;
    m.vertices = {{0, 0, 0}, {1, 0, 0}, {0.5, std::sqrt(0.75), 0}};
    const Point3D centre = (m.vertices[0] + m.vertices[1] + m.vertices[2]) / 3.0;
    for (const Point3D& v : m.vertices) {
      const Point3D n = (v - centre) * lean + Point3D(0, 0, -1);
      m.normals.push_back(n / norm(n));
    }
    m.colors.assign(3, {30, 60, 90});
    m.faces = {{0, 1, 2}};
    return m;
  };
  RepairMesh leaning = triangle(3.0);
  ASSERT_EQ(faces_against_point_normals(leaning, 3), 1);
  const NormalAgreement r = agree_with_point_normals(leaning, 3);
  EXPECT_EQ(r.splits, 1);
  EXPECT_EQ(r.against_after, 0);
  EXPECT_EQ(faces_against_point_normals(leaning, 3), 0);
  ASSERT_EQ(leaning.faces.size(), 3u);
  ASSERT_EQ(leaning.vertices.size(), 4u);
  // The apex stays within an edge length of the centroid; it takes the corners' colour.
  EXPECT_LT(std::sqrt(dist2(leaning.vertices[3], Point3D(0.5, std::sqrt(0.75) / 3.0, 0.0))), 1.0);
  EXPECT_EQ(leaning.colors[3], (Coord3D<unsigned char>{30, 60, 90}));

  // Normals straight down: no tent's sides can face down, and nothing changes.
  RepairMesh reversed = triangle(0.0);
  const NormalAgreement kept = agree_with_point_normals(reversed, 3);
  EXPECT_EQ(kept.against_after, 1);
  EXPECT_EQ(reversed.faces.size(), 1u);
  EXPECT_EQ(reversed.vertices.size(), 3u);
}

}  // namespace
}  // namespace tervik
