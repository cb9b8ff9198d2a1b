// Carving patches into the silhouettes: a flat disc spanning a bowl-shaped dent in the object
// (a web across a gap, as the cameras see it) sinks into the dent, every new vertex inside, its
// long chords split and the rim where it was; where the cameras see the object everywhere nothing moves, and a vertex
// with no place inside within reach keeps its own.
#include "weaver/closing/silhouette_carving.h"

#include <cmath>

#include <gtest/gtest.h>

namespace tervik {
namespace {

constexpr int kBowlRings = 8, kBowlAround = 32;

// A unit disc in the plane z = 0, facing +z: its rim ring comes first (old vertices), then the
// inner rings and the centre (new vertices, numbered from kBowlAround on).
HoleMesh disc_over_bowl() {
  HoleMesh hm;
  std::vector<std::vector<HoleMesh::VertexHandle>> ring(kBowlRings + 1);
  for (int k = kBowlRings; k >= 1; --k)
    for (int i = 0; i < kBowlAround; ++i) {
      const double a = 2.0 * M_PI * i / kBowlAround, r = double(k) / kBowlRings;
      ring[std::size_t(k)].push_back(hm.add_vertex({r * std::cos(a), r * std::sin(a), 0.0}));
    }
  const auto centre = hm.add_vertex({0.0, 0.0, 0.0});
  for (int i = 0; i < kBowlAround; ++i) {
    const std::size_t j = std::size_t(i), next = std::size_t((i + 1) % kBowlAround);
    hm.add_face(centre, ring[1][j], ring[1][next]);
    for (std::size_t k = 1; k < kBowlRings; ++k) {
      hm.add_face(ring[k][j], ring[k + 1][j], ring[k + 1][next]);
      hm.add_face(ring[k][j], ring[k + 1][next], ring[k][next]);
    }
  }
  return hm;
}

// The object lies below a bowl 0.4 deep over the unit disc: the disc's inside hangs over air.
bool below_bowl(const Point3D& p) {
  const double r2 = p.x * p.x + p.y * p.y;
  return p.z <= (r2 < 1.0 ? -0.4 * (1.0 - r2) : 0.0);
}

// Carves `hm`, all of whose faces are new, with the vertices of a mesh of its size.
SilhouetteCarving carve_disc(HoleMesh& hm, RepairMesh& mesh, const InsideTest& inside) {
  mesh.colors.assign(hm.n_vertices(), Coord3D<unsigned char>(10, 20, 30));
  mesh.normals.assign(hm.n_vertices(), Point3D(0.0, 0.0, 1.0));
  return carve_patches(hm, mesh, kBowlAround, 0, inside, 1.0 / kBowlRings);
}

TEST(SilhouetteCarving, DiscOverADentSinksIntoItAndNothingMovesWhereTheObjectIsSeen) {
  HoleMesh hm = disc_over_bowl();
  RepairMesh mesh;
  const std::size_t first_new = kBowlAround, centre = hm.n_vertices() - 1;
  const SilhouetteCarving carved = carve_disc(hm, mesh, below_bowl);
  const std::size_t n = hm.n_vertices();
  EXPECT_EQ(carved.vertices_outside, long(centre + 1 - first_new));
  EXPECT_EQ(carved.vertices_moved, long(n - first_new));
  EXPECT_EQ(carved.vertices_kept, 0);
  // The chords of the bowl's outer rings lie over it: they were split, and the vertices made
  // carved in too, with their ends' colour.
  EXPECT_GT(carved.vertices_added, 0);
  EXPECT_EQ(long(n - centre - 1), carved.vertices_added);
  ASSERT_EQ(mesh.vertices.size(), n);
  ASSERT_EQ(mesh.colors.size(), n);
  EXPECT_EQ(mesh.colors.back(), Coord3D<unsigned char>(10, 20, 30));
  EXPECT_EQ(mesh.faces.size(), hm.n_faces());
  for (std::size_t v = 0; v < n; ++v) {
    const Point3D p = to_point(hm.point(HoleMesh::VertexHandle(int(v))));
    if (v < first_new) EXPECT_EQ(p.z, 0.0) << "rim vertex " << v;
    else EXPECT_TRUE(below_bowl(p)) << "vertex " << v << " at z " << p.z;
  }
  // The centre went down to the bowl's floor, not just below the disc, and the patch still faces
  // up everywhere: the relaxation left it a bowl, not a field of spikes.
  EXPECT_LT(hm.point(HoleMesh::VertexHandle(int(centre)))[2], -0.35);
  for (auto f : hm.faces()) {
    auto it = hm.cfv_iter(f);
    const OpenMesh::Vec3d a = hm.point(*it), b = hm.point(*++it), c = hm.point(*++it);
    EXPECT_GT(OpenMesh::cross(b - a, c - a)[2], 0.0) << "face " << f.idx();
  }

  // Seen inside everywhere: nothing to carve.
  HoleMesh seen = disc_over_bowl();
  const SilhouetteCarving none = carve_disc(seen, mesh, [](const Point3D&) { return true; });
  EXPECT_EQ(none.vertices_outside, 0);
  EXPECT_EQ(none.vertices_moved, 0);
  EXPECT_EQ(none.vertices_added, 0);
  // Air for longer than the carving may reach: every vertex keeps its place.
  HoleMesh deep = disc_over_bowl();
  const SilhouetteCarving stuck = carve_disc(deep, mesh, [](const Point3D& p) { return p.z < -2.0; });
  EXPECT_EQ(stuck.vertices_outside, long(centre + 1 - first_new));
  EXPECT_EQ(stuck.vertices_moved, 0);
  EXPECT_EQ(stuck.vertices_added, 0);
  EXPECT_EQ(stuck.vertices_kept, long(centre + 1 - first_new));
  for (auto v : deep.vertices()) EXPECT_EQ(deep.point(v)[2], 0.0);
}

}  // namespace
}  // namespace tervik
