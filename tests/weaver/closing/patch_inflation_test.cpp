// Lifting a patch onto the points: a flat disc spanning the equator of a sphere of points rises
// towards the missing cap it faces, stays inside the sphere and turns no face over; where the
// points lie behind it, or face the other way, it stays put. A disc hanging over a trench, whose
// walls face each other, is lowered onto the trench's floor.
#include "weaver/closing/patch_inflation.h"

#include <cstdint>

#include <gtest/gtest.h>

#include "weaver/mesh_fixtures.h"

namespace tervik {
namespace {

constexpr int kRings = 8, kAround = 32;

// Vertices of the small detached fan that flat_disc can add.
constexpr int kFanVertices = 7;

// A unit disc in the plane z = 0, facing +z (or -z with `down`): its rim ring comes first (old
// vertices), then the inner rings and the centre (new vertices, numbered from kAround on). With
// `fan`, a small fan of kFanVertices new vertices that touches no old one (so no ray is cast
// from it) comes between the rim and the inner rings, deep inside the sphere below the disc.
HoleMesh flat_disc(bool down, bool fan = false) {
  HoleMesh hm;
  const auto face = [&](HoleMesh::VertexHandle a, HoleMesh::VertexHandle b, HoleMesh::VertexHandle c) {
    if (down) hm.add_face(a, c, b);
    else hm.add_face(a, b, c);
  };
  std::vector<std::vector<HoleMesh::VertexHandle>> ring(kRings + 1);
  for (int k = kRings; k >= 1; --k) {
    for (int i = 0; i < kAround; ++i) {
      const double a = 2.0 * M_PI * i / kAround, r = double(k) / kRings;
      ring[std::size_t(k)].push_back(hm.add_vertex({r * std::cos(a), r * std::sin(a), 0.0}));
    }
    if (k == kRings && fan) {
      const auto middle = hm.add_vertex({0.0, 0.0, -0.5});
      std::vector<HoleMesh::VertexHandle> around;
      for (int i = 0; i + 1 < kFanVertices; ++i) {
        const double a = 2.0 * M_PI * i / (kFanVertices - 1);
        around.push_back(hm.add_vertex({0.05 * std::cos(a), 0.05 * std::sin(a), -0.5}));
      }
      for (std::size_t i = 0; i < around.size(); ++i) face(middle, around[i], around[(i + 1) % around.size()]);
    }
  }
  const auto centre = hm.add_vertex({0.0, 0.0, 0.0});
  for (int i = 0; i < kAround; ++i) {
    const std::size_t j = std::size_t(i), next = std::size_t((i + 1) % kAround);
    face(centre, ring[1][j], ring[1][next]);
    for (std::size_t k = 1; k < kRings; ++k) {
      face(ring[k][j], ring[k + 1][j], ring[k + 1][next]);
      face(ring[k][j], ring[k + 1][next], ring[k][next]);
    }
  }
  return hm;
}

enum class Facing { outward, inward, sideways };

// A normal tilted far towards +x: within 60 degrees of the outward one nowhere on the sphere.
Point3D sideways(const Point3D& p) {
  const Point3D n = p + Point3D(2.0, 0.0, 0.0);
  return n / norm(n);
}

// The unit sphere's points, normals outward, inward or tilted sideways,
// without the lower or upper half where `keep_z` is +1 or -1 (0: all).
std::vector<Patch> sphere_points(int keep_z, Facing facing) {
  std::vector<Patch> points;
  const RepairMesh sphere = testing::unit_sphere(4);
  for (const Point3D& p : sphere.vertices) {
    if (keep_z != 0 && p.z * keep_z <= -0.05) continue;
    const Point3D n = facing == Facing::outward ? p : facing == Facing::inward ? p * -1.0 : sideways(p);
    points.push_back({p, n});
  }
  return points;
}

bool no_face_turned_over(const HoleMesh& hm, double z_sign) {
  for (auto f : hm.faces()) {
    auto it = hm.cfv_iter(f);
    const auto a = hm.point(*it), b = hm.point(*++it), c = hm.point(*++it);
    if (OpenMesh::cross(b - a, c - a)[2] * z_sign <= 0.0) return false;
  }
  return true;
}

TEST(PatchInflation, DiscRisesTowardsTheCapItFacesAndStaysInsideTheSphere) {
  HoleMesh hm = flat_disc(false);
  const auto result = inflate_patches(hm, kAround, sphere_points(0, Facing::outward), 1.0 / kRings);
  EXPECT_GT(result.vertices_moved, 0);
  const auto centre = HoleMesh::VertexHandle(int(hm.n_vertices() - 1));
  EXPECT_GT(hm.point(centre)[2], 0.85);  // the sphere's top is at 1
  for (auto v : hm.vertices()) {
    EXPECT_LT(hm.point(v).norm(), 1.02);
    if (v.idx() < kAround) EXPECT_EQ(hm.point(v)[2], 0.0);  // the rim stays
    else EXPECT_GT(hm.point(v)[2], 0.0);
  }
  EXPECT_TRUE(no_face_turned_over(hm, 1.0));
  // Facing down, the disc rises into the lower cap alike.
  HoleMesh below = flat_disc(true);
  inflate_patches(below, kAround, sphere_points(0, Facing::outward), 1.0 / kRings);
  EXPECT_LT(below.point(HoleMesh::VertexHandle(int(below.n_vertices() - 1)))[2], -0.85);
  EXPECT_TRUE(no_face_turned_over(below, -1.0));
}

TEST(PatchInflation, PatchWithoutRaysStaysAndLeavesTheOthersLiftingAsItIs) {
  // The fan's vertices lie between the disc's rim and its inner vertices in number; none of them
  // is joined to the rim, so none casts a ray or takes a rise from one that did.
  const std::vector<Patch> points = sphere_points(0, Facing::outward);
  HoleMesh plain = flat_disc(false), with_fan = flat_disc(false, true);
  const HoleMesh before = flat_disc(false, true);
  const auto a = inflate_patches(plain, kAround, points, 1.0 / kRings);
  const auto b = inflate_patches(with_fan, kAround, points, 1.0 / kRings);
  EXPECT_GT(a.vertices_moved, 0);
  EXPECT_EQ(a.vertices_moved, b.vertices_moved);
  EXPECT_EQ(a.vertices_kept, b.vertices_kept);
  ASSERT_EQ(with_fan.n_vertices(), plain.n_vertices() + kFanVertices);
  for (auto v : with_fan.vertices()) {
    const int i = v.idx();
    if (i >= kAround && i < kAround + kFanVertices) EXPECT_EQ(with_fan.point(v), before.point(v));
    else EXPECT_EQ(with_fan.point(v), plain.point(HoleMesh::VertexHandle(i < kAround ? i : i - kFanVertices)));
  }
}

TEST(PatchInflation, DiscStaysWhereNoPointsFaceItsWayAhead) {
  const HoleMesh flat = flat_disc(false);
  const auto unchanged = [&](const HoleMesh& hm) {
    for (auto v : hm.vertices())
      if (hm.point(v) != flat.point(v)) return false;
    return true;
  };
  // Only the lower half's points: the ray upwards meets nothing.
  HoleMesh hm = flat_disc(false);
  EXPECT_EQ(inflate_patches(hm, kAround, sphere_points(-1, Facing::outward), 1.0 / kRings).vertices_moved, 0);
  EXPECT_TRUE(unchanged(hm));
  // The silhouettes still show the upper cap: the rays that met no point rise to where it ends,
  // and the rest follow; where no camera sees the background anywhere, nothing ends.
  const InsideTest in_sphere = [](const Point3D& p) { return norm(p) <= 1.0; };
  hm = flat_disc(false);
  EXPECT_GT(inflate_patches(hm, kAround, sphere_points(-1, Facing::outward), 1.0 / kRings, nullptr, nullptr,
                            in_sphere).vertices_moved, 0);
  EXPECT_GT(hm.point(HoleMesh::VertexHandle(int(hm.n_vertices() - 1)))[2], 0.85);
  for (auto v : hm.vertices()) EXPECT_TRUE(in_sphere(to_point(hm.point(v)))) << "vertex " << v.idx();
  EXPECT_TRUE(no_face_turned_over(hm, 1.0));
  hm = flat_disc(false);
  inflate_patches(hm, kAround, sphere_points(-1, Facing::outward), 1.0 / kRings, nullptr, nullptr,
                  [](const Point3D&) { return true; });
  EXPECT_TRUE(unchanged(hm));
  // The upper half's points facing inward: the ray meets the surface from outside.
  hm = flat_disc(false);
  EXPECT_EQ(inflate_patches(hm, kAround, sphere_points(1, Facing::inward), 1.0 / kRings).vertices_moved, 0);
  EXPECT_TRUE(unchanged(hm));
  // Points facing sideways: a surface met at a slant is no place to land.
  hm = flat_disc(false);
  EXPECT_EQ(inflate_patches(hm, kAround, sphere_points(0, Facing::sideways), 1.0 / kRings).vertices_moved, 0);
  EXPECT_TRUE(unchanged(hm));
}

// A trench under the disc (which lies at z = 0, facing +z): a floor at z = -0.6 facing up and
// walls at x = +-0.6 from the floor up to z = -0.15, facing into the trench, or away from it
// (then the disc lies inside a slab of the object), or no walls at all.
enum class Walls { facing, away, none };
std::vector<Patch> trench_points(Walls walls) {
  std::vector<Patch> points;
  for (double y = -1.0; y <= 1.0; y += 0.05) {
    for (double x = -0.55; x <= 0.56; x += 0.05) points.push_back({{x, y, -0.6}, {0.0, 0.0, 1.0}});
    if (walls == Walls::none) continue;
    const double in = walls == Walls::facing ? 1.0 : -1.0;
    for (double z = -0.6; z <= -0.149; z += 0.05) {
      points.push_back({{-0.6, y, z}, {in, 0.0, 0.0}});
      points.push_back({{0.6, y, z}, {-in, 0.0, 0.0}});
    }
  }
  return points;
}

TEST(PatchInflation, DiscHangingBetweenFacingWallsIsLoweredOntoTheFloor) {
  HoleMesh hm = flat_disc(false);
  const auto result = inflate_patches(hm, kAround, trench_points(Walls::facing), 1.0 / kRings);
  EXPECT_GT(result.vertices_moved, 0);
  const auto centre = HoleMesh::VertexHandle(int(hm.n_vertices() - 1));
  // The centre's ray lands on the floor's plane, neither short of it nor through it.
  EXPECT_NEAR(hm.point(centre)[2], -0.6, 0.02);
  for (auto v : hm.vertices()) {
    if (v.idx() < kAround) EXPECT_EQ(hm.point(v)[2], 0.0);  // the rim stays
    else EXPECT_LE(hm.point(v)[2], 0.0);
  }
  EXPECT_TRUE(no_face_turned_over(hm, 1.0));
  // Walls facing away from the disc, or none: nothing says the disc hangs outside the object.
  for (const Walls walls : {Walls::away, Walls::none}) {
    HoleMesh still = flat_disc(false);
    EXPECT_EQ(inflate_patches(still, kAround, trench_points(walls), 1.0 / kRings).vertices_moved, 0);
    EXPECT_EQ(still.point(centre)[2], 0.0);
  }
}

TEST(PatchInflation, RenumberedTreeGivesTheSameLiftingAsAFreshOne) {
  for (const bool down : {false, true}) {
    const std::vector<Patch> points = sphere_points(0, Facing::outward);
    HoleMesh own = flat_disc(down), reused = flat_disc(down);
    PointTree tree(points);
    const std::vector<std::uint32_t> point_of = tree.renumber();
    const auto a = inflate_patches(own, kAround, points, 1.0 / kRings);
    const auto b = inflate_patches(reused, kAround, points, 1.0 / kRings, &tree, &point_of);
    EXPECT_GT(a.vertices_moved, 0);
    EXPECT_EQ(a.vertices_moved, b.vertices_moved);
    EXPECT_EQ(a.vertices_kept, b.vertices_kept);
    for (auto v : own.vertices()) EXPECT_EQ(own.point(v), reused.point(v));
  }
}

// After lifting, a fold in the patch (a vertex pushed across its neighbour, as rays of different
// rises leave it) is flipped away, the mesh's faces follow hm's, and the faces before
// `first_new_face` are left as they are.
TEST(PatchInflation, LiftedCreasesAreFlippedAndTheMeshFollows) {
  // How many faces of hm face down (the disc faces +z).
  const auto down = [](const HoleMesh& hm) {
    int n = 0;
    for (auto f : hm.faces()) {
      auto it = hm.cfv_iter(f);
      const auto a = hm.point(*it), b = hm.point(*++it), c = hm.point(*++it);
      n += OpenMesh::cross(b - a, c - a)[2] < 0.0;
    }
    return n;
  };
  const auto folded = [] {
    HoleMesh hm = flat_disc(false);
    // A vertex of the third ring pushed past the next ring's vertex outside it: the face
    // between them turns over.
    const HoleMesh::VertexHandle v(int((kRings - 3) * kAround));
    hm.set_point(v, hm.point(v) * 1.6 + OpenMesh::Vec3d(0.0, 0.0, 0.02));
    return hm;
  };
  HoleMesh hm = folded();
  ASSERT_GT(down(hm), 0);
  RepairMesh mesh;
  from_hole_mesh(hm, mesh);
  mesh.normals.assign(mesh.vertices.size(), Point3D(0.0, 0.0, 1.0));
  const std::size_t faces = hm.n_faces();
  EXPECT_GT(flip_lifted_creases(hm, mesh, 0), 0);
  EXPECT_EQ(down(hm), 0);
  RepairMesh expected;
  from_hole_mesh(hm, expected);
  EXPECT_EQ(mesh.faces, expected.faces);
  EXPECT_EQ(mesh.vertices, expected.vertices);
  EXPECT_EQ(hm.n_faces(), faces);
  // The same fold among faces that are not the patch's stays.
  HoleMesh kept = folded();
  RepairMesh untouched;
  from_hole_mesh(kept, untouched);
  untouched.normals.assign(untouched.vertices.size(), Point3D(0.0, 0.0, 1.0));
  const auto before = untouched.faces;
  EXPECT_EQ(flip_lifted_creases(kept, untouched, kept.n_faces()), 0);
  EXPECT_EQ(untouched.faces, before);
  EXPECT_GT(down(kept), 0);
}

}  // namespace
}  // namespace tervik
