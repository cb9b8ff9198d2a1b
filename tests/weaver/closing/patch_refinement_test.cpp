// Refinement of a hole's patch: flips reach a Delaunay triangulation, splits halve long edges.
#include "weaver/closing/patch_refinement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

namespace tervik {
namespace {

// A convex n-gon in the plane z = 0 (counter-clockwise seen from +z, corners on an ellipse of
// half-axes `a` and 1) closed by a fan from corner 0, every face in patch 0.
struct FanFixture {
  HoleMesh hm;
  RepairMesh mesh;  // colours and normals of the vertices
  OpenMesh::FPropHandleT<int> prop;
  HolePatch patch{0, 1.0, {}, {}, OpenMesh::VPropHandleT<double>(),
                  OpenMesh::EPropHandleT<char>()};

  FanFixture(int n, double a) {
    hm.add_property(prop);
    hm.add_property(patch.scale);
    hm.add_property(patch.queued);
    for (int i = 0; i < n; ++i) {
      const double t = 2.0 * M_PI * i / n;
      const auto v = hm.add_vertex({a * std::cos(t), std::sin(t), 0.0});
      hm.property(patch.scale, v) = 1.0;
      mesh.colors.emplace_back(10 * i, 0, 0);
      mesh.normals.emplace_back(0, 0, 1);
    }
    for (int i = 1; i + 1 < n; ++i) {
      const auto f = hm.add_face(HoleMesh::VertexHandle(0), HoleMesh::VertexHandle(i),
                                 HoleMesh::VertexHandle(i + 1));
      hm.property(prop, f) = 0;
      patch.faces.push_back(f);
    }
  }

  // Whether both faces lie in the patch (the edges normal_flips may flip inside it).
  std::function<bool(HoleMesh::FaceHandle, HoleMesh::FaceHandle)> in_patch() const {
    return [this](HoleMesh::FaceHandle f, HoleMesh::FaceHandle g) {
      return hm.property(prop, f) == patch.id && hm.property(prop, g) == patch.id;
    };
  }

