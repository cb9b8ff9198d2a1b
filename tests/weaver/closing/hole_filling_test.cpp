// Closing holes: the loop triangulations, and whole holes closed in a sphere.
#include "weaver/closing/hole_filling.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <random>

#include <gtest/gtest.h>

#include "weaver/closing/handle_removal.h"
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
  EXPECT_EQ(r.euler, 2);
  EXPECT_EQ(long(m.faces.size() - kept), r.faces_added);
  EXPECT_EQ(long(m.vertices.size() - old_vertices), r.vertices_added);
  testing::expect_closed_genus_zero(m.faces);
  double worst = 0.0;
  for (std::size_t v = old_vertices; v < m.vertices.size(); ++v)
    worst = std::max(worst, std::fabs(norm(m.vertices[v]) - 1.0));
  EXPECT_LT(worst, 0.25);  // the membrane spans the cap (height about 0.23) from its rim
  for (std::size_t f = kept; f < m.faces.size(); ++f) {
    const Point3D a = m.vertices[std::size_t(m.faces[f].x)], b = m.vertices[std::size_t(m.faces[f].y)],
                  c = m.vertices[std::size_t(m.faces[f].z)];
    EXPECT_GT(dot(cross(b - a, c - a), a + b + c), 0.0) << "face " << f;
    EXPECT_LT(std::max({norm(b - a), norm(c - b), norm(a - c)}), 0.25) << "face " << f;
  }
}

// A sphere without the ring of faces between heights 0.55 and 0.75: the cap above is a
// detached piece in the hole of the rest.
RepairMesh sphere_without_ring() {
  RepairMesh m = testing::unit_sphere(4);
  std::vector<Coord3D<long long>> kept;
  for (const auto& f : m.faces) {
    const double z = (m.vertices[std::size_t(f.x)].z + m.vertices[std::size_t(f.y)].z +
                      m.vertices[std::size_t(f.z)].z) / 3.0;
    if (z < 0.55 || z > 0.75) kept.push_back(f);
  }
  m.faces = kept;
  return m;
}

TEST(HoleFilling, PieceInAHoleIsJoinedByABandFacingOutward) {
  // Closing both rims on their own would make two closed pieces (the cap a pancake, half of it
  // facing inward); the band joins them into one sphere.
  RepairMesh m = sphere_without_ring();
  ASSERT_EQ(component_count(m), 2);
  const std::size_t old_faces = m.faces.size();
  const HoleFilling r = fill_holes(m);
  EXPECT_EQ(r.holes_closed, 2);
  EXPECT_EQ(r.holes_left, 0);
  EXPECT_EQ(r.euler, 2);
  EXPECT_EQ(component_count(m), 1);
  testing::expect_closed_genus_zero(m.faces);
  for (std::size_t f = old_faces; f < m.faces.size(); ++f) {
    const Point3D a = m.vertices[std::size_t(m.faces[f].x)], b = m.vertices[std::size_t(m.faces[f].y)],
                  c = m.vertices[std::size_t(m.faces[f].z)];
    EXPECT_GT(dot(cross(b - a, c - a), a + b + c), 0.0) << "face " << f;
    EXPECT_GT((a + b + c).z / 3.0, 0.45) << "face " << f;  // in the ring, not across the sphere
  }
}

TEST(HoleFilling, PiecesOfTheResultAreCounted) {
  // A sphere whose cap is detached by a ring of missing faces (a band joins it again), and a
  // second sphere with a hole: three pieces before, two after.
  RepairMesh m = sphere_without_ring();
  RepairMesh other = testing::unit_sphere(3);
  testing::cut_cap(other, 0.7);
  testing::append_piece(m, other, Point3D(4, 0, 0));
  ASSERT_EQ(component_count(m), 3);
  const HoleFilling r = fill_holes(m);
  EXPECT_EQ(r.holes_closed, 3);
  EXPECT_EQ(r.holes_left, 0);
  EXPECT_EQ(component_count(m), 2);
  EXPECT_EQ(r.pieces, 2);
  // Closing only marked holes counts no pieces.
  RepairMesh open = testing::unit_sphere(3);
  testing::cut_cap(open, 0.7);
  const HoleFilling marked = fill_marked_holes(open, std::vector<char>(open.vertices.size(), 1), mean_edge_length(open));
  EXPECT_EQ(marked.holes_closed, 1);
  EXPECT_EQ(marked.pieces, -1);
}

