// Repairs on hand-built meshes: each leaves a sound mesh and removes no more than it must.
#include "weaver/closing/manifold_repair.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <utility>

#include <gtest/gtest.h>

#include "weaver/mesh_fixtures.h"

namespace tervik {
namespace {

using testing::topology;
using testing::unit_sphere;

bool all_outward(const RepairMesh& m) {
  for (const auto& f : m.faces) {
    const Point3D a = m.vertices[std::size_t(f.x)], b = m.vertices[std::size_t(f.y)],
                  c = m.vertices[std::size_t(f.z)];
    if (dot(cross(b - a, c - a), a + b + c) <= 0.0) return false;
  }
  return true;
}

TEST(ManifoldRepair, DegenerateAndRepeatedFacesGoFirstCopyStays) {
  RepairMesh m = unit_sphere(1);
  const auto original = m.faces;
  m.faces.emplace_back(3, 3, 5);                                        // repeated corner
  m.faces.emplace_back(original[4].z, original[4].y, original[4].x);    // same face reversed
  m.faces.push_back(original[7]);                                       // same face again
  EXPECT_EQ(remove_degenerate_faces(m), 3);
  EXPECT_EQ(m.faces, original);
}

TEST(ManifoldRepair, FinOnAnEdgeIsRemovedAndTheSphereKept) {
  RepairMesh m = unit_sphere(2);
  const auto original = m.faces;
  // A fin: a third face on the edge of face 0, to a new vertex outside.
  m.vertices.push_back({2, 2, 2});
  m.normals.push_back({1, 0, 0});
  m.colors.emplace_back(0, 0, 0);
  const auto& f0 = original[0];
  m.faces.insert(m.faces.begin() + 10, Coord3D<long long>(f0.y, f0.x, (long long)m.vertices.size() - 1));
  ASSERT_EQ(topology(m.faces).nonmanifold, 1);
  EXPECT_EQ(remove_nonmanifold_edges(m), 1);
  EXPECT_EQ(m.faces, original);
}

TEST(ManifoldRepair, OrientationIsMadeConsistentAndOutward) {
  RepairMesh m = unit_sphere(2);
  std::mt19937 rng(5);
  for (auto& f : m.faces)
    if (rng() % 3 == 0) std::swap(f.y, f.z);
  ASSERT_GT(topology(m.faces).inconsistent, 0);
  EXPECT_EQ(orient_faces(m), 0);
  EXPECT_EQ(topology(m.faces).inconsistent, 0);
  EXPECT_TRUE(all_outward(m));
  // All reversed but consistent: the vote against the point normals turns them back.
  for (auto& f : m.faces) std::swap(f.y, f.z);
  EXPECT_EQ(orient_faces(m), 0);
  EXPECT_TRUE(all_outward(m));
  // With inward point normals the sphere is turned inside out.
  for (auto& n : m.normals) n = -n;
  orient_faces(m);
  EXPECT_FALSE(all_outward(m));
  EXPECT_EQ(topology(m.faces).inconsistent, 0);
}

TEST(ManifoldRepair, FacesAgainstTheirPointNormalsAreFolds) {
  RepairMesh m = unit_sphere(1);
  const std::size_t n = m.faces.size();
  std::swap(m.faces[3].y, m.faces[3].z);
  const auto folded = m.faces[3];
  EXPECT_EQ(remove_folded_faces(m), 1);
  ASSERT_EQ(m.faces.size(), n - 1);
  for (const auto& f : m.faces) EXPECT_FALSE(f == folded);
}

// Two fans meet at vertex 0: a bow tie of (1 + extra) and 1 faces.
RepairMesh bow_tie(int extra) {
  RepairMesh m;
  m.vertices = {{0, 0, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}, {-1, -1, 0}, {1, 2, 0}};
  m.normals.assign(m.vertices.size(), Point3D(0, 0, 1));
  m.colors.assign(m.vertices.size(), Coord3D<unsigned char>(1, 2, 3));
  m.faces = {{0, 1, 2}, {0, 3, 4}};
  if (extra) m.faces.emplace_back(0, 2, 5);
  return m;
}

TEST(ManifoldRepair, VertexWithTwoFansLosesTheSmallerOrIsSplit) {
  RepairMesh m = bow_tie(1);
  long split = -1;
  EXPECT_EQ(resolve_nonmanifold_vertices(m, 1, split), 1);
  EXPECT_EQ(split, 0);
  ASSERT_EQ(m.faces.size(), 2u);
  EXPECT_EQ(m.faces[0], Coord3D<long long>(0, 1, 2));  // the fan of two faces stays
  // Nothing may be removed: the smaller fan gets its own copy of the vertex.
  m = bow_tie(1);
  EXPECT_EQ(resolve_nonmanifold_vertices(m, 0, split), 0);
  EXPECT_EQ(split, 1);
  ASSERT_EQ(m.vertices.size(), 7u);
  EXPECT_EQ(m.vertices[6], m.vertices[0]);
  EXPECT_EQ(m.colors.size(), 7u);
  EXPECT_EQ(m.faces[1], Coord3D<long long>(6, 3, 4));
  EXPECT_EQ(m.faces[0].x, 0);
  EXPECT_EQ(m.faces[2].x, 0);
}

// Fans at each vertex of m (groups of its faces connected across edges at the vertex), found
// by brute force.
std::vector<int> fans_per_vertex(const RepairMesh& m) {
  std::vector<std::vector<std::size_t>> at(m.vertices.size());
  for (std::size_t f = 0; f < m.faces.size(); ++f)
    for (int k = 0; k < 3; ++k) at[std::size_t(m.faces[f][k])].push_back(f);
  std::vector<int> fans(m.vertices.size(), 0);
  for (std::size_t v = 0; v < at.size(); ++v) {
    std::vector<int> fan(at[v].size(), -1);
    for (std::size_t i = 0; i < at[v].size(); ++i) {
      if (fan[i] >= 0) continue;
      fan[i] = fans[v]++;
      for (bool grew = true; grew;) {
        grew = false;
        for (std::size_t j = 0; j < at[v].size(); ++j)
          for (std::size_t k = 0; k < at[v].size() && fan[j] < 0; ++k) {
            if (fan[k] != fan[i]) continue;
            int shared = 0;
            for (int a = 0; a < 3; ++a)
              for (int b = 0; b < 3; ++b) shared += m.faces[at[v][j]][a] == m.faces[at[v][k]][b];
            if (shared >= 2) fan[j] = fan[i], grew = true;
          }
      }
    }
  }
  return fans;
}

TEST(ManifoldRepair, FrontAndBackSheetsMeetingAtAPointOfTheOutlineAreJoined) {
  // A thin arm along x (a cylinder of radius 1): its front sheet (one face at 40 degrees above
  // the outline) and its back sheet (one at 40 below) meet only at the outline's point v. Both
  // gaps between them are closed by a face round the outline, and v has one fan.
  const double c = std::cos(40 * M_PI / 180), s = std::sin(40 * M_PI / 180);
  RepairMesh m;
  m.vertices = {{0, 1, 0}, {-1, c, s}, {1, c, s}, {-1, c, -s}, {1, c, -s}};
  for (const auto& p : m.vertices) m.normals.push_back(Point3D(0, p.y, p.z) / std::hypot(p.y, p.z));
  m.colors.assign(m.vertices.size(), {});
  m.faces = {{0, 1, 2}, {0, 4, 3}};
  ASSERT_TRUE(all_outward(m));
  EXPECT_EQ(join_fans(m, 2.0, 0.5), 2);
  ASSERT_EQ(m.faces.size(), 4u);
  EXPECT_TRUE(all_outward(m));
  EXPECT_EQ(fans_per_vertex(m)[0], 1);
  long split = -1;
  EXPECT_EQ(resolve_nonmanifold_vertices(m, 8, split), 0);
  EXPECT_EQ(split, 0);
  // Each edge of the four faces once each way, or once on the rim.
  std::map<std::pair<long long, long long>, int> uses;
  for (const auto& f : m.faces)
    for (int k = 0; k < 3; ++k) ++uses[{f[k], f[(k + 1) % 3]}];
  for (const auto& [e, n] : uses) EXPECT_EQ(n, 1);

  // A join leaning 60 degrees or more from a corner's point normal is not made (the far fan's
  // normals turned 70 degrees), nor one longer than the bound: the smaller fan goes, as before.
  RepairMesh tie = bow_tie(1);
  const Point3D leaning(std::sin(70 * M_PI / 180), 0, std::cos(70 * M_PI / 180));
  tie.normals[3] = tie.normals[4] = leaning;
  EXPECT_EQ(join_fans(tie, 2.0, 0.5), 0);
  EXPECT_EQ(join_fans(tie, 2.0, 0.3), 2);
  tie = bow_tie(1);
  EXPECT_EQ(join_fans(tie, 0.7, 0.5), 0);  // the gap 2, the longest edge at the vertex 2.24
  EXPECT_EQ(resolve_nonmanifold_vertices(tie, 8, split), 1);
}


TEST(ManifoldRepair, RoundsOfFanRemovalLeaveOneFanAtEveryVertex) {
  // Spheres with faces missing at random: removing a small fan at one vertex pinches others,
  // which later rounds look at again.
  long most_removed = 0;
  for (unsigned seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE(seed);
    RepairMesh m = unit_sphere(3);
    std::mt19937 rng(seed);
    std::vector<Coord3D<long long>> kept;
    for (const auto& f : m.faces)
      if (rng() % 100 >= 30) kept.push_back(f);
    m.faces = kept;
    const std::size_t vertices = m.vertices.size();
    long split = 0;
    const long removed = resolve_nonmanifold_vertices(m, 2 + long(seed % 3), split);
    most_removed = std::max(most_removed, removed);
    EXPECT_EQ(long(kept.size()) - removed, long(m.faces.size()));
    EXPECT_EQ(m.vertices.size(), vertices + std::size_t(split));
    const std::vector<int> fans = fans_per_vertex(m);
    EXPECT_EQ(std::count_if(fans.begin(), fans.end(), [](int n) { return n > 1; }), 0);
    // The faces left are faces that were there, in their order, up to the vertex copies.
    std::size_t next = 0;
    for (const auto& f : m.faces) {
      const auto original = [&](long long v) { return std::size_t(v) < vertices ? v : -1; };
      while (next < kept.size() &&
             !((original(f.x) < 0 || f.x == kept[next].x) && (original(f.y) < 0 || f.y == kept[next].y) &&
               (original(f.z) < 0 || f.z == kept[next].z)))
        ++next;
      ASSERT_LT(next, kept.size());
      for (int k = 0; k < 3; ++k)
        EXPECT_EQ(m.vertices[std::size_t(f[k])], m.vertices[std::size_t(kept[next][k])]);
      ++next;
    }
  }
  EXPECT_GT(most_removed, 10);
}

TEST(ManifoldRepair, FansAreFoundWhateverTheFacesOrderAndTurn) {
  // One or two fans at vertex 0 (rings closed round it or open, of 3 to 24 faces, so both
  // fewer and more faces than the quick walk round a vertex takes), their faces shuffled and
  // some turned: a walk round the vertex breaks at turned faces and open ends, and must still
  // tell one fan from two.
  std::mt19937 rng(3);
  int two = 0, one = 0;
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE(trial);
    RepairMesh m;
    m.vertices.push_back(Point3D(0, 0, 0));
    const int rings = 1 + int(rng() % 2);
    for (int r = 0; r < rings; ++r) {
      const int k = 3 + int(rng() % 22);
      const bool closed = rng() % 2 == 0;
      const auto first = (long long)m.vertices.size();
      for (int i = 0; i < k; ++i) {
        const double t = 2.0 * M_PI * i / k;
        m.vertices.push_back(Point3D(std::cos(t), std::sin(t), r == 0 ? 0.5 : -0.5));
      }
      for (int i = 0; i < (closed ? k : k - 1); ++i)
        m.faces.emplace_back(0, first + i, first + (i + 1) % k);
    }
    std::shuffle(m.faces.begin(), m.faces.end(), rng);
    for (auto& f : m.faces)
      if (rng() % 4 == 0) std::swap(f.y, f.z);
    m.colors.assign(m.vertices.size(), {0, 0, 0});
    m.normals.assign(m.vertices.size(), Point3D(0, 0, 1));
    const int fans = fans_per_vertex(m)[0];
    (fans > 1 ? two : one) += 1;
    long split = -1;
    EXPECT_EQ(resolve_nonmanifold_vertices(m, 0, split), 0);
    EXPECT_EQ(split, fans - 1);
    const std::vector<int> after = fans_per_vertex(m);
    EXPECT_EQ(std::count_if(after.begin(), after.end(), [](int n) { return n > 1; }), 0);
  }
  EXPECT_GT(two, 50);
  EXPECT_GT(one, 50);
}

// A sphere damaged at random: repeated corners, copies of faces (turned, reversed or as they
// are), fins on edges, turned faces.
RepairMesh damaged_sphere(unsigned seed) {
  RepairMesh m = unit_sphere(3);
  std::mt19937 rng(seed);
  const auto n = std::uint32_t(m.vertices.size());
  const std::size_t faces = m.faces.size();
  for (int i = 0; i < 60; ++i) {
    const auto f = m.faces[rng() % faces];
    const auto at = m.faces.begin() + long(rng() % (m.faces.size() + 1));
    switch (rng() % 5) {
      case 0: m.faces.insert(at, Coord3D<long long>(f.x, f.x, f.y)); break;
      case 1: m.faces.insert(at, Coord3D<long long>(f.y, f.z, f.x)); break;
      case 2: m.faces.insert(at, Coord3D<long long>(f.z, f.y, f.x)); break;
      case 3: m.faces.insert(at, Coord3D<long long>(f.y, f.x, (long long)(rng() % n))); break;
      default: std::swap(m.faces[rng() % m.faces.size()].y, m.faces[rng() % m.faces.size()].z);
    }
  }
  return m;
}

TEST(ManifoldRepair, SharedEdgeUseTableGivesTheSameRepairsAsSortingAgain) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE(seed);
    RepairMesh fresh = damaged_sphere(seed), shared = fresh;
    std::vector<EdgeUse> uses = edge_uses(shared.faces);
    EXPECT_EQ(remove_degenerate_faces(shared, uses), remove_degenerate_faces(fresh));
    EXPECT_EQ(shared.faces, fresh.faces);
    EXPECT_EQ(uses, edge_uses(shared.faces));
    EXPECT_EQ(remove_nonmanifold_edges(shared, uses), remove_nonmanifold_edges(fresh));
    EXPECT_EQ(shared.faces, fresh.faces);
    EXPECT_EQ(uses, edge_uses(shared.faces));
    RepairMesh last = shared;  // the table's last reader, which leaves it as it is
    const std::vector<EdgeUse> before = uses;
    const long removed = orient_faces(fresh);
    EXPECT_EQ(orient_faces(shared, uses), removed);
    EXPECT_EQ(shared.faces, fresh.faces);
    EXPECT_EQ(uses, edge_uses(shared.faces));  // turned faces traverse their edges the other way
    EXPECT_EQ(orient_faces(last, std::as_const(before)), removed);
    EXPECT_EQ(last.faces, fresh.faces);
  }
}