  // The angle at the corner of face side h opposite to its edge.
  double opposite_angle(HoleMesh::HalfedgeHandle h) const {
    const auto a = hm.point(hm.from_vertex_handle(h)), b = hm.point(hm.to_vertex_handle(h));
    const auto c = hm.point(hm.to_vertex_handle(hm.next_halfedge_handle(h)));
    const auto u = a - c, v = b - c;
    return std::acos((u | v) / (u.norm() * v.norm()));
  }
};

TEST(PatchRefinement, NormalFlipsTurnAFoldOverWhereTheFlipHelps) {
  // The square's fan (0 1 2, 0 2 3), warped so that face 0 2 3 faces down while the normals
  // point up; the other diagonal gives two faces facing up.
  const std::vector<OpenMesh::Vec3d> warped = {
      {-0.23, 0.24, -0.28}, {1.3, -0.03, 0.24}, {0.6, 1.19, -0.09}, {0.17, 0.67, -0.07}};
  const auto down_faces = [](const HoleMesh& hm) {
    int count = 0;
    for (auto f : hm.faces()) count += hm.calc_face_normal(f)[2] < 0.0;
    return count;
  };
  FanFixture x(4, 1.0);
  for (int i = 0; i < 4; ++i) x.hm.set_point(HoleMesh::VertexHandle(i), warped[std::size_t(i)]);
  ASSERT_EQ(down_faces(x.hm), 1);
  EXPECT_EQ(normal_flips(x.hm, x.mesh, x.patch.faces, x.in_patch()), 1);
  EXPECT_EQ(down_faces(x.hm), 0);
  EXPECT_TRUE(x.hm.find_halfedge(HoleMesh::VertexHandle(1), HoleMesh::VertexHandle(3)).is_valid());
  // An edge to a face that may not be flipped stays.
  FanFixture y(4, 1.0);
  for (int i = 0; i < 4; ++i) y.hm.set_point(HoleMesh::VertexHandle(i), warped[std::size_t(i)]);
  y.hm.property(y.prop, y.patch.faces[0]) = -1;
  EXPECT_EQ(normal_flips(y.hm, y.mesh, y.patch.faces, y.in_patch()), 0);
  // Allowed between a patch face and one outside it (as on a closed hole's rim), it is flipped.
  const auto either = [&](HoleMesh::FaceHandle f, HoleMesh::FaceHandle g) {
    return y.hm.property(y.prop, f) == 0 || y.hm.property(y.prop, g) == 0;
  };
  EXPECT_EQ(normal_flips(y.hm, y.mesh, y.patch.faces, either), 1);
  EXPECT_EQ(down_faces(y.hm), 0);
  // Normals down: both faces of either diagonal face against them, nothing to gain.
  FanFixture z(4, 1.0);
  for (auto& n : z.mesh.normals) n = Point3D(0, 0, -1);
  EXPECT_EQ(normal_flips(z.hm, z.mesh, z.patch.faces, z.in_patch()), 0);
}

TEST(PatchRefinement, FoldFlipsSmoothACreaseOnlyWhereTheFlipBendsLess) {
  // The square's fan (0 1 2, 0 2 3) with corner 3 pulled into triangle 0 1 2: face 0 2 3 lies
  // folded back on it. The other diagonal gives two faces side by side, both facing up.
  const auto dart = [](FanFixture& x) { x.hm.set_point(HoleMesh::VertexHandle(3), {0.0, 0.5, 0.0}); };
  const auto down_faces = [](const HoleMesh& hm) {
    int count = 0;
    for (auto f : hm.faces()) count += hm.calc_face_normal(f)[2] < 0.0;
    return count;
  };
  FanFixture x(4, 1.0);
  dart(x);
  ASSERT_EQ(down_faces(x.hm), 1);
  EXPECT_EQ(fold_flips(x.hm, x.mesh, x.patch.faces, x.in_patch()), 1);
  EXPECT_EQ(down_faces(x.hm), 0);
  EXPECT_TRUE(x.hm.find_halfedge(HoleMesh::VertexHandle(1), HoleMesh::VertexHandle(3)).is_valid());
  // Not where the edge may not be flipped.
  FanFixture y(4, 1.0);
  dart(y);
  y.hm.property(y.prop, y.patch.faces[0]) = -1;
  EXPECT_EQ(fold_flips(y.hm, y.mesh, y.patch.faces, y.in_patch()), 0);
  // Nor where the normals point down: the flip would turn both faces against them.
  FanFixture z(4, 1.0);
  dart(z);
  for (auto& n : z.mesh.normals) n = Point3D(0, 0, -1);
  EXPECT_EQ(fold_flips(z.hm, z.mesh, z.patch.faces, z.in_patch()), 0);
  // A roof over the diagonal 0-2, its faces 100 degrees apart: the other diagonal makes a
  // valley just as sharp, so the crease stays.
  FanFixture roof(4, 1.0);
  const double drop = std::tan(50.0 * M_PI / 180.0);  // each face 50 degrees off level
  roof.hm.set_point(HoleMesh::VertexHandle(1), {0.0, 1.0, -drop});
  roof.hm.set_point(HoleMesh::VertexHandle(3), {0.0, -1.0, -drop});
  EXPECT_EQ(fold_flips(roof.hm, roof.mesh, roof.patch.faces, roof.in_patch()), 0);
  EXPECT_TRUE(roof.hm.find_halfedge(HoleMesh::VertexHandle(0), HoleMesh::VertexHandle(2)).is_valid());
}

TEST(PatchRefinement, AddedCreasesAreFlippedAwayWhereAFaceBesideThemIsAdded) {
  // An icosahedron with its edge 0-5 flipped to 1-11: the two faces across it meet 63 degrees
  // apart in a dent, where the surface bent 42 degrees at every edge.
  const double t = (1.0 + std::sqrt(5.0)) / 2.0;
  const auto icosahedron = [&] {
    RepairMesh m;
    for (const auto& [x, y, z] : std::vector<std::array<double, 3>>{
             {-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
             {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}}) {
      m.vertices.emplace_back(x, y, z);
      m.normals.emplace_back(x, y, z);
      m.colors.emplace_back(0, 0, 0);
    }
    m.faces = {{0, 11, 1}, {11, 5, 1}, {0, 1, 7}, {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
               {11, 10, 2}, {10, 7, 6}, {7, 1, 8}, {3, 9, 4}, {3, 4, 2}, {3, 2, 6}, {3, 6, 8},
               {3, 8, 9}, {4, 9, 5}, {2, 4, 11}, {6, 2, 10}, {8, 6, 7}, {9, 8, 1}};
    return m;
  };
  const auto has_edge = [](const RepairMesh& m, long long a, long long b) {
    return std::any_of(m.faces.begin(), m.faces.end(), [&](const auto& f) {
      for (int k = 0; k < 3; ++k)
        if (std::min(f[k], f[(k + 1) % 3]) == std::min(a, b) && std::max(f[k], f[(k + 1) % 3]) == std::max(a, b))
          return true;
      return false;
    });
  };
  // Both faces added, or one of them: the dent goes, and every face faces outward.
  for (const std::vector<char>& old : {std::vector<char>(2, 0), std::vector<char>{1, 0}}) {
    RepairMesh m = icosahedron();
    std::vector<char> old_face(m.faces.size(), 1);
    std::copy(old.begin(), old.end(), old_face.begin());
    EXPECT_EQ(flip_added_creases(m, old_face, m.vertices.size()), 1);
    EXPECT_TRUE(has_edge(m, 0, 5));
    EXPECT_FALSE(has_edge(m, 1, 11));
    ASSERT_EQ(m.faces.size(), 20u);
    for (const auto& f : m.faces) {
      const Point3D& a = m.vertices[std::size_t(f.x)];
      const Point3D& b = m.vertices[std::size_t(f.y)];
      const Point3D& c = m.vertices[std::size_t(f.z)];
      EXPECT_GT(dot(cross(b - a, c - a), a + b + c), 0.0);
    }
  }
  // Between kept faces the crease stays.
  RepairMesh kept = icosahedron();
  EXPECT_EQ(flip_added_creases(kept, std::vector<char>(kept.faces.size(), 1), kept.vertices.size()), 0);
  EXPECT_TRUE(has_edge(kept, 1, 11));
}

TEST(PatchRefinement, FlipsTurnAFanIntoADelaunayTriangulation) {
  FanFixture x(16, 2.0);
  quality_flips(x.hm, x.patch, x.prop, {});
  EXPECT_EQ(x.hm.n_faces(), 14u);
  for (auto e : x.hm.edges()) {
    if (x.hm.is_boundary(e)) continue;
    // Delaunay: the two angles facing each inner edge add up to at most pi.
    const double sum = x.opposite_angle(x.hm.halfedge_handle(e, 0)) + x.opposite_angle(x.hm.halfedge_handle(e, 1));
    EXPECT_LE(sum, M_PI + 1e-6);
  }
  EXPECT_LT(x.hm.valence(HoleMesh::VertexHandle(0)), 6u);  // the fan's hub gave its edges away
  for (auto f : x.hm.faces()) EXPECT_GT(x.hm.calc_face_normal(f)[2], 0.0);
  for (auto e : x.hm.edges()) EXPECT_EQ(x.hm.property(x.patch.queued, e), 0);  // list left empty
}

TEST(PatchRefinement, FlipsLeaveATentWhoseOtherDiagonalWouldStandAgainstIt) {
  // Two triangles over the edge (0,0,0)-(1,0,0), bent sharply along it; their normals
  // (0, -0.6, -1.5) and (0, -1.6, 0.2) still agree.
  FanFixture x(3, 1.0);  // only for its properties; its triangle is replaced
  x.hm.clear();
  x.patch.faces.clear();
  const auto a = x.hm.add_vertex({0.0, 0.0, 0.0}), b = x.hm.add_vertex({1.0, 0.0, 0.0});
  const auto c = x.hm.add_vertex({0.3, 1.5, -0.6}), d = x.hm.add_vertex({1.6, 0.2, 1.6});
  for (const auto& f : {std::array{b, a, c}, std::array{a, b, d}}) {
    x.patch.faces.push_back(x.hm.add_face(f[0], f[1], f[2]));
    x.hm.property(x.prop, x.patch.faces.back()) = 0;
  }
  for (auto v : x.hm.vertices()) x.hm.property(x.patch.scale, v) = 1.0;
  for (auto e : x.hm.edges()) x.hm.property(x.patch.queued, e) = 0;
  // Both face the same way; the flip to (d, a, c), (c, b, d) would raise the smallest angle,
  // and (c, b, d) would face against (b, a, c).
  quality_flips(x.hm, x.patch, x.prop, {});
  EXPECT_TRUE(x.hm.find_halfedge(a, b).is_valid());
  EXPECT_FALSE(x.hm.find_halfedge(c, d).is_valid());
}

TEST(PatchRefinement, FlipsNeverMakeAnEdgeThatIsThereAlready) {
  // A flat tetrahedron: across the long edge a-b its two faces are needles, and the other
  // diagonal c-d would raise their smallest angles, but c-d is an edge already: flipping would
  // join c and d twice and break the mesh.
  FanFixture x(3, 1.0);  // only for its properties; its triangle is replaced
  x.hm.clear();
  x.patch.faces.clear();
  const auto a = x.hm.add_vertex({-1.0, 0.0, 0.0}), b = x.hm.add_vertex({1.0, 0.0, 0.0});
  const auto c = x.hm.add_vertex({0.0, 0.3, 0.1}), d = x.hm.add_vertex({0.0, -0.3, 0.1});
  for (const auto& f : {std::array{a, b, c}, std::array{b, a, d}, std::array{a, c, d}, std::array{b, d, c}}) {
    x.patch.faces.push_back(x.hm.add_face(f[0], f[1], f[2]));
    ASSERT_TRUE(x.patch.faces.back().is_valid());
    x.hm.property(x.prop, x.patch.faces.back()) = 0;
  }
  for (auto v : x.hm.vertices()) x.hm.property(x.patch.scale, v) = 1.0;
  for (auto e : x.hm.edges()) x.hm.property(x.patch.queued, e) = 0;
  quality_flips(x.hm, x.patch, x.prop, {});
  EXPECT_TRUE(x.hm.find_halfedge(a, b).is_valid());
  for (auto v : x.hm.vertices()) EXPECT_EQ(x.hm.valence(v), 3u);
  for (auto f : x.hm.faces()) {
    std::array<int, 3> corners{};
    int k = 0;
    for (auto v : x.hm.fv_range(f)) corners[std::size_t(k++)] = v.idx();
    EXPECT_TRUE(corners[0] != corners[1] && corners[1] != corners[2] && corners[0] != corners[2]);
  }
}

// A hexagon of unit radius in the plane z = 0 (normals +z) fanned from a middle vertex (the
// last one) at `middle` with normal `n`.
struct Hexagon {
  HoleMesh hm;
  RepairMesh mesh;
  HoleMesh::VertexHandle middle;

  Hexagon(const OpenMesh::Vec3d& at, const Point3D& n) {
    for (int i = 0; i < 6; ++i) {
      hm.add_vertex({std::cos(M_PI * i / 3.0), std::sin(M_PI * i / 3.0), 0.0});
      mesh.normals.emplace_back(0, 0, 1);
    }
    middle = hm.add_vertex(at);
    mesh.normals.push_back(n / norm(n));
    for (int i = 0; i < 6; ++i)
      hm.add_face(HoleMesh::VertexHandle(i), HoleMesh::VertexHandle((i + 1) % 6), middle);
  }

  // Faces whose normal is against the sum of their corners' normals.
  int against() const {
    int k = 0;
    for (auto f : hm.faces()) {
      Point3D sum;
      for (auto v : hm.fv_range(f)) sum += mesh.normals[std::size_t(v.idx())];
      k += dot(to_point(hm.calc_face_normal(f)), sum) <= 0.0;
    }
    return k;
  }
};

TEST(PatchRefinement, VertexPulledOutOfItsRingIsMovedBackInItsTangentPlane) {
  // Outside the ring, the faces on the far side turn over; tilted normal, so the move must keep
  // to the plane across it rather than to z = const.
  const Point3D n(0.3, 0.0, 1.0);
  Hexagon x({2.5, 0.4, 0.2}, n);
  ASSERT_GT(x.against(), 0);
  const OpenMesh::Vec3d start = x.hm.point(x.middle);
  EXPECT_EQ(untangle_vertices(x.hm, x.mesh, {x.middle}, 2), 1);
  EXPECT_EQ(x.against(), 0);
  EXPECT_NEAR(dot(to_point(x.hm.point(x.middle) - start), n), 0.0, 1e-9);
  // Where nothing faces against the normals, nothing moves.
  const OpenMesh::Vec3d settled = x.hm.point(x.middle);
  EXPECT_EQ(untangle_vertices(x.hm, x.mesh, {x.middle}, 2), 0);
  EXPECT_EQ(x.hm.point(x.middle), settled);
}

TEST(PatchRefinement, LongEdgesAreSplitAtTheirMiddle) {
  FanFixture x(6, 1.0);  // a hexagon of unit edges; the fan's chords are sqrt(3) and 2 long
  const std::size_t vertices = x.hm.n_vertices();
  ASSERT_TRUE(split_long_edges(x.hm, x.mesh, x.patch, x.prop));
  // The three chords (longer than 4/3) are split once each; rim edges (length 1) are not.
  EXPECT_EQ(x.hm.n_vertices(), vertices + 3);
  EXPECT_EQ(x.patch.fresh.size(), 3u);
  EXPECT_EQ(x.patch.faces.size(), 4u + 6u);
  EXPECT_EQ(x.hm.n_faces(), x.patch.faces.size());
  for (const auto v : x.patch.fresh) {
    EXPECT_NEAR(x.hm.point(v)[2], 0.0, 1e-12);
    EXPECT_NEAR(x.hm.property(x.patch.scale, v), 1.0, 1e-12);
    // Half-way between hub 0 (red 0) and a corner (red 20, 30 or 40): red 10, 15 or 20.
    const int red = x.mesh.colors[std::size_t(v.idx())][0];
    EXPECT_TRUE(red == 10 || red == 15 || red == 20) << red;
  }
  EXPECT_EQ(x.mesh.colors.size(), x.hm.n_vertices());
  EXPECT_EQ(x.mesh.normals.size(), x.hm.n_vertices());
  for (auto f : x.hm.faces()) {
    EXPECT_EQ(x.hm.property(x.prop, f), 0);
    EXPECT_GT(x.hm.calc_face_normal(f)[2], 0.0);
  }
  // Now every inner edge is at most 1 (the hub's half chords) or a new short one.
  x.hm.property(x.patch.scale, HoleMesh::VertexHandle(0)) = 1.0;
  EXPECT_FALSE(split_long_edges(x.hm, x.mesh, x.patch, x.prop));
}

// A graded patch: each new vertex wants its ends' mean length times the growth, at most the
// coarsest length, and the next round splits only edges long against that.
TEST(PatchRefinement, GradedSplitsWantLongerEdgesUpToTheCoarsest) {
  for (const double coarsest : {10.0, 1.2}) {
    SCOPED_TRACE(coarsest);
    FanFixture x(6, 1.0);
    x.patch.growth = 1.5;
    x.patch.coarsest = coarsest;
    ASSERT_TRUE(split_long_edges(x.hm, x.mesh, x.patch, x.prop));
    ASSERT_EQ(x.patch.fresh.size(), 3u);
    const double wanted = std::min(1.5, coarsest);
    for (const auto v : x.patch.fresh) EXPECT_DOUBLE_EQ(x.hm.property(x.patch.scale, v), wanted);
    // The hub's half chords (1 long) stay; the edges from each new vertex to the corners beside
    // it are sqrt(3) / 2 or 1 long, short against 4/3 of any length wanted here.
    EXPECT_FALSE(split_long_edges(x.hm, x.mesh, x.patch, x.prop));
  }
  // Where the corners want edges of a fifth, a fan whose new vertices want 1.5 times as much
  // as their ends stops splitting sooner than the plain one.
  FanFixture plain(12, 1.0), graded(12, 1.0);
  graded.patch.growth = 1.5;
  for (FanFixture* x : {&plain, &graded})
    for (auto v : x->hm.vertices()) x->hm.property(x->patch.scale, v) = 0.2;
  for (int round = 0; round < 6; ++round) {
    split_long_edges(plain.hm, plain.mesh, plain.patch, plain.prop);
    split_long_edges(graded.hm, graded.mesh, graded.patch, graded.prop);
  }
  EXPECT_LT(graded.patch.fresh.size(), plain.patch.fresh.size());
  EXPECT_GT(graded.patch.fresh.size(), 0u);
}

}  // namespace
}  // namespace tervik