TEST(HoleFilling, DetachedPieceNoBandJoinsIsClosedNotRemoved) {
  // A sphere with a hole at the top, and a copy of the top cap lying just over the bottom (turned
  // half round the x axis): a piece whose rim runs along no hole and near no other rim. It may
  // be a limb that the points show only in part: it is closed on its own, every face kept.
  RepairMesh m = testing::unit_sphere(4);
  std::vector<Coord3D<long long>> cap;
  for (const auto& f : m.faces)
    if (std::min({m.vertices[std::size_t(f.x)].z, m.vertices[std::size_t(f.y)].z, m.vertices[std::size_t(f.z)].z}) > 0.85)
      cap.push_back(f);
  std::map<long long, long long> copy;
  for (auto& f : cap)
    for (long long* v : {&f.x, &f.y, &f.z}) {
      if (!copy.count(*v)) {
        const Point3D p = m.vertices[std::size_t(*v)];
        copy[*v] = (long long)m.vertices.size();
        m.vertices.push_back(Point3D(p.x, -p.y, -p.z) * 1.01);
        m.normals.push_back(Point3D(p.x, -p.y, -p.z));
        m.colors.push_back(m.colors[std::size_t(*v)]);
      }
      *v = copy[*v];
    }
  testing::cut_cap(m, 0.8);
  m.faces.insert(m.faces.end(), cap.begin(), cap.end());
  const auto before = m.faces;
  ASSERT_EQ(component_count(m), 2);
  const HoleFilling r = fill_holes(m);
  EXPECT_EQ(r.faces_opened, 0);
  EXPECT_EQ(r.holes_closed, 2);
  EXPECT_EQ(r.pieces, 2);
  EXPECT_EQ(component_count(m), 2);
  const testing::Topology t = testing::topology(m.faces);
  EXPECT_EQ(t.boundary, 0);
  EXPECT_EQ(t.nonmanifold, 0);
  EXPECT_EQ(t.euler, 4);  // two closed surfaces of genus 0
  EXPECT_EQ(m.faces.size(), before.size() + std::size_t(r.faces_added));
  std::set<long long> used;
  for (const auto& f : m.faces) used.insert({f.x, f.y, f.z});
  for (const auto& [original, v] : copy) EXPECT_TRUE(used.count(v)) << "vertex " << v << " of the piece";
}

TEST(HoleFilling, PieceInTheMiddleOfAHoleIsBridgedToItsRim) {
  // A sphere without its cap over z = 0.8, and a small piece of that cap (over z = 0.97) left in
  // the middle of the hole: too far from the rim all round for a band, and, closed on its own, a
  // two-sided pancake. It is bridged to the rim and the hole closed round it.
  RepairMesh m = testing::unit_sphere(4);
  std::vector<Coord3D<long long>> piece;
  for (const auto& f : m.faces)
    if (std::min({m.vertices[std::size_t(f.x)].z, m.vertices[std::size_t(f.y)].z, m.vertices[std::size_t(f.z)].z}) > 0.97)
      piece.push_back(f);
  testing::cut_cap(m, 0.8);
  m.faces.insert(m.faces.end(), piece.begin(), piece.end());
  ASSERT_GE(piece.size(), 10u);
  ASSERT_EQ(component_count(m), 2);
  const HoleFilling r = fill_holes(m);
  EXPECT_EQ(r.pieces, 1);
  EXPECT_GE(r.bridges, 1);
  EXPECT_EQ(component_count(m), 1);
  testing::expect_closed_genus_zero(m.faces);
  std::set<long long> used;
  for (const auto& f : m.faces) used.insert({f.x, f.y, f.z});
  for (const auto& f : piece) EXPECT_TRUE(used.count(f.x) && used.count(f.y) && used.count(f.z));
}

// A hole with a rim of about 120 edges is split by chords into short parts before it is
// triangulated: the patch still closes the sphere, runs the rim's way round, spans the hole
// from its rim and keeps its edges near the rim's length.
TEST(HoleFilling, LongRimIsSplitIntoPartsAndStillClosedOutward) {
  RepairMesh m = testing::unit_sphere(5);  // 8192 faces, edges of about 0.05
  testing::cut_cap(m, 0.2);
  const std::size_t kept = m.faces.size(), old_vertices = m.vertices.size();
  ASSERT_GT(testing::topology(m.faces).boundary, 100);
  const HoleFilling r = fill_holes(m);
  EXPECT_EQ(r.holes_closed, 1);
  EXPECT_GT(r.largest_hole, 100);
  EXPECT_EQ(r.holes_left, 0);
  EXPECT_EQ(r.euler, 2);
  testing::expect_closed_genus_zero(m.faces);
  long outward = 0;
  double longest = 0.0;
  for (std::size_t f = kept; f < m.faces.size(); ++f) {
    const Point3D a = m.vertices[std::size_t(m.faces[f].x)], b = m.vertices[std::size_t(m.faces[f].y)],
                  c = m.vertices[std::size_t(m.faces[f].z)];
    outward += dot(cross(b - a, c - a), Point3D(0, 0, 1)) > 0.0;
    longest = std::max({longest, norm(b - a), norm(c - b), norm(a - c)});
  }
  // The membrane over a rim just under the plane z = 0.2 is nearly flat: every face faces up.
  EXPECT_EQ(outward, long(m.faces.size() - kept));
  EXPECT_LT(longest, 0.12);  // rim edges about 0.05; split above 4/3 of the local length
  for (std::size_t v = old_vertices; v < m.vertices.size(); ++v) {  // between the rim's heights
    EXPECT_GT(m.vertices[v].z, 0.1);
    EXPECT_LT(m.vertices[v].z, 0.2);
  }
}

