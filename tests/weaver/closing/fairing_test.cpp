// Fairing moves only the free vertices: towards the mean of their neighbours (a membrane), or to
// least bending over the patches large enough.
#include "weaver/closing/fairing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "weaver/mesh_fixtures.h"

namespace tervik {
namespace {

TEST(Fairing, FreeVertexOfAFanGoesToTheMeanOfItsRimWhichStaysFixed) {
  HoleMesh hm;
  std::vector<HoleMesh::VertexHandle> rim;
  for (int i = 0; i < 6; ++i) {
    const double a = 2.0 * M_PI * i / 6.0;
    rim.push_back(hm.add_vertex({std::cos(a), std::sin(a), i % 2 ? 0.2 : -0.2}));
  }
  const auto centre = hm.add_vertex({0.3, -0.2, 5.0});
  for (int i = 0; i < 6; ++i) hm.add_face(rim[std::size_t(i)], rim[std::size_t((i + 1) % 6)], centre);
  EXPECT_GT(umbrella(hm, centre).norm(), 4.9);
  fair_vertices(hm, {centre}, 1);
  EXPECT_LT(hm.point(centre).norm(), 1e-12);  // the rim's mean is the origin
  EXPECT_LT(umbrella(hm, centre).norm(), 1e-12);
  EXPECT_EQ(hm.point(rim[1]), OpenMesh::Vec3d(std::cos(M_PI / 3), std::sin(M_PI / 3), 0.2));
}

// A flat ring (normals +z) fanned round a free vertex at `at`: a waist on the right leads into a
// long arm, so that the mean of the ring lies in the arm, where the fan's faces next to the
// waist would turn over.
struct ArmedRing {
  HoleMesh hm;
  std::vector<Point3D> normals;
  HoleMesh::VertexHandle centre;

  explicit ArmedRing(const OpenMesh::Vec3d& at) {
    const double ring[7][2] = {{0, -1}, {0.5, -0.1}, {5, -0.1}, {5, 0.1}, {0.5, 0.1}, {0, 1}, {-1, 0}};
    std::vector<HoleMesh::VertexHandle> v;
    for (const auto& c : ring) v.push_back(hm.add_vertex({c[0], c[1], 0.0}));
    centre = hm.add_vertex(at);
    normals.assign(8, Point3D(0.0, 0.0, 1.0));
    for (std::size_t i = 0; i < 7; ++i) hm.add_face(v[i], v[(i + 1) % 7], centre);
  }

