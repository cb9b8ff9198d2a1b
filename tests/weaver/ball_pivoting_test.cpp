#include "weaver/ball_pivoting.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "common/patch.h"
#include "tervik/points.h"

namespace tervik {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Points on a sphere of radius r about c, spread by the golden-angle spiral, with outward
// normals; `jitter` moves each point along the sphere by up to that fraction of the spacing.
std::vector<Patch> sphere(std::size_t n, double r, const Point3D& c, double jitter,
                          unsigned int seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const double golden = kPi * (3.0 - std::sqrt(5.0));
  const double spacing = std::sqrt(4 * kPi / n);
  std::vector<Patch> pts(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double z = 1.0 - 2.0 * (i + 0.5) / n, s = std::sqrt(1.0 - z * z);
    Point3D d(s * std::cos(golden * i), s * std::sin(golden * i), z);
    d += jitter * spacing * Point3D(u(rng), u(rng), u(rng));
    d /= norm(d);
    pts[i].pos = c + r * d;
    pts[i].normal = d;
    pts[i].r = static_cast<unsigned char>(i % 256);
  }
  return pts;
}

// Three points of a 3-4-5 right triangle in the plane z = 0 (|XY| = 0.3, |XZ| = 0.4,
// |YZ| = 0.5), shifted by `offset`, with the normal (0, 0, nz) for all three.
void add_triangle(std::vector<Patch>& pts, double offset, double nz) {
  for (const Point3D& p : {Point3D(0, 0, 0), Point3D(0.3, 0, 0), Point3D(0, 0.4, 0)}) {
    Patch q;
    q.pos = p + Point3D(offset, 0, 0);
    q.normal = Point3D(0, 0, nz);
    pts.push_back(q);
  }
}

using Face = Coord3D<long long>;
struct FaceLess {
  bool operator()(const Face& a, const Face& b) const {
    return std::tie(a.x, a.y, a.z) < std::tie(b.x, b.y, b.z);
  }
};
using FaceSet = std::set<Face, FaceLess>;

Point3D face_normal(const std::vector<Patch>& pts, const Face& f) {
  Corner c;
  EXPECT_TRUE(corner(pts[f.x].pos, pts[f.y].pos, pts[f.z].pos, c));
  Point3D m = cross_product(c.e1, c.e2);
  EXPECT_TRUE(normalize(m));
  return m;
}

double face_area(const std::vector<Patch>& pts, const Face& f) {
  return 0.5 * norm(cross(pts[f.y].pos - pts[f.x].pos, pts[f.z].pos - pts[f.x].pos));
}

// Undirected edges used by more than two live faces, or by two faces with the same direction.
int non_manifold_edges(const FaceVertexMesh& mesh, const std::vector<bool>& flags) {
  std::map<std::pair<long long, long long>, std::vector<bool>> uses;  // per edge: directions
  for (std::size_t i = 0; i < mesh.faces.size(); ++i) {
    if (!flags[i]) continue;
    const Face& f = mesh.faces[i];
    for (int k = 0; k < 3; ++k) {
      const long long a = f[k], b = f[(k + 1) % 3];
      uses[{std::min(a, b), std::max(a, b)}].push_back(a < b);
    }
  }
  int bad = 0;
  for (const auto& [edge, dirs] : uses) {
    if (dirs.size() > 2 || (dirs.size() == 2 && dirs[0] == dirs[1])) ++bad;
  }
  return bad;
}

// The properties that every triangulation must have: faces index distinct existing vertices,
// their apex (first vertex) angle lies in the band, their right-hand normal agrees with the
// three point normals, no retired point is a vertex of a face, and nothing is NaN.
void expect_sound(const std::vector<Patch>& pts, double minangle, const FaceVertexMesh& mesh,
                  const std::vector<bool>& flags, const PivotingTrace& trace) {
  ASSERT_EQ(mesh.vertices.size(), pts.size());
  ASSERT_EQ(mesh.colors.size(), pts.size());
  ASSERT_EQ(flags.size(), mesh.faces.size());
  const ApexBand band(minangle);
  for (std::size_t i = 0; i < pts.size(); ++i) {
    ASSERT_EQ(mesh.vertices[i], pts[i].pos);
    ASSERT_EQ(mesh.colors[i], Coord3D<unsigned char>(pts[i].r, pts[i].g, pts[i].b));
  }
  for (std::size_t i = 0; i < mesh.faces.size(); ++i) {
    const Face& f = mesh.faces[i];
    for (int k = 0; k < 3; ++k) {
      ASSERT_GE(f[k], 0);
      ASSERT_LT(f[k], static_cast<long long>(pts.size()));
      ASSERT_TRUE(trace.free_points[f[k]]) << "face " << i << " uses retired point " << f[k];
    }
    ASSERT_TRUE(f.x != f.y && f.y != f.z && f.x != f.z);
    Corner c;
    ASSERT_TRUE(corner(pts[f.x].pos, pts[f.y].pos, pts[f.z].pos, c));
    EXPECT_TRUE(band.admits(c.c)) << "face " << i << " apex cosine " << c.c;
    const Point3D m = face_normal(pts, f);
    ASSERT_TRUE(std::isfinite(m.x) && std::isfinite(m.y) && std::isfinite(m.z));
    for (int k = 0; k < 3; ++k) EXPECT_GT(dot(m, pts[f[k]].normal), 0) << "face " << i;
  }
}

struct Meshing {
  FaceVertexMesh mesh;
  std::vector<bool> flags;
  PivotingTrace trace;
};

Meshing mesh_points(const std::vector<Patch>& pts, unsigned int nn, double minangle,
                unsigned int npoints, unsigned int seed = 1) {
  Meshing r;
  std::srand(seed);
  r.mesh = get_mesh(pts, nn, minangle, r.flags, npoints, &r.trace);
  return r;
}

TEST(Normalize, ScalesToUnitLengthAndRefusesTheZeroVector) {
  Point3D p(3, 4, 0);
  ASSERT_TRUE(normalize(p));
  EXPECT_EQ(p, Point3D(3 * (1 / 5.0), 4 * (1 / 5.0), 0));
  Point3D z(0, 0, 0);
  EXPECT_FALSE(normalize(z));
  EXPECT_EQ(z, Point3D(0, 0, 0));
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-10, 10);
  for (int i = 0; i < 100; ++i) {
    const Point3D a(u(rng), u(rng), u(rng)), b(u(rng), u(rng), u(rng));
    EXPECT_EQ(cross_product(a, b), cross(a, b));
  }
  Corner c;
  EXPECT_FALSE(corner(Point3D(1, 2, 3), Point3D(1, 2, 3), Point3D(0, 0, 0), c));
}