TEST(ManifoldRepair, EdgeUsesListEachEdgeTogetherInFaceOrder) {
  const RepairMesh m = damaged_sphere(7);
  const std::vector<EdgeUse> uses = edge_uses(m.faces);
  ASSERT_EQ(uses.size(), 3 * m.faces.size());
  EXPECT_TRUE(std::is_sorted(uses.begin(), uses.end()));
  std::vector<int> seen(m.faces.size(), 0);
  for (const EdgeUse& u : uses) {
    const auto& f = m.faces[u.face];
    int matches = 0;
    for (int k = 0; k < 3; ++k) {
      const long long a = f[k], b = f[(k + 1) % 3];
      const auto lo = std::uint64_t(std::min(a, b)), hi = std::uint64_t(std::max(a, b));
      matches += (lo << 32 | hi) == u.key && (a < b) == u.forward;
    }
    EXPECT_GE(matches, 1);
    ++seen[u.face];
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 3), long(seen.size()));
}

TEST(ManifoldRepair, SpecksAreRemovedAndTheLargestPieceKept) {
  RepairMesh m = unit_sphere(2);  // 128 faces
  const auto sphere = m.faces;
  const long long n = (long long)m.vertices.size();
  m.vertices.insert(m.vertices.end(), {{3, 0, 0}, {3, 1, 0}, {3, 0, 1}});
  m.normals.resize(m.vertices.size());
  m.colors.resize(m.vertices.size());
  m.faces.insert(m.faces.begin(), Coord3D<long long>(n, n + 1, n + 2));
  EXPECT_EQ(remove_small_components(m, 1), 0);  // 1 face is not under 1
  EXPECT_EQ(remove_small_components(m, 2), 1);
  EXPECT_EQ(m.faces, sphere);
  EXPECT_EQ(remove_small_components(m, 1000), 0);  // the largest piece stays, however small
  EXPECT_EQ(m.faces, sphere);
}