  int turned() const {
    int k = 0;
    for (auto f : hm.faces()) k += hm.calc_face_normal(f)[2] <= 0.0;
    return k;
  }
};

TEST(Fairing, UnfoldedFairingMovesOnlyWhereNoMoreFacesTurnOver) {
  // Plain fairing takes the vertex to the ring's mean (10/7, 0) and turns two faces over.
  ArmedRing plain({-0.2, 0.0, 0.0});
  ASSERT_EQ(plain.turned(), 0);
  fair_vertices(plain.hm, {plain.centre}, 1);
  EXPECT_NEAR(plain.hm.point(plain.centre)[0], 10.0 / 7.0, 1e-12);
  EXPECT_EQ(plain.turned(), 2);
  // The guarded one leaves it where every face faces up.
  ArmedRing guarded({-0.2, 0.0, 0.0});
  fair_vertices_unfolded(guarded.hm, {guarded.centre}, 5, guarded.normals);
  EXPECT_EQ(guarded.hm.point(guarded.centre), OpenMesh::Vec3d(-0.2, 0.0, 0.0));
  EXPECT_EQ(guarded.turned(), 0);
  // On a convex ring it moves like plain fairing.
  HoleMesh hex;
  std::vector<HoleMesh::VertexHandle> rim;
  for (int i = 0; i < 6; ++i) rim.push_back(hex.add_vertex({std::cos(M_PI * i / 3.0), std::sin(M_PI * i / 3.0), 0.0}));
  const auto middle = hex.add_vertex({0.4, 0.3, 0.0});
  for (std::size_t i = 0; i < 6; ++i) hex.add_face(rim[i], rim[(i + 1) % 6], middle);
  fair_vertices_unfolded(hex, {middle}, 1, std::vector<Point3D>(7, Point3D(0.0, 0.0, 1.0)));
  EXPECT_LT(hex.point(middle).norm(), 1e-12);
}

TEST(Fairing, SweepsStopAfterTheFirstThatMovesNoVertexFarther) {
  // A 7 x 7 grid in the plane z = 0 whose 25 inner vertices are free and lifted unevenly.
  HoleMesh start;
  std::vector<HoleMesh::VertexHandle> free;
  const int n = 7;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      const bool inner = x > 0 && y > 0 && x < n - 1 && y < n - 1;
      const auto v = start.add_vertex({double(x), double(y), inner ? 0.3 * double((x * 7 + y * 3) % 5) : 0.0});
      if (inner) free.push_back(v);
    }
  const auto at = [&](int x, int y) { return HoleMesh::VertexHandle(y * n + x); };
  for (int y = 0; y + 1 < n; ++y)
    for (int x = 0; x + 1 < n; ++x) {
      start.add_face(at(x, y), at(x + 1, y), at(x + 1, y + 1));
      start.add_face(at(x, y), at(x + 1, y + 1), at(x, y + 1));
    }
  const std::vector<Point3D> normals(std::size_t(n * n), Point3D(0.0, 0.0, 1.0));
  const int most = 200;
  for (const double settled : {0.0, 1e-2, 1e-4}) {
    SCOPED_TRACE(settled);
    // One sweep at a time, up to and including the first whose largest move is under `settled`.
    HoleMesh stepped = start;
    int sweeps = 0;
    for (double largest = settled + 1.0; sweeps < most && largest >= settled; ++sweeps) {
      std::vector<OpenMesh::Vec3d> before;
      for (const auto v : free) before.push_back(stepped.point(v));
      fair_vertices_unfolded(stepped, free, 1, normals);
      largest = 0.0;
      for (std::size_t i = 0; i < free.size(); ++i) largest = std::max(largest, (stepped.point(free[i]) - before[i]).norm());
    }
    HoleMesh at_once = start;
    fair_vertices_unfolded(at_once, free, most, normals, settled);
    for (const auto v : free) EXPECT_EQ(at_once.point(v), stepped.point(v));
    EXPECT_EQ(sweeps < most, settled > 0.0);  // the larger tolerances stop early
  }
}

// The guarded fairing face by face: a vertex moves to the mean of its neighbours unless more of
// its faces (v, a, b) then face against the sum of their corners' normals.
void fair_face_by_face(HoleMesh& hm, const std::vector<HoleMesh::VertexHandle>& free, int iterations,
                       const std::vector<Point3D>& normals) {
  const auto against = [&](HoleMesh::VertexHandle v, const OpenMesh::Vec3d& x) {
    int k = 0;
    for (auto h : hm.voh_range(v)) {
      if (hm.is_boundary(h)) continue;
      const auto a = hm.to_vertex_handle(h), b = hm.to_vertex_handle(hm.next_halfedge_handle(h));
      const OpenMesh::Vec3d n = to_vec(normals[std::size_t(v.idx())] + normals[std::size_t(a.idx())] +
                                       normals[std::size_t(b.idx())]);
      k += (((hm.point(a) - x) % (hm.point(b) - x)) | n) < 0.0;
    }
    return k;
  };
  for (int it = 0; it < iterations; ++it)
    for (const auto v : free) {
      OpenMesh::Vec3d sum(0.0, 0.0, 0.0);
      int count = 0;
      for (auto w : hm.vv_range(v)) sum += hm.point(w), ++count;
      if (count == 0) continue;
      const OpenMesh::Vec3d q = hm.point(v), moved = q + (sum / double(count) - q);
      const int after = against(v, moved);
      if (after == 0 || after <= against(v, q)) hm.point(v) = moved;
    }
}

TEST(Fairing, UnfoldedFairingOfACrumpledGridIsTheFaceByFaceOneBitForBit) {
  // A 9 x 9 grid crumpled at random, with normals scattered widely (mostly upward), so that
  // many moves would turn faces over; every vertex but one in seven is free (inner ones have six
  // faces, border ones three or fewer: the faces are counted in pairs and one on its own).
  std::mt19937 rng(13);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const int n = 9;
  HoleMesh start;
  std::vector<HoleMesh::VertexHandle> free;
  std::vector<Point3D> normals;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      const auto v = start.add_vertex({x + 0.8 * unit(rng), y + 0.8 * unit(rng), 1.5 * unit(rng)});
      if ((x + 3 * y) % 7 != 0) free.push_back(v);
      normals.push_back(Point3D(unit(rng), unit(rng), 0.5 + unit(rng)));
    }
  const auto at = [&](int x, int y) { return HoleMesh::VertexHandle(y * n + x); };
  for (int y = 0; y + 1 < n; ++y)
    for (int x = 0; x + 1 < n; ++x) {
      start.add_face(at(x, y), at(x + 1, y), at(x + 1, y + 1));
      start.add_face(at(x, y), at(x + 1, y + 1), at(x, y + 1));
    }
  std::shuffle(free.begin(), free.end(), rng);
  HoleMesh fast = start, slow = start;
  fair_vertices_unfolded(fast, free, 12, normals);
  fair_face_by_face(slow, free, 12, normals);
  int moved = 0, held = 0;
  for (const auto v : free) {
    EXPECT_EQ(fast.point(v), slow.point(v));
    moved += fast.point(v) != start.point(v);
  }
  // Some vertices were held back by the guard in the first sweep (the check has work to do).
  HoleMesh once = start, plain = start;
  fair_vertices_unfolded(once, free, 1, normals);
  fair_vertices(plain, free, 1);
  for (const auto v : free) held += once.point(v) != plain.point(v);
  EXPECT_GT(moved, 40);
  EXPECT_GT(held, 5);
}

