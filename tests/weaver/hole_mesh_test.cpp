// The half-edge mesh built from a face list: the direct construction and its fallback.
#include "weaver/hole_mesh.h"

#include <gtest/gtest.h>

#include "weaver/mesh_fixtures.h"

namespace tervik {
namespace {

// Face i of hm has the vertices of mesh face i, in the same cyclic order.
void expect_same_faces(const HoleMesh& hm, const RepairMesh& m) {
  ASSERT_EQ(hm.n_faces(), m.faces.size());
  for (auto f : hm.faces()) {
    std::vector<long long> got;
    for (auto v : hm.fv_range(f)) got.push_back(v.idx());
    const auto& want = m.faces[std::size_t(f.idx())];
    int k = 0;
    while (k < 3 && want[k] != got[0]) ++k;
    ASSERT_LT(k, 3);
    EXPECT_EQ(got[1], want[(k + 1) % 3]);
    EXPECT_EQ(got[2], want[(k + 2) % 3]);
  }
}

TEST(HoleMesh, OpenSphereKeepsFaceOrderAndBoundary) {
  RepairMesh m = testing::unit_sphere(3);
  testing::cut_cap(m, 0.5);
  long refused = -1;
  const HoleMesh hm = to_hole_mesh(m, refused);
  EXPECT_EQ(refused, 0);
  expect_same_faces(hm, m);
  long boundary = 0, loops = 0;
  for (auto h : hm.halfedges()) {
    if (!hm.is_boundary(h)) continue;
    ++boundary;
    // The boundary continues at the next vertex, and that vertex knows it is on the boundary.
    EXPECT_EQ(hm.from_vertex_handle(hm.next_halfedge_handle(h)), hm.to_vertex_handle(h));
    EXPECT_TRUE(hm.is_boundary(hm.halfedge_handle(hm.to_vertex_handle(h))));
  }
  std::vector<char> seen(hm.n_halfedges(), 0);
  for (auto h : hm.halfedges()) {
    if (!hm.is_boundary(h) || seen[std::size_t(h.idx())]) continue;
    ++loops;
    for (auto g = h; !seen[std::size_t(g.idx())]; g = hm.next_halfedge_handle(g)) seen[std::size_t(g.idx())] = 1;
  }
  EXPECT_EQ(boundary, testing::topology(m.faces).boundary);
  EXPECT_EQ(loops, 1);
  for (auto v : hm.vertices()) EXPECT_TRUE(hm.is_manifold(v));
}

TEST(HoleMesh, FacesBreakingTheStructureAreRefused) {
  RepairMesh m = testing::unit_sphere(1);
  const std::size_t faces = m.faces.size();
  // A face repeating one of the sphere's (same direction): its edges already have a face on
  // that side, so the direct construction gives way to face-by-face insertion, which drops it.
  m.faces.push_back(m.faces[3]);
  long refused = 0;
  const HoleMesh hm = to_hole_mesh(m, refused);
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(hm.n_faces(), faces);

  // Two octahedra that share a vertex: every edge is fine, but the shared vertex has two fans;
  // the second one's faces there cannot join.
  RepairMesh two = testing::unit_sphere(0);
  const RepairMesh other = testing::unit_sphere(0);
  const long long offset = static_cast<long long>(two.vertices.size()) - 1;
  for (std::size_t i = 1; i < other.vertices.size(); ++i) two.vertices.push_back(other.vertices[i] + Point3D(2, 0, 0));
  const auto shifted = [&](long long v) { return v == 0 ? 0 : v + offset; };
  for (const auto& f : other.faces) two.faces.emplace_back(shifted(f.x), shifted(f.y), shifted(f.z));
  const HoleMesh joined = to_hole_mesh(two, refused);
  EXPECT_EQ(refused, 4);
  for (auto v : joined.vertices()) EXPECT_TRUE(joined.is_manifold(v));
}

}  // namespace
}  // namespace tervik