// With minangle 30 the admissible apex angles are 30 to 120 degrees, whatever the other two.
TEST(ApexBand, MinAngle30Admits90AndRejects25And125WhateverTheOtherAngles) {
  const ApexBand band(30);
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> len(0.01, 10), turn(0, 2 * kPi);
  for (int i = 0; i < 200; ++i) {
    const Point3D apex(len(rng), -len(rng), len(rng));
    const double phi = turn(rng), l1 = len(rng), l2 = len(rng);
    const Point3D ax(std::cos(phi), std::sin(phi), 0), ay(-std::sin(phi), std::cos(phi), 0);
    for (const auto& [degrees, admitted] : {std::pair(25.0, false), std::pair(90.0, true),
                                            std::pair(125.0, false), std::pair(31.0, true),
                                            std::pair(119.0, true)}) {
      const double t = degrees * kPi / 180;
      const Point3D p = apex + l1 * ax, q = apex + l2 * (std::cos(t) * ax + std::sin(t) * ay);
      Corner c;
      ASSERT_TRUE(corner(apex, p, q, c));
      EXPECT_EQ(band.admits(c.c), admitted) << degrees << " degrees, legs " << l1 << " " << l2;
    }
  }
  // From 60 degrees on the band is empty.
  const ApexBand closed(61);
  EXPECT_FALSE(closed.admits(std::cos(61 * kPi / 180)));
  EXPECT_FALSE(closed.admits(0.5));
}