TEST(Fairing, LargePatchOverASphereCapBulgesWithTheSphereAndASmallOneStaysFlat) {
  // A unit sphere whose vertices above z = 0.8 (a cap of about 37 degrees) and below z = -0.95
  // come last, as new vertices, pressed flat onto the planes of their rims.
  const RepairMesh sphere = testing::unit_sphere(4);
  const auto in_cap = [](const Point3D& p) { return p.z > 0.8 ? 1 : p.z < -0.95 ? 2 : 0; };
  std::vector<int> order;
  for (int cap : {0, 1, 2})
    for (std::size_t v = 0; v < sphere.vertices.size(); ++v)
      if (in_cap(sphere.vertices[v]) == cap) order.push_back(int(v));
  std::vector<int> place(sphere.vertices.size());
  HoleMesh hm;
  std::size_t first_new = 0, top = 0, bottom = 0;
  for (std::size_t i = 0; i < order.size(); ++i) {
    Point3D p = sphere.vertices[std::size_t(order[i])];
    const int cap = in_cap(p);
    if (cap == 0) ++first_new;
    if (cap == 1) ++top, p.z = 0.8;
    if (cap == 2) ++bottom, p.z = -0.95;
    place[std::size_t(order[i])] = int(i);
    hm.add_vertex({p.x, p.y, p.z});
  }
  for (const auto& f : sphere.faces)
    hm.add_face(HoleMesh::VertexHandle(place[std::size_t(f.x)]), HoleMesh::VertexHandle(place[std::size_t(f.y)]),
                HoleMesh::VertexHandle(place[std::size_t(f.z)]));
  ASSERT_GT(bottom, 3u);
  ASSERT_GT(top, bottom);
  const HoleMesh flat = hm;
  EXPECT_EQ(fair_bending(hm, first_new, bottom + 1), 1);
  double off_sphere = 0.0, highest = 0.0;
  for (std::size_t v = 0; v < hm.n_vertices(); ++v) {
    const auto& p = hm.point(HoleMesh::VertexHandle(int(v)));
    if (v < first_new || v >= first_new + top) {
      EXPECT_EQ(p, flat.point(HoleMesh::VertexHandle(int(v))));
      continue;
    }
    off_sphere = std::max(off_sphere, std::abs(p.norm() - 1.0));
    highest = std::max(highest, p[2]);
  }
  // Least bending carries the rim's slope on: it overshoots the pole a little (by 0.07).
  EXPECT_LT(off_sphere, 0.08);
  EXPECT_GT(highest, 0.97);
  // The membrane spans the same cap flat.
  HoleMesh membrane = flat;
  std::vector<HoleMesh::VertexHandle> cap;
  for (std::size_t v = first_new; v < first_new + top; ++v) cap.push_back(HoleMesh::VertexHandle(int(v)));
  fair_vertices(membrane, cap, 500);
  for (const auto v : cap) EXPECT_LT(membrane.point(v)[2], 0.81);  // 0.19 below the pole
}

}  // namespace
}  // namespace tervik