// Of a sphere only a belt around the equator is left: a patch refined to the rim's edge length
// over either hole would hold more faces than the belt, so both are graded, coarser away from
// their rims, yet still close the surface outward, and their edges at the rims stay near the
// rims' length.
TEST(HoleFilling, PatchesOverHolesLargerThanTheMeshAreGradedFromTheirRims) {
  RepairMesh m = testing::unit_sphere(4);  // edges of about 0.1
  std::vector<Coord3D<long long>> belt;
  for (const auto& f : m.faces)
    if (std::max({std::fabs(m.vertices[std::size_t(f.x)].z), std::fabs(m.vertices[std::size_t(f.y)].z),
                  std::fabs(m.vertices[std::size_t(f.z)].z)}) <= 0.15)
      belt.push_back(f);
  m.faces = belt;
  const std::size_t kept = m.faces.size(), old_vertices = m.vertices.size();
  const long rim = testing::topology(m.faces).boundary / 2;  // the rim of each hole
  ASSERT_GT(rim * rim, 6 * long(kept));
  double rim_length = 0.0;  // the mean rim edge, from the edges used once
  {
    std::map<std::pair<long long, long long>, int> uses;
    for (const auto& f : m.faces)
      for (const auto& [a, b] : {std::pair(f.x, f.y), std::pair(f.y, f.z), std::pair(f.z, f.x)})
        ++uses[std::minmax(a, b)];
    for (const auto& [e, n] : uses)
      if (n == 1) rim_length += norm(m.vertices[std::size_t(e.first)] - m.vertices[std::size_t(e.second)]);
    rim_length /= double(2 * rim);
  }
  const HoleFilling r = fill_holes(m);
  EXPECT_EQ(r.holes_closed, 2);
  EXPECT_EQ(r.euler, 2);
  testing::expect_closed_genus_zero(m.faces);
  // Edges between a rim corner and a new vertex (at the rim) and between two new vertices
  // (inside): their longest and their sum and count.
  double at_rim = 0.0, inside = 0.0, rim_sum = 0.0, inside_sum = 0.0;
  long rim_edges = 0, inside_edges = 0;
  for (std::size_t f = kept; f < m.faces.size(); ++f) {
    const std::array<std::size_t, 3> c{std::size_t(m.faces[f].x), std::size_t(m.faces[f].y), std::size_t(m.faces[f].z)};
    const Point3D a = m.vertices[c[0]], b = m.vertices[c[1]], d = m.vertices[c[2]];
    EXPECT_GT(dot(cross(b - a, d - a), a + b + d), 0.0) << "face " << f;  // the lids face outward
    for (int k = 0; k < 3; ++k) {
      const std::size_t u = c[std::size_t(k)], w = c[std::size_t((k + 1) % 3)];
      const double length = norm(m.vertices[u] - m.vertices[w]);
      if (u >= old_vertices && w >= old_vertices) inside = std::max(inside, length), inside_sum += length, ++inside_edges;
      else if (u >= old_vertices || w >= old_vertices) at_rim = std::max(at_rim, length), rim_sum += length, ++rim_edges;
    }
  }
  ASSERT_GT(rim_edges, 0);
  ASSERT_GT(inside_edges, 0);
  // Coarser inside than at the rim, where edges stay within a few rim lengths.
  EXPECT_GT(inside_sum / double(inside_edges), 1.2 * rim_sum / double(rim_edges));
  EXPECT_LT(at_rim, 4.0 * rim_length);
  // Inside, edges grow past the 4/3 of the rim's length that ends refinement on a plain patch,
  // up to 4/3 of four times it.
  EXPECT_GT(inside, 1.5 * rim_length);
  EXPECT_LT(inside, 4.0 * 4.0 / 3.0 * rim_length);
  // Far fewer vertices than two discs of rim-length edges would take (about rim^2 / 12 each).
  EXPECT_LT(r.vertices_added, rim * rim / 12);
}

