// Handle removal on hand-built closed meshes: a sphere with a small handle, two spheres joined
// by a thin tube (a loop around the tube separates them: nothing to cut) and a torus whose hole
// is wide (a real handle, kept).
#include "weaver/closing/handle_removal.h"

#include <cmath>
#include <map>

#include <gtest/gtest.h>

#include "weaver/mesh_fixtures.h"

namespace tervik {
namespace {

using Loop = std::vector<long long>;

// Removes the faces around vertex p and returns the hole's loop in the direction in which the
// remaining faces traverse it.
Loop remove_star(RepairMesh& m, long long p) {
  std::map<long long, long long> next;
  std::vector<Coord3D<long long>> kept;
  for (const auto& f : m.faces) {
    int k = 0;
    while (k < 3 && f[k] != p) ++k;
    if (k == 3) {
      kept.push_back(f);
    } else {
      next[f[(k + 2) % 3]] = f[(k + 1) % 3];  // the star face goes x -> y, the rest y -> x
    }
  }
  m.faces = kept;
  Loop loop{next.begin()->first};
  while (next[loop.back()] != loop.front()) loop.push_back(next[loop.back()]);
  return loop;
}

// Joins two holes of the same length (loops as remove_star returns them) by a tube of `rings`
// segments that arches `lift` outward along the loops' mean point normal.
void add_tube(RepairMesh& m, const Loop& a, const Loop& b, int rings, double lift) {
  const std::size_t n = a.size();
  // b is walked backwards; the shift pairs each vertex of a with the nearest one of b.
  std::size_t shift = 0;
  double best = 1e300;
  for (std::size_t s = 0; s < n; ++s) {
    double d = 0.0;
    for (std::size_t i = 0; i < n; ++i)
      d += norm(m.vertices[std::size_t(a[i])] - m.vertices[std::size_t(b[(s + n - i) % n])]);
    if (d < best) best = d, shift = s;
  }
  Point3D up;
  for (std::size_t i = 0; i < n; ++i)
    up += m.normals[std::size_t(a[i])] + m.normals[std::size_t(b[i])];
  up = up / norm(up);
  std::vector<Loop> ring{a};
  for (int r = 1; r < rings; ++r) {
    const double t = double(r) / rings;
    ring.emplace_back();
    for (std::size_t i = 0; i < n; ++i) {
      const Point3D pa = m.vertices[std::size_t(a[i])];
      const Point3D pb = m.vertices[std::size_t(b[(shift + n - i) % n])];
      m.vertices.push_back(pa * (1 - t) + pb * t + up * (lift * std::sin(M_PI * t)));
      m.normals.push_back(up);
      m.colors.emplace_back(0, 0, 0);
      ring.back().push_back(static_cast<long long>(m.vertices.size() - 1));
    }
  }
  ring.emplace_back();
  for (std::size_t i = 0; i < n; ++i) ring.back().push_back(b[(shift + n - i) % n]);
  for (int r = 0; r < rings; ++r)
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t j = (i + 1) % n;
      const Loop& p = ring[std::size_t(r)];
      const Loop& q = ring[std::size_t(r + 1)];
      m.faces.emplace_back(p[j], p[i], q[i]);
      m.faces.emplace_back(p[j], q[i], q[j]);
    }
}

// A vertex of unit_sphere(3) nearest to `dir` that has six neighbours.
long long vertex_near(const RepairMesh& m, Point3D dir) {
  long long best = -1;
  for (std::size_t i = 6; i < m.vertices.size(); ++i)  // 0-5: the octahedron's, four neighbours
    if (best < 0 || dot(m.vertices[i], dir) > dot(m.vertices[std::size_t(best)], dir))
      best = static_cast<long long>(i);
  return best;
}

// A torus (radii `major` and `minor`) of u x v vertices, outward.
RepairMesh torus(double major, double minor, int u, int v) {
  RepairMesh m;
  for (int i = 0; i < u; ++i)
    for (int j = 0; j < v; ++j) {
      const double a = 2 * M_PI * i / u, b = 2 * M_PI * j / v;
      const Point3D centre(major * std::cos(a), major * std::sin(a), 0.0);
      const Point3D out(std::cos(b) * std::cos(a), std::cos(b) * std::sin(a), std::sin(b));
      m.vertices.push_back(centre + out * minor);
      m.normals.push_back(out);
      m.colors.emplace_back(0, 0, 0);
    }
  const auto at = [&](int i, int j) { return static_cast<long long>(((i + u) % u) * v + (j + v) % v); };
  for (int i = 0; i < u; ++i)
    for (int j = 0; j < v; ++j) {
      m.faces.emplace_back(at(i, j), at(i + 1, j), at(i + 1, j + 1));
      m.faces.emplace_back(at(i, j), at(i + 1, j + 1), at(i, j + 1));
    }
  return m;
}

void expect_closed(const RepairMesh& m, long euler) {
  const testing::Topology t = testing::topology(m.faces);
  EXPECT_EQ(t.boundary, 0);
  EXPECT_EQ(t.nonmanifold, 0);
  EXPECT_EQ(t.inconsistent, 0);
  EXPECT_EQ(t.euler, euler);
}

TEST(HandleRemoval, SmallHandleOnSphereIsCutAndCapped) {
  RepairMesh m = testing::unit_sphere(3);  // 512 faces, edges of about 0.2
  const Loop a = remove_star(m, vertex_near(m, {1, 0.1, 0.2}));
  const Loop b = remove_star(m, vertex_near(m, {0.6, 0.8, 0.2}));
  ASSERT_EQ(a.size(), b.size());
  add_tube(m, a, b, 4, 0.3);
  expect_closed(m, 0);
  ASSERT_EQ(euler_characteristic(m), 0);
  const std::vector<Point3D> before = m.vertices;

  // Given the mesh as a half-edge mesh, the same handle goes the same way, and the half-edge
  // mesh is given up once cut along.
  RepairMesh given = m;
  long refused = 0;
  HoleMesh closed = to_hole_mesh(given, refused);
  ASSERT_EQ(refused, 0);
  const HandleRemoval g = remove_handles(given, 4.0 * mean_edge_length(given), 2, std::nullopt, &closed);
  EXPECT_EQ(closed.n_vertices(), 0u);

  const HandleRemoval r = remove_handles(m, 4.0 * mean_edge_length(m));
  EXPECT_EQ(given.faces, m.faces);
  EXPECT_EQ(given.vertices, m.vertices);
  EXPECT_EQ(g.faces_added, r.faces_added);
  EXPECT_EQ(r.handles, 1);
  EXPECT_EQ(r.euler_before, 0);
  EXPECT_EQ(r.euler_after, 2);
  EXPECT_LE(r.longest_cut, 12);
  expect_closed(m, 2);
  // Old vertices keep their index and place; the cut's copies and the caps' vertices follow.
  ASSERT_EQ(m.vertices.size(), before.size() + std::size_t(r.vertices_added));
  for (std::size_t i = 0; i < before.size(); ++i) EXPECT_EQ(norm(m.vertices[i] - before[i]), 0.0);
  EXPECT_EQ(m.colors.size(), m.vertices.size());
  EXPECT_EQ(m.normals.size(), m.vertices.size());
}

TEST(HandleRemoval, CutAlongLoopOpensTwoBoundaries) {
  RepairMesh m = testing::unit_sphere(3);
  add_tube(m, remove_star(m, vertex_near(m, {1, 0.1, 0.2})),
           remove_star(m, vertex_near(m, {0.6, 0.8, 0.2})), 4, 0.3);
  long refused = 0;
  const HoleMesh hm = to_hole_mesh(m, refused);
  ASSERT_EQ(refused, 0);
  const auto loops = find_handle_loops(hm, 4.0 * mean_edge_length(m));
  ASSERT_EQ(loops.size(), 1u);
  const std::size_t faces = m.faces.size();
  cut_along_loops(m, hm, loops);
  EXPECT_EQ(m.faces.size(), faces);
  const testing::Topology t = testing::topology(m.faces);
  EXPECT_EQ(t.boundary, 2 * long(loops[0].size()));
  EXPECT_EQ(t.nonmanifold, 0);
  EXPECT_EQ(t.inconsistent, 0);
  EXPECT_EQ(t.euler, 0);  // a torus cut open into an annulus
}

TEST(HandleRemoval, ThinTubeBetweenTwoSpheresSeparatesAndStays) {
  RepairMesh m = testing::unit_sphere(3);
  const Loop a = remove_star(m, vertex_near(m, {1, 0.1, 0.1}));
  RepairMesh other = testing::unit_sphere(3);
  const long long offset = static_cast<long long>(m.vertices.size());
  for (auto& p : other.vertices) m.vertices.push_back(p + Point3D(2.6, 0, 0));
  m.normals.insert(m.normals.end(), other.normals.begin(), other.normals.end());
  m.colors.insert(m.colors.end(), other.colors.begin(), other.colors.end());
  for (const auto& f : other.faces) m.faces.emplace_back(f.x + offset, f.y + offset, f.z + offset);
  const Loop b = remove_star(m, offset + vertex_near(other, {-1, 0.1, 0.1}));
  ASSERT_EQ(a.size(), b.size());
  add_tube(m, a, b, 4, 0.0);
  expect_closed(m, 2);
  const std::size_t faces = m.faces.size();
  const HandleRemoval r = remove_handles(m, 4.0 * mean_edge_length(m));
  EXPECT_EQ(r.handles, 0);
  EXPECT_EQ(m.faces.size(), faces);
  expect_closed(m, 2);
}

TEST(HandleRemoval, WideTorusKeepsItsHandle) {
  RepairMesh m = torus(1.0, 0.4, 40, 16);
  expect_closed(m, 0);
  const HandleRemoval r = remove_handles(m, 4.0 * mean_edge_length(m));
  EXPECT_EQ(r.handles, 0);
  expect_closed(m, 0);
  // A torus as thin as a few edges is a small handle: it is cut open and capped into a sphere.
  RepairMesh thin = torus(1.0, 0.08, 40, 5);
  const HandleRemoval t = remove_handles(thin, 4.0 * mean_edge_length(thin));
  EXPECT_EQ(t.handles, 1);
  expect_closed(thin, 2);
}

// A tube whose rings are a little too long for a region of the given radius: while the handle
// is left, one search with half again the radius finds it (the wide torus above keeps its
// handle through that search too).
TEST(HandleRemoval, HandleJustWiderThanTheRadiusIsFoundByTheWiderSearch) {
  RepairMesh m = torus(1.0, 0.24, 40, 12);
  const double radius = 4.0 * mean_edge_length(m);
  long refused = 0;
  ASSERT_TRUE(find_handle_loops(to_hole_mesh(m, refused), radius).empty());
  const HandleRemoval r = remove_handles(m, radius);
  EXPECT_EQ(r.handles, 1);
  EXPECT_EQ(r.euler_after, 2);
  expect_closed(m, 2);
}

TEST(HandleRemoval, SearchStartsAtTheGivenSeeds) {
  // Every ring around a thin torus's tube is a handle loop; the first one found lies where the
  // regions start growing: at vertex 0 (ring 0) by default, at the seed when one is given.
  const RepairMesh thin = torus(1.0, 0.08, 40, 5);
  long refused = 0;
  const HoleMesh hm = to_hole_mesh(thin, refused);
  ASSERT_EQ(refused, 0);
  const double radius = 4.0 * mean_edge_length(thin);
  const auto ring_distance = [](int vertex, int ring) {
    const int d = std::abs(vertex / 5 - ring);
    return std::min(d, 40 - d);
  };
  for (int ring : {0, 20}) {
    const std::vector<HoleMesh::VertexHandle> seeds =
        ring == 0 ? std::vector<HoleMesh::VertexHandle>() : std::vector{HoleMesh::VertexHandle(ring * 5 + 2)};
    const auto loops = find_handle_loops(hm, radius, 1, seeds);
    ASSERT_EQ(loops.size(), 1u);
    for (const auto v : loops[0]) EXPECT_LE(ring_distance(v.idx(), ring), 4) << "ring " << ring;
  }
}

}  // namespace
}  // namespace tervik
