// Closing holes: the loop triangulations, and whole holes closed in a sphere.
#include "weaver/hole_filling.h"

#include <gtest/gtest.h>

#include "weaver/mesh_fixtures.h"

namespace tervik {
namespace {

TEST(HoleFilling, CapOfSphereIsClosedSmoothlyAndOutward) {
  RepairMesh m = testing::unit_sphere(4);  // 2048 faces, edges of about 0.1
  testing::cut_cap(m, 0.8);
  const std::size_t kept = m.faces.size(), old_vertices = m.vertices.size();
  ASSERT_GT(testing::topology(m.faces).boundary, 20);
  const HoleFilling r = fill_holes(m);
  EXPECT_EQ(r.holes_closed, 1);
  EXPECT_EQ(r.holes_left, 0);
  EXPECT_EQ(r.faces_refused, 0);
  EXPECT_EQ(long(m.faces.size() - kept), r.faces_added);
  EXPECT_EQ(long(m.vertices.size() - old_vertices), r.vertices_added);
  const testing::Topology t = testing::topology(m.faces);
  EXPECT_EQ(t.boundary, 0);
  EXPECT_EQ(t.nonmanifold, 0);
  EXPECT_EQ(t.inconsistent, 0);
  EXPECT_EQ(t.euler, 2);
  double worst = 0.0;
  for (std::size_t v = old_vertices; v < m.vertices.size(); ++v)
    worst = std::max(worst, std::fabs(norm(m.vertices[v]) - 1.0));
  EXPECT_LT(worst, 0.21);  // the membrane spans the cap (height 0.2) from its rim
  for (std::size_t f = kept; f < m.faces.size(); ++f) {
    const Point3D a = m.vertices[std::size_t(m.faces[f].x)], b = m.vertices[std::size_t(m.faces[f].y)],
                  c = m.vertices[std::size_t(m.faces[f].z)];
    EXPECT_GT(dot(cross(b - a, c - a), a + b + c), 0.0) << "face " << f;
    EXPECT_LT(std::max({norm(b - a), norm(c - b), norm(a - c)}), 0.25) << "face " << f;
  }
}

}  // namespace
}  // namespace tervik