// A piece within reach of the body everywhere is a layer over it; one that reaches away from it
// anywhere (a limb, however near its base) is not. Neither depends on where the whole lies.
TEST(ManifoldRepair, PiecesLyingOnTheBodyAreTheOnesWithinReachEverywhere) {
  const RepairMesh sphere = unit_sphere(2);
  std::vector<Point3D> v = sphere.vertices;
  std::vector<int> label(v.size(), 0);
  for (int k : {0, 1, 2}) {  // piece 1: three vertices 0.2 above the body's
    v.push_back(sphere.vertices[std::size_t(k)] * 1.2);
    label.push_back(1);
  }
  const Point3D out = sphere.vertices[5];
  for (double r : {1.1, 1.2, 1.6}) {  // piece 2: a limb, its base near the body, its tip far
    v.push_back(out * r);
    label.push_back(2);
  }
  v.push_back(sphere.vertices[3] * 1.1);  // a vertex on no piece
  label.push_back(-1);
  for (const Point3D& shift : {Point3D(0, 0, 0), Point3D(-1e4, 3e4, 7e3)}) {
    std::vector<Point3D> moved = v;
    for (Point3D& p : moved) p += shift;
    const std::vector<char> on = pieces_lying_on(moved, label, 4, 0, 0.3);
    EXPECT_EQ(on, (std::vector<char>{0, 1, 0, 0}));  // piece 3 has no vertex
    EXPECT_EQ(pieces_lying_on(moved, label, 4, 0, 0.15), (std::vector<char>{0, 0, 0, 0}));
    EXPECT_EQ(pieces_lying_on(moved, label, 4, 0, 1.0), (std::vector<char>{0, 1, 1, 0}));
  }
}

}  // namespace
}  // namespace tervik