TEST(HoleFilling, OnlyHolesOfMarkedVerticesAreClosed) {
  RepairMesh m = testing::unit_sphere(4);
  testing::cut_cap(m, 0.8);  // a hole at the top
  std::vector<Coord3D<long long>> kept;  // and one at the bottom
  for (const auto& f : m.faces)
    if (m.vertices[std::size_t(f.x)].z >= -0.8 && m.vertices[std::size_t(f.y)].z >= -0.8 &&
        m.vertices[std::size_t(f.z)].z >= -0.8)
      kept.push_back(f);
  m.faces = kept;
  const testing::Topology open = testing::topology(m.faces);
  ASSERT_EQ(open.euler, 0);  // two holes
  RepairMesh copy = m;
  ASSERT_EQ(fill_holes(copy).holes_closed, 2);
  // Marked: the vertices of the top half, the top rim among them.
  const std::size_t old_faces = m.faces.size(), old_vertices = m.vertices.size();
  std::vector<char> marked(m.vertices.size(), 0);
  for (std::size_t v = 0; v < m.vertices.size(); ++v) marked[v] = m.vertices[v].z > 0.5;
  const HoleFilling r = fill_marked_holes(m, marked, mean_edge_length(m));
  EXPECT_EQ(r.holes_closed, 1);
  EXPECT_EQ(r.holes_left, 0);
  EXPECT_EQ(r.euler_change, 1);  // one disc
  EXPECT_EQ(long(m.faces.size() - old_faces), r.faces_added);
  EXPECT_EQ(long(m.vertices.size() - old_vertices), r.vertices_added);
  const testing::Topology t = testing::topology(m.faces);
  EXPECT_EQ(t.boundary, open.boundary - r.largest_hole);  // the bottom hole is still open
  EXPECT_EQ(t.nonmanifold, 0);
  EXPECT_EQ(t.inconsistent, 0);
  EXPECT_EQ(t.euler, 1);
  for (std::size_t f = old_faces; f < m.faces.size(); ++f) {
    const Point3D a = m.vertices[std::size_t(m.faces[f].x)], b = m.vertices[std::size_t(m.faces[f].y)],
                  c = m.vertices[std::size_t(m.faces[f].z)];
    EXPECT_GT(cross(b - a, c - a).z, 0.0) << "face " << f;  // the top patch faces up
  }
}

// The faces around one small hole of the mesh woven from a sculpted sphere (radius 0.5 about
// the origin, 4 x 10^4 points): their corners' positions and point normals, and the hole's loop.
struct SculptedRim {
  std::vector<Point3D> vertices, normals;
  std::vector<Coord3D<long long>> faces;
  std::vector<long long> loop;
};