// Four copies of one right triangle, far apart: whichever point the seed search draws, the
// seed is that triangle, stored with its apex first and oriented like the point normals.
TEST(GetMesh, SeedIsStoredWithApexFirstAndOrientedLikeTheNormals) {
  // Per cluster (X, Y, Z) = (0, 1, 2): drawing X or Y makes Z the apex, drawing Z makes Y it.
  const FaceSet up = {Face(2, 0, 1), Face(1, 2, 0)};    // right-hand normal +z
  const FaceSet down = {Face(2, 1, 0), Face(1, 0, 2)};  // right-hand normal -z
  for (const double nz : {1.0, -1.0}) {
    std::vector<Patch> pts;
    for (int c = 0; c < 4; ++c) add_triangle(pts, 100.0 * c, nz);
    FaceSet seen;
    for (unsigned int seed = 1; seed <= 12; ++seed) {
      const Meshing r = mesh_points(pts, 3, 30, 3, seed);
      ASSERT_EQ(r.mesh.faces.size(), 1u) << seed;
      const Face f = r.mesh.faces[0];
      const long long base = f.x / 3 * 3;
      seen.insert(Face(f.x - base, f.y - base, f.z - base));
      EXPECT_EQ(r.flags, std::vector<bool>{true});
      EXPECT_EQ(r.trace.used, 3u);
      expect_sound(pts, 30, r.mesh, r.flags, r.trace);
    }
    EXPECT_EQ(seen, nz > 0 ? up : down);  // both apexes were drawn, stored as expected
  }
  // Normals that do not all lie on one side of the plane reject the seed.
  std::vector<Patch> mixed;
  for (int c = 0; c < 4; ++c) add_triangle(mixed, 100.0 * c, 1.0);
  for (int c = 0; c < 4; ++c) mixed[3 * c + 1].normal = Point3D(0, 0, -1);
  EXPECT_TRUE(mesh_points(mixed, 3, 30, 3).mesh.faces.empty());
  // With minangle 40 the 36.9 degree apex fails, the 53.1 degree one still passes.
  std::vector<Patch> pts;
  for (int c = 0; c < 4; ++c) add_triangle(pts, 100.0 * c, 1.0);
  for (unsigned int seed = 1; seed <= 12; ++seed) {
    const Meshing r = mesh_points(pts, 3, 40, 3, seed);
    for (const Face& f : r.mesh.faces) EXPECT_EQ(f.x % 3, 1) << "apex must be Y";
  }
}

TEST(GetMesh, FewerThanTenPointsGiveNoFace) {
  std::vector<Patch> pts;
  for (int c = 0; c < 3; ++c) add_triangle(pts, 100.0 * c, 1.0);
  const Meshing r = mesh_points(pts, 3, 30, 1000);
  EXPECT_TRUE(r.mesh.faces.empty());
  EXPECT_TRUE(r.flags.empty());
  EXPECT_EQ(r.mesh.vertices.size(), 9u);
  EXPECT_TRUE(mesh_points({}, 3, 30, 1000).mesh.vertices.empty());
}

TEST(GetMesh, NPoints3GivesExactlyOneFace) {
  const std::vector<Patch> pts = sphere(500, 1.0, Point3D(0, 0, 0), 0.0, 1);
  const Meshing r = mesh_points(pts, 20, 30, 3);
  ASSERT_EQ(r.mesh.faces.size(), 1u);
  EXPECT_EQ(r.flags, std::vector<bool>{true});
  expect_sound(pts, 30, r.mesh, r.flags, r.trace);
}

// An evenly sampled sphere: the mesh covers nearly all of it, with every face oriented outward.
TEST(GetMesh, EvenSphereIsCoveredAndOrientedOutward) {
  const Point3D centre(2, -1, 0.5);
  const std::vector<Patch> pts = sphere(2000, 1.5, centre, 0.0, 1);
  const Meshing r = mesh_points(pts, 20, 30, 2000);
  expect_sound(pts, 30, r.mesh, r.flags, r.trace);
  // A closed triangulation of n points has 2n - 4 faces.
  EXPECT_GT(r.mesh.faces.size(), 0.98 * (2 * pts.size() - 4));
  double area = 0;
  for (std::size_t i = 0; i < r.mesh.faces.size(); ++i) {
    const Face& f = r.mesh.faces[i];
    EXPECT_GT(dot(face_normal(pts, f), pts[f.x].pos - centre), 0);
    if (r.flags[i]) area += face_area(pts, f);
  }
  const double coverage = area / (4 * kPi * 1.5 * 1.5);
  EXPECT_GT(coverage, 0.97);
  const int non_manifold = non_manifold_edges(r.mesh, r.flags);
  EXPECT_EQ(non_manifold, 0);
  RecordProperty("coverage", std::to_string(coverage));
  RecordProperty("faces", std::to_string(r.mesh.faces.size()));
  // Repeatable for one random sequence.
  const Meshing again = mesh_points(pts, 20, 30, 2000);
  EXPECT_EQ(again.mesh.faces, r.mesh.faces);
}

// Where the object stands and the unit it is measured in do not matter: the cloud moved by up to
// 10^4 box diagonals, or scaled by 1000 or 1/1000, meshes to the same faces as the original.
TEST(GetMesh, MovedOrScaledCloudGivesTheSameFaces) {
  const std::vector<Patch> pts = sphere(3000, 1.0, Point3D(0, 0, 0), 0.8, 3);
  const Meshing original = mesh_points(pts, 20, 30, 100000);
  const double diagonal = 2.0 * std::sqrt(3.0);
  const std::vector<std::pair<Point3D, double>> moves = {
      {Point3D(10, 10, 10), 1.0},
      {Point3D(-1e2, 3e2, 7e1), 1.0},
      {Point3D(1e4, -1e4, 1e4) * (diagonal / std::sqrt(3.0)), 1.0},
      {Point3D(0, 0, 0), 1e3},
      {Point3D(0, 0, 0), 1e-3}};
  for (const auto& [offset, scale] : moves) {
    std::vector<Patch> moved = pts;
    for (Patch& p : moved) p.pos = scale * p.pos + offset;
    const Meshing r = mesh_points(moved, 20, 30, 100000);
    EXPECT_EQ(r.mesh.faces, original.mesh.faces) << "offset " << offset.x << " " << offset.y
                                                 << " " << offset.z << ", scale " << scale;
  }
}

// Uniform random points on a square of side 30, all with the normal +z.
std::vector<Patch> plane(std::size_t n, double relief, unsigned int seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0, 30);
  std::vector<Patch> pts(n);
  for (Patch& p : pts) {
    p.pos = Point3D(u(rng), u(rng), relief * u(rng));
    p.normal = Point3D(0, 0, 1);
  }
  return pts;
}

int count_false(const std::vector<bool>& v) {
  int n = 0;
  for (bool b : v) n += !b;
  return n;
}

// Points that fall inside accepted triangles are retired: they never become face vertices,
// but stay in the mesh as vertices without faces.
TEST(GetMesh, RetiredPointsNeverBecomeFaceVertices) {
  const std::vector<Patch> pts = plane(1500, 0.0, 7);
  const Meshing r = mesh_points(pts, 20, 30, 100000);
  expect_sound(pts, 30, r.mesh, r.flags, r.trace);
  ASSERT_GT(count_false(r.trace.free_points), 0) << "the cloud should retire some points";
  for (std::size_t i = 0; i < pts.size(); ++i) {
    if (!r.trace.free_points[i]) EXPECT_TRUE(r.mesh.vertex_faces[i].empty()) << i;
  }
}