TEST(HoleFilling, PatchOnATwistedRimFoldsNeitherItNorTheRim) {
  const SculptedRim rims[] = {
      // Three corners: the one triangle over them faces into the sphere, beside a rim face.
      {{{-0.13911, -0.16423, 0.44920}, {-0.13609, -0.16369, 0.45025}, {-0.13074, -0.14454, 0.46437},
        {-0.13577, -0.16364, 0.45088}, {-0.14461, -0.16586, 0.44763}, {-0.13621, -0.16502, 0.45054},
        {-0.13617, -0.16722, 0.45145}, {-0.13713, -0.16693, 0.45115}, {-0.13694, -0.16297, 0.45012},
        {-0.13800, -0.17848, 0.44519}},
       {{-0.370, 0.259, 0.892}, {-0.370, 0.259, 0.892}, {-0.330, 0.178, 0.927}, {-0.370, 0.259, 0.892},
        {-0.370, 0.259, 0.892}, {-0.370, 0.259, 0.892}, {-0.370, 0.259, 0.892}, {-0.370, 0.259, 0.892},
        {-0.370, 0.259, 0.892}, {-0.087, -0.666, 0.741}},
       {{2, 8, 3}, {2, 3, 6}, {3, 8, 1}, {6, 3, 7}, {1, 0, 5}, {0, 4, 7}, {1, 5, 3}, {5, 0, 7}, {7, 4, 9},
        {7, 9, 6}},
       {3, 5, 7}},
      // Four corners: the least-area pair of triangles folds back over the rim.
      {{{-0.37524, -0.25169, -0.21075}, {-0.35112, -0.23197, -0.27008}, {-0.38064, -0.24054, -0.21676},
        {-0.37010, -0.25962, -0.21369}, {-0.37275, -0.25620, -0.21422}, {-0.37652, -0.24964, -0.21387},
        {-0.38083, -0.23743, -0.21611}, {-0.37869, -0.24213, -0.21593}, {-0.38015, -0.23713, -0.21477},
        {-0.37598, -0.20157, -0.25740}, {-0.37393, -0.19904, -0.26203}, {-0.34413, -0.25171, -0.26812},
        {-0.36709, -0.26402, -0.21715}, {-0.36858, -0.26192, -0.21520}, {-0.37236, -0.25684, -0.21649},
        {-0.38024, -0.24628, -0.20752}, {-0.38480, -0.20674, -0.23852}, {-0.38639, -0.20929, -0.23484}},
       {{-0.835, -0.539, 0.110}, {-0.822, -0.413, 0.394}, {-0.746, -0.267, 0.610}, {-0.810, -0.581, 0.080},
        {-0.789, -0.575, 0.216}, {-0.875, -0.483, -0.037}, {-0.746, -0.267, 0.610}, {-0.890, -0.413, -0.193},
        {-0.746, -0.267, 0.610}, {-0.193, -0.826, -0.529}, {-0.193, -0.826, -0.529}, {-0.633, -0.277, -0.723},
        {-0.802, -0.597, -0.011}, {-0.825, -0.557, 0.094}, {-0.785, -0.600, 0.153}, {-0.862, -0.343, -0.374},
        {-0.562, -0.575, -0.595}, {-0.576, -0.512, -0.637}},
       {{3, 4, 14}, {3, 14, 13}, {13, 14, 12}, {4, 0, 5}, {4, 5, 14}, {0, 15, 5}, {5, 15, 7}, {7, 15, 2},
        {2, 15, 8}, {2, 8, 6}, {6, 17, 2}, {2, 17, 16}, {2, 16, 9}, {2, 9, 14}, {14, 9, 10}, {14, 10, 1},
        {11, 12, 14}, {14, 1, 11}},
       {7, 2, 14, 5}},
  };
  for (const SculptedRim& rim : rims) {
    SCOPED_TRACE(rim.loop.size());
    RepairMesh m;
    m.vertices = rim.vertices;
    m.normals = rim.normals;
    m.colors.assign(m.vertices.size(), Coord3D<unsigned char>(0, 0, 0));
    m.faces = rim.faces;
    std::vector<char> marked(m.vertices.size(), 0);
    for (const long long v : rim.loop) marked[std::size_t(v)] = 1;
    const std::size_t kept = m.faces.size();
    ASSERT_EQ(fill_marked_holes(m, marked, mean_edge_length(m)).holes_closed, 1);
    // Every face, the rim's included (its edges to the patch may be flipped), faces out of the
    // sphere, and no new face meets a neighbour at more than 90 degrees.
    const auto area = [&](const Coord3D<long long>& f) {
      return cross(m.vertices[std::size_t(f.y)] - m.vertices[std::size_t(f.x)],
                   m.vertices[std::size_t(f.z)] - m.vertices[std::size_t(f.x)]);
    };
    std::map<std::pair<long long, long long>, std::vector<std::size_t>> beside;
    for (std::size_t f = 0; f < m.faces.size(); ++f) {
      const auto& t = m.faces[f];
      EXPECT_GT(dot(area(t), m.vertices[std::size_t(t.x)] + m.vertices[std::size_t(t.y)] + m.vertices[std::size_t(t.z)]), 0.0)
          << "face " << f;
      for (int k = 0; k < 3; ++k) beside[{std::min(t[k], t[(k + 1) % 3]), std::max(t[k], t[(k + 1) % 3])}].push_back(f);
    }
    for (const auto& [edge, faces] : beside)
      if (faces.size() == 2 && std::max(faces[0], faces[1]) >= kept)
        EXPECT_GT(dot(area(m.faces[faces[0]]), area(m.faces[faces[1]])), 0.0)
            << "edge " << edge.first << "-" << edge.second;
  }
}

}  // namespace
}  // namespace tervik