// Faces withdrawn at folds keep their place in the mesh, with their flag false.
TEST(GetMesh, WithdrawnFacesStayInTheMeshWithFlagFalse) {
  const std::vector<Patch> pts = plane(1500, 0.02, 7);
  const Meshing r = mesh_points(pts, 20, 30, 100000);
  expect_sound(pts, 30, r.mesh, r.flags, r.trace);
  ASSERT_GT(count_false(r.flags), 0) << "the cloud should fold somewhere";
  ASSERT_EQ(r.flags.size(), r.mesh.faces.size());
  // Every face, withdrawn or not, is recorded with its three vertices.
  for (std::size_t i = 0; i < r.mesh.faces.size(); ++i) {
    for (int k = 0; k < 3; ++k) {
      const auto& uses = r.mesh.vertex_faces[r.mesh.faces[i][k]];
      EXPECT_NE(std::find(uses.begin(), uses.end(), static_cast<long long>(i)), uses.end());
    }
  }
  EXPECT_EQ(non_manifold_edges(r.mesh, r.flags), 0);
}

// A sphere sampled with jitter: still oriented outward, mostly covered.
TEST(GetMesh, JitteredSphereIsMostlyCoveredAndOrientedOutward) {
  const std::vector<Patch> pts = sphere(3000, 1.0, Point3D(0, 0, 0), 1.0, 5);
  const Meshing r = mesh_points(pts, 20, 30, 100000);
  expect_sound(pts, 30, r.mesh, r.flags, r.trace);
  double area = 0;
  for (std::size_t i = 0; i < r.mesh.faces.size(); ++i) {
    const Face& f = r.mesh.faces[i];
    EXPECT_GT(dot(face_normal(pts, f), pts[f.x].pos), 0);
    if (r.flags[i]) area += face_area(pts, f);
  }
  const double coverage = area / (4 * kPi);
  EXPECT_GT(coverage, 0.9);
  RecordProperty("coverage", std::to_string(coverage));
  RecordProperty("non_manifold_edges", std::to_string(non_manifold_edges(r.mesh, r.flags)));
}

// Coincident points: candidates that would divide by zero are skipped; a cloud in which
// every point has a twin still meshes, without NaN anywhere and without a face that has two
// vertices at one position.
TEST(GetMesh, DuplicatedPointsStillMeshWithoutNaN) {
  std::vector<Patch> pts = sphere(1000, 1.0, Point3D(0, 0, 0), 0.3, 9);
  const std::size_t n = pts.size();
  for (std::size_t i = 0; i < n; ++i) pts.push_back(pts[i]);  // every point twice
  for (int i = 0; i < 50; ++i) pts.push_back(pts[i * 7]);      // some three times
  const Meshing r = mesh_points(pts, 20, 30, 100000);
  expect_sound(pts, 30, r.mesh, r.flags, r.trace);
  EXPECT_GT(r.mesh.faces.size(), 1500u);
  for (std::size_t i = 0; i < r.mesh.faces.size(); ++i) {
    EXPECT_GT(face_area(pts, r.mesh.faces[i]), 0) << i;
  }
}

// Twins take part like every other point: the point count, the tree and the seed draws stay
// those of the whole cloud, so a twin appended at the end changes the draws (rand() % n) and
// the mesh differs from the twin-less cloud's; the twin itself never shares a face with its
// original.
TEST(GetMesh, ASingleTwinKeepsEveryPointInTheTriangulation) {
  std::vector<Patch> pts = sphere(2000, 1.0, Point3D(0, 0, 0), 0.3, 12);
  const std::vector<Patch> originals = pts;
  pts.push_back(pts[1234]);
  const Meshing r = mesh_points(pts, 20, 30, 100000);
  expect_sound(pts, 30, r.mesh, r.flags, r.trace);
  EXPECT_NE(r.mesh.faces, mesh_points(originals, 20, 30, 100000).mesh.faces);
  for (const Face& f : r.mesh.faces) {
    const bool has_original = f.x == 1234 || f.y == 1234 || f.z == 1234;
    const bool has_twin = f.x == 2000 || f.y == 2000 || f.z == 2000;
    EXPECT_FALSE(has_original && has_twin);
  }
}

// Twins whose coordinates differ only in the sign of a zero are the same position: a grid in
// the plane z = 0 with every point twice, the twin written with -0.0, meshes; the first seed
// (npoints 3) takes three distinct positions although each point's nearest is its twin.
TEST(GetMesh, TwinsDifferingInTheSignOfZeroAreDuplicates) {
  std::vector<Patch> pts;
  for (int i = 0; i < 12; ++i) {
    for (int j = 0; j < 12; ++j) {
      Patch p;
      p.pos = Point3D((i - 6) * 0.1, (j - 6) * 0.1 + 0.03 * (i % 2), 0.0);
      p.normal = Point3D(0, 0, 1);
      Patch q = p;
      q.pos = Point3D(p.pos.x == 0 ? -0.0 : p.pos.x, p.pos.y == 0 ? -0.0 : p.pos.y, -0.0);
      ASSERT_TRUE(std::signbit(q.pos.z));
      pts.push_back(p);
      pts.push_back(q);
    }
  }
  const Meshing seed = mesh_points(pts, 20, 30, 3);
  ASSERT_EQ(seed.mesh.faces.size(), 1u);
  const Face& f = seed.mesh.faces[0];
  EXPECT_GT(face_area(pts, f), 0);
  const Meshing all = mesh_points(pts, 20, 30, 100000);
  expect_sound(pts, 30, all.mesh, all.flags, all.trace);
  EXPECT_GT(all.mesh.faces.size(), 100u);
  for (const Face& g : all.mesh.faces) EXPECT_GT(face_area(pts, g), 0);
}

// Points so close that their squared distance underflows to zero cannot be normalised; such
// candidates are skipped instead of producing NaN.
TEST(GetMesh, NearlyCoincidentPointsGiveNoNaN) {
  // On a sphere of radius 1e-150 neighbours are about 1e-151 apart; twins 1e-165 apart have
  // a squared distance below the smallest double.
  std::vector<Patch> pts = sphere(1000, 1e-150, Point3D(0, 0, 0), 0.3, 4);
  const std::size_t n = pts.size();
  for (std::size_t i = 0; i < n; i += 2) {
    Patch twin = pts[i];
    twin.pos.x += 1e-165;
    ASSERT_NE(twin.pos.x, pts[i].pos.x);
    ASSERT_EQ(norm2(twin.pos - pts[i].pos), 0.0);
    pts.push_back(twin);
  }
  const Meshing r = mesh_points(pts, 20, 30, 100000);
  expect_sound(pts, 30, r.mesh, r.flags, r.trace);
  EXPECT_GT(r.mesh.faces.size(), 1000u);
}

// Helper threads compute neighbour lists ahead; the faces, flags, retired points and progress
// lines are those of one thread for every thread count, on clouds that exercise both passes,
// withdrawn faces and twins.
TEST(GetMesh, EveryThreadCountGivesTheOneThreadResult) {
  std::vector<std::vector<Patch>> clouds = {sphere(4000, 1.0, Point3D(0, 0, 0), 0.8, 21),
                                            sphere(1500, 2.0, Point3D(1, 0, 0), 0.3, 22)};
  clouds[1].insert(clouds[1].end(), clouds[1].begin(), clouds[1].begin() + 700);  // twins
  for (std::size_t c = 0; c < clouds.size(); ++c) {
    for (unsigned int nn : {5u, 20u}) {
      testing::internal::CaptureStdout();
      const Meshing one = mesh_points(clouds[c], nn, 30, 100000);
      const std::string one_out = testing::internal::GetCapturedStdout();
      for (unsigned int threads : {2u, 3u, 5u}) {
        testing::internal::CaptureStdout();
        std::srand(1);
        Meshing r;
        r.mesh = get_mesh(clouds[c], nn, 30, r.flags, 100000, &r.trace, threads);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), one_out);
        EXPECT_EQ(r.mesh.faces, one.mesh.faces) << "cloud " << c << " nn " << nn << " threads " << threads;
        EXPECT_EQ(r.flags, one.flags);
        EXPECT_EQ(r.trace.free_points, one.trace.free_points);
      }
    }
  }
}

}  // namespace
}  // namespace tervik