namespace tervik {
namespace {

// An L-shaped polygon in the plane z = 0, counter-clockwise seen from +z, two corners per unit.
std::vector<Point3D> l_shape() {
  std::vector<Point3D> p;
  const double corners[][2] = {{0, 0}, {4, 0}, {4, 2}, {2, 2}, {2, 4}, {0, 4}};
  for (int c = 0; c < 6; ++c) {
    const double* a = corners[c];
    const double* b = corners[(c + 1) % 6];
    const int steps = int(std::hypot(b[0] - a[0], b[1] - a[1]) * 2);
    for (int s = 0; s < steps; ++s)
      p.emplace_back(a[0] + (b[0] - a[0]) * s / steps, a[1] + (b[1] - a[1]) * s / steps, 0.0);
  }
  return p;
}

// Every triangle faces +z, and together they cover the polygon's area exactly once.
void expect_tiles_l_shape(const std::vector<Point3D>& p, const std::vector<std::array<int, 3>>& t) {
  ASSERT_EQ(t.size(), p.size() - 2);
  double area = 0.0;
  for (const auto& f : t) {
    const Point3D n = cross(p[std::size_t(f[1])] - p[std::size_t(f[0])], p[std::size_t(f[2])] - p[std::size_t(f[0])]);
    EXPECT_GT(n.z, 1e-9) << f[0] << " " << f[1] << " " << f[2];
    area += 0.5 * n.z;
  }
  EXPECT_NEAR(area, 12.0, 1e-9);
}

TEST(LoopTriangulation, BothMethodsTileANonConvexPolygonFacingOutward) {
  const std::vector<Point3D> p = l_shape();
  const std::vector<Point3D> up(p.size(), Point3D(0, 0, 1));
  const auto any = [](int, int) { return true; };
  expect_tiles_l_shape(p, min_area_triangulation(p, any));
  expect_tiles_l_shape(p, ear_triangulation(p, up, any));
  // The minimum-area triangles keep the polygon's direction: (i, m, k) with i < m < k.
  for (const auto& f : min_area_triangulation(p, any)) EXPECT_TRUE(f[0] < f[1] && f[1] < f[2]);
}

// Every triangulation of the polygon i, i+1, ..., k closed by the chord k-i, as lists of
// triangles (i, m, k); chords that `allowed` refuses are left out.
std::vector<std::vector<std::array<int, 3>>> all_triangulations(int i, int k, int n,
                                                                 const std::function<bool(int, int)>& allowed) {
  if (k - i < 2) return {{}};
  if (!(i == 0 && k == n - 1) && !allowed(i, k)) return {};
  std::vector<std::vector<std::array<int, 3>>> out;
  for (int m = i + 1; m < k; ++m)
    for (const auto& left : all_triangulations(i, m, n, allowed))
      for (const auto& right : all_triangulations(m, k, n, allowed)) {
        auto t = left;
        t.insert(t.end(), right.begin(), right.end());
        t.push_back({i, m, k});
        out.push_back(std::move(t));
      }
  return out;
}

TEST(LoopTriangulation, MinimumAreaTriangulationCostsNoMoreThanAnyOther) {
  // Small warped polygons, steered and not, with and without forbidden chords: the dynamic
  // programme's triangulation costs as little as the cheapest of all triangulations, each
  // triangle costing its area, a quarter of its squared edges, and a hundred times its squared
  // edges more where it is nearly flat or faces against the steering normals.
  const auto cost_of = [](const std::vector<Point3D>& p, const std::vector<Point3D>& normals,
                          const std::vector<std::array<int, 3>>& tris) {
    double total = 0.0;
    for (const auto& t : tris) {
      const Point3D &a = p[std::size_t(t[0])], &b = p[std::size_t(t[1])], &c = p[std::size_t(t[2])];
      const Point3D twice = cross(b - a, c - a);
      const double edges = dist2(a, b) + dist2(b, c) + dist2(c, a), area = 0.5 * norm(twice);
      total += area + 0.25 * edges;
      if (2.0 * area < 1e-6 * edges) total += 100.0 * edges;
      if (!normals.empty() &&
          dot(twice, normals[std::size_t(t[0])] + normals[std::size_t(t[1])] + normals[std::size_t(t[2])]) < 0.0)
        total += 100.0 * edges;
    }
    return total;
  };
  const auto any = [](int, int) { return true; };
  const auto no_short_cuts = [](int i, int k) { return k - i != 3 && (i + k) % 4 != 1; };
  int checked = 0;
  for (int n = 4; n <= 9; ++n)
    for (int shape = 0; shape < 6; ++shape) {
      std::vector<Point3D> p, normals;
      for (int i = 0; i < n; ++i) {
        const double t = 2.0 * M_PI * i / n;
        const double r = 1.0 + 0.45 * std::sin(double(shape + 2) * t + shape);
        p.emplace_back(r * std::cos(t) * (1.0 + 0.3 * shape), r * std::sin(t), 0.4 * std::cos(double(shape + 1) * t));
        const Point3D tilt(0.5 * std::sin(3.0 * t + shape), 0.5 * std::cos(2.0 * t), 1.0);
        normals.push_back(tilt / norm(tilt));
      }
      // Collinear corners on one side give nearly flat triangles to avoid.
      if (shape == 5) p[1] = 0.5 * (p[0] + p[2]);
      for (const bool steered : {false, true})
        for (const auto& allowed : {std::function<bool(int, int)>(any), std::function<bool(int, int)>(no_short_cuts)}) {
          const std::vector<Point3D> steer = steered ? normals : std::vector<Point3D>();
          const auto all = all_triangulations(0, n - 1, n, allowed);
          const auto best = min_area_triangulation(p, allowed, steer);
          if (all.empty()) {
            EXPECT_TRUE(best.empty()) << n << " " << shape;
            continue;
          }
          ASSERT_EQ(best.size(), std::size_t(n - 2)) << n << " " << shape;
          double least = std::numeric_limits<double>::infinity();
          for (const auto& t : all) least = std::min(least, cost_of(p, steer, t));
          EXPECT_NEAR(cost_of(p, steer, best), least, 1e-9 * least) << n << " " << shape << " " << steered;
          ++checked;
        }
    }
  EXPECT_GT(checked, 100);
}

TEST(LoopTriangulation, ChordListsBarTheChordsTheFunctionBars) {
  // The list form against the function form on bumpy polygons, with lists holding random
  // partners (one way round only, repeated, the corner itself, out of range), steered or not.
  std::mt19937 rng(7);
  int compared = 0, barred_some = 0, none_left = 0;
  for (int round = 0; round < 400; ++round) {
    const int n = 3 + int(rng() % 14);
    std::vector<Point3D> p, normals;
    for (int i = 0; i < n; ++i) {
      const double t = 2.0 * M_PI * i / n, r = 1.0 + 0.4 * double(rng() % 1000) / 1000.0;
      p.emplace_back(r * std::cos(t), r * std::sin(t), 0.3 * double(rng() % 1000) / 1000.0);
      const Point3D tilt(0.6 * double(int(rng() % 1000) - 500) / 500.0, 0.6 * double(int(rng() % 1000) - 500) / 500.0, 1.0);
      normals.push_back(tilt / norm(tilt));
    }
    std::vector<std::vector<int>> lists{std::size_t(n)};
    const int entries = int(rng() % std::uint32_t(4 * n));
    for (int e = 0; e < entries; ++e) {
      const int i = int(rng() % std::uint32_t(n));
      const int k = int(rng() % std::uint32_t(n + 2));  // n, n + 1: out of range
      lists[std::size_t(i)].push_back(k);
      if (rng() % 4 == 0) lists[std::size_t(i)].push_back(k);
    }
    for (int i = 0; i < n; ++i) {
      lists[std::size_t(i)].push_back((i + 1) % n);  // neighbours, as the mesh's edges give
      std::shuffle(lists[std::size_t(i)].begin(), lists[std::size_t(i)].end(), rng);
    }
    std::vector<std::size_t> start{0};
    std::vector<int> joined;
    for (const auto& l : lists) {
      joined.insert(joined.end(), l.begin(), l.end());
      start.push_back(joined.size());
    }
    const auto listed = [&](int i, int k) {
      return std::find(lists[std::size_t(i)].begin(), lists[std::size_t(i)].end(), k) != lists[std::size_t(i)].end();
    };
    const std::function<bool(int, int)> allowed = [&](int i, int k) { return !listed(i, k) && !listed(k, i); };
    for (const bool steered : {false, true}) {
      const std::vector<Point3D> steer = steered ? normals : std::vector<Point3D>();
      const auto want = min_area_triangulation(p, allowed, steer);
      EXPECT_EQ(min_area_triangulation(p, start, joined, steer), want) << round << " " << steered;
      ++compared;
      none_left += want.empty();
    }
    barred_some += entries > 0;
  }
  EXPECT_EQ(compared, 800);
  EXPECT_GT(barred_some, 300);
  EXPECT_GT(none_left, 20) << barred_some;
  EXPECT_LT(none_left, 600);
}

TEST(LoopTriangulation, ForbiddenChordsAreAvoidedOrReported) {
  const std::vector<Point3D> square = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  const std::vector<Point3D> up(4, Point3D(0, 0, 1));
  // Only the diagonal 1-3 is allowed: both use it.
  const auto only13 = [](int i, int k) { return std::min(i, k) == 1 && std::max(i, k) == 3; };
  for (const auto& t : {min_area_triangulation(square, only13), ear_triangulation(square, up, only13)}) {
    ASSERT_EQ(t.size(), 2u);
    for (const auto& f : t) EXPECT_TRUE(std::count(f.begin(), f.end(), 1) && std::count(f.begin(), f.end(), 3));
  }
  const auto none = [](int, int) { return false; };
  EXPECT_TRUE(min_area_triangulation(square, none).empty());
  EXPECT_TRUE(ear_triangulation(square, up, none).empty());
}

TEST(LoopTriangulation, NormalsSteerAwayFromATriangleFacingAgainstThem) {
  // A warped quad whose least-cost triangulation (diagonal 0-2) holds a triangle facing down,
  // against its corners' normals; the other diagonal costs a little more and faces up twice.
  const std::vector<Point3D> quad = {
      {-0.23, 0.24, -0.28}, {1.3, -0.03, 0.24}, {0.6, 1.19, -0.09}, {0.17, 0.67, -0.07}};
  const std::vector<Point3D> up(4, Point3D(0, 0, 1));
  const auto any = [](int, int) { return true; };
  const auto downward = [&](const std::vector<std::array<int, 3>>& tris) {
    int count = 0;
    for (const auto& t : tris) {
      const Point3D &a = quad[std::size_t(t[0])], &b = quad[std::size_t(t[1])], &c = quad[std::size_t(t[2])];
      count += cross(b - a, c - a).z < 0.0;
    }
    return count;
  };
  const auto plain = min_area_triangulation(quad, any), steered = min_area_triangulation(quad, any, up);
  ASSERT_EQ(plain.size(), 2u);
  ASSERT_EQ(steered.size(), 2u);
  EXPECT_EQ(downward(plain), 1);
  EXPECT_EQ(downward(steered), 0);
  // Where every triangulation needs a triangle against the normals, one is still given.
  const std::vector<Point3D> down(4, Point3D(0, 0, -1));
  EXPECT_EQ(min_area_triangulation(quad, any, down).size(), 2u);
}

TEST(LoopTriangulation, ZigZagLoopSteeredByItsMeanNormalHasNoFaceAgainstIt) {
  // A star of 24 corners whose points and notches zig-zag a little up and down: its
  // least-cost triangulation holds a triangle facing down.
  const std::vector<Point3D> star = {
      {0.951, 0.000, 0.083},   {0.300, 0.080, 0.095},   {0.805, 0.465, 0.001},   {0.297, 0.297, -0.094},
      {0.417, 0.722, -0.059},  {0.111, 0.414, -0.012},  {0.000, 0.803, 0.031},   {-0.088, 0.329, -0.048},
      {-0.421, 0.728, 0.043},  {-0.242, 0.242, -0.022}, {-0.980, 0.566, -0.045}, {-0.396, 0.106, 0.099},
      {-1.174, 0.000, 0.047},  {-0.325, -0.087, 0.023}, {-0.942, -0.544, 0.097}, {-0.290, -0.290, 0.097},
      {-0.591, -1.024, 0.081}, {-0.091, -0.341, -0.068}, {-0.000, -1.056, 0.031}, {0.092, -0.342, -0.078},
      {0.418, -0.724, 0.010},  {0.300, -0.300, -0.014}, {0.740, -0.427, -0.034}, {0.304, -0.081, -0.024}};
  // Noisy corner normals around +z: tilted 0.4 to alternate sides.
  std::vector<Point3D> normals;
  for (std::size_t i = 0; i < star.size(); ++i) {
    const Point3D n(i % 2 ? 0.4 : -0.4, i % 3 ? 0.4 : -0.4, 1.0);
    normals.push_back(n / norm(n));
  }
  const auto any = [](int, int) { return true; };
  const auto downward = [&](const std::vector<std::array<int, 3>>& tris) {
    int count = 0;
    for (const auto& t : tris) {
      const Point3D &a = star[std::size_t(t[0])], &b = star[std::size_t(t[1])], &c = star[std::size_t(t[2])];
      count += cross(b - a, c - a).z <= 0.0;
    }
    return count;
  };
  ASSERT_GT(downward(min_area_triangulation(star, any)), 0);
  const std::vector<Point3D> steer = steering_normals(normals, 6, 0.7);
  ASSERT_EQ(steer.size(), star.size());
  for (const Point3D& n : steer) {
    EXPECT_NEAR(norm(n), 1.0, 1e-12);
    EXPECT_GT(n.z, 0.99);  // the tilts cancel out
  }
  const auto steered = min_area_triangulation(star, any, steer);
  EXPECT_EQ(steered.size(), star.size() - 2);
  EXPECT_EQ(downward(steered), 0);
  // Few corners keep their own normals; normals spread all round steer nothing.
  const std::vector<Point3D> few(normals.begin(), normals.begin() + 6);
  EXPECT_EQ(steering_normals(few, 6, 0.7), few);
  std::vector<Point3D> around;
  for (int i = 0; i < 12; ++i) around.emplace_back(std::cos(M_PI * i / 6), std::sin(M_PI * i / 6), 0.2);
  EXPECT_TRUE(steering_normals(around, 6, 0.7).empty());
}

}  // namespace
}  // namespace tervik
