// The whole closing step on triangulated point clouds and on a damaged hand-built mesh, in
// process and through the weaver program.
#include "weaver/closing/watertight.h"

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>

#include <gtest/gtest.h>

#include "test_util.h"
#include "weaver/ball_pivoting.h"
#include "weaver/mesh_fixtures.h"

namespace tervik {
namespace {

// n points on a sphere of radius 1 (a shuffled golden spiral), normals outward; points with
// z above `cap` are left out.
std::vector<Patch> sphere_cloud(std::size_t n, double cap) {
  const double golden = M_PI * (3.0 - std::sqrt(5.0));
  std::vector<Patch> pts;
  for (std::size_t i = 0; i < n; ++i) {
    const double z = 1.0 - 2.0 * (double(i) + 0.5) / double(n), s = std::sqrt(1.0 - z * z);
    if (z > cap) continue;
    Patch p;
    p.pos = Point3D(s * std::cos(golden * double(i)), s * std::sin(golden * double(i)), z);
    p.normal = p.pos;
    p.r = static_cast<unsigned char>(i % 256);
    pts.push_back(p);
  }
  std::shuffle(pts.begin(), pts.end(), std::mt19937(3));
  return pts;
}

// Closed, manifold, consistent, of Euler characteristic 2, every face facing outward.
void expect_closed_outward_sphere(const FaceVertexMesh& m) {
  testing::expect_closed_genus_zero(m.faces);
  long inward = 0;
  for (const auto& f : m.faces) {
    const Point3D a = m.vertices[std::size_t(f.x)], b = m.vertices[std::size_t(f.y)],
                  c = m.vertices[std::size_t(f.z)];
    inward += dot(cross(b - a, c - a), a + b + c) <= 0.0;
  }
  EXPECT_EQ(inward, 0);
  // Each vertex lists the faces that use it, in face order; colours go with the vertices.
  ASSERT_EQ(m.colors.size(), m.vertices.size());
  ASSERT_EQ(m.vertex_faces.size(), m.vertices.size());
  std::vector<std::vector<long long>> lists(m.vertices.size());
  for (std::size_t k = 0; k < m.faces.size(); ++k)
    for (int c = 0; c < 3; ++c) lists[std::size_t(m.faces[k][c])].push_back((long long)k);
  EXPECT_EQ(m.vertex_faces, lists);
}

TEST(Watertight, TriangulatedSphereIsClosedKeepingItsVertices) {
  const std::vector<Patch> pts = sphere_cloud(3000, 2.0);
  std::srand(1);
  std::vector<bool> flags;
  const FaceVertexMesh plain = get_mesh(pts, 20, 30, flags, 1000000);
  WatertightReport r;
  const FaceVertexMesh m = make_watertight(plain, flags, pts, r);
  expect_closed_outward_sphere(m);
  // Vertex i is still point i with its colour; new vertices follow.
  ASSERT_GE(m.vertices.size(), pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) {
    EXPECT_EQ(m.vertices[i], pts[i].pos);
    EXPECT_EQ(m.colors[i].x, pts[i].r);
  }
  EXPECT_EQ(long(m.vertices.size() - pts.size()), r.holes.vertices_added + r.vertices_split);
  const long kept = long(plain.faces.size()) - r.withdrawn - r.faces_removed();
  EXPECT_EQ(long(m.faces.size()), kept + r.holes.faces_added);
  EXPECT_EQ(r.holes.holes_left, 0);
}

TEST(Watertight, SphereWithoutItsCapIsClosedOverTheHole) {
  const std::vector<Patch> pts = sphere_cloud(3000, 0.6);  // a cap of 20% of the area is gone
  std::srand(1);
  std::vector<bool> flags;
  const FaceVertexMesh plain = get_mesh(pts, 20, 30, flags, 1000000);
  WatertightReport r;
  const FaceVertexMesh m = make_watertight(plain, flags, pts, r);
  expect_closed_outward_sphere(m);
  EXPECT_GE(r.holes.largest_hole, 30);  // the cap's rim: about 2 pi 0.8 / 0.065 edges
  // The new vertices lie between the rim's plane and the sphere, none outside it.
  for (std::size_t i = pts.size(); i < m.vertices.size(); ++i) {
    EXPECT_GT(m.vertices[i].z, 0.5);
    EXPECT_LT(norm(m.vertices[i]), 1.0 + 1e-9);
  }
}

// Over a hole larger than a hemisphere the rim's normals lean away from the hole: no chord
// leaves parts facing along them, and the whole rim (about 90 corners) is triangulated at once.
// The least-area triangulation of so long a rim joined corners far apart across the hole, and
// 6 faces of the closed sphere faced inward.
TEST(Watertight, HoleLargerThanAHemisphereIsClosedOutward) {
  const std::vector<Patch> pts = sphere_cloud(3000, -0.1);
  std::srand(1);
  std::vector<bool> flags;
  const FaceVertexMesh plain = get_mesh(pts, 20, 30, flags, 1000000);
  WatertightReport r;
  const FaceVertexMesh m = make_watertight(plain, flags, pts, r);
  EXPECT_GT(r.holes.largest_hole, 64);
  expect_closed_outward_sphere(m);
}

TEST(Watertight, SphereCutInTwoAtItsEquatorClosesAsOneSurface) {
  // Without the points within 0.1 of the equator's plane the triangulation gives two caps, each
  // of whose rims, capped on its own, would make a closed surface of its own (Euler
  // characteristic 4 for the two). Bridged first, the two rims close as one hole.
  std::vector<Patch> pts = sphere_cloud(3000, 2.0);
  std::erase_if(pts, [](const Patch& p) { return std::abs(p.pos.z) < 0.1; });
  std::srand(1);
  std::vector<bool> flags;
  const FaceVertexMesh plain = get_mesh(pts, 20, 30, flags, 1000000);
  long north = 0, south = 0;
  for (const auto& f : plain.faces) (plain.vertices[std::size_t(f.x)].z > 0 ? north : south) += 1;
  ASSERT_GT(north, 0);
  ASSERT_GT(south, 0);
  WatertightReport r;
  const FaceVertexMesh m = make_watertight(plain, flags, pts, r);
  expect_closed_outward_sphere(m);
  EXPECT_GE(r.holes.bridges, 1);
  EXPECT_EQ(r.holes.pieces, 1);  // what the handle search counts on
  EXPECT_EQ(r.holes.holes_left, 0);
  // The band closed over the cut lies about where the cut was, bent with the sphere (0.9945 to
  // 1.0001 from its centre; a membrane spanning the cut comes down to 0.986).
  for (std::size_t i = pts.size(); i < m.vertices.size(); ++i) {
    EXPECT_LT(std::abs(m.vertices[i].z), 0.2);
    EXPECT_GT(norm(m.vertices[i]), 0.99);
    EXPECT_LT(norm(m.vertices[i]), 1.001);
  }
}

TEST(Watertight, UnevenlyThinnedSphereIsClosedOutward) {
  // Points kept with a chance that falls from 1 at the top to 0.15 at the bottom: the triangulation
  // leaves many holes of every size where the cloud is sparse.
  std::vector<Patch> pts = sphere_cloud(4000, 2.0);
  std::mt19937 random(5);
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  std::erase_if(pts, [&](const Patch& p) { return chance(random) > 0.15 + 0.85 * (p.pos.z + 1.0) / 2.0; });
  std::srand(1);
  std::vector<bool> flags;
  const FaceVertexMesh plain = get_mesh(pts, 20, 30, flags, 1000000);
  ASSERT_GT(testing::topology(plain.faces).boundary, 0);
  WatertightReport r;
  const FaceVertexMesh m = make_watertight(plain, flags, pts, r);
  expect_closed_outward_sphere(m);
  EXPECT_GT(r.holes.holes_closed, 1);
  // Every patch lies on or inside the sphere, near it.
  for (std::size_t i = pts.size(); i < m.vertices.size(); ++i) {
    EXPECT_LT(norm(m.vertices[i]), 1.0 + 1e-9);
    EXPECT_GT(norm(m.vertices[i]), 0.8);
  }
}

// Two unit spheres without a cap over z = 0.9 (a hole of radius 0.44), the second turned over
// so that the holes face each other `gap` apart, closed.
struct TwoSpheres {
  FaceVertexMesh mesh;
  WatertightReport report;
};
TwoSpheres two_spheres_facing(double gap) {
  std::vector<Patch> pts = sphere_cloud(3000, 0.9);
  const std::size_t first = pts.size();
  for (std::size_t i = 0; i < first; ++i) {
    Patch p = pts[i];
    p.pos = Point3D(p.pos.x, p.pos.y, 1.8 + gap - p.pos.z);
    p.normal = Point3D(p.normal.x, p.normal.y, -p.normal.z);
    pts.push_back(p);
  }
  std::srand(1);
  std::vector<bool> flags;
  const FaceVertexMesh plain = get_mesh(pts, 20, 30, flags, 1000000);
  TwoSpheres out;
  out.mesh = make_watertight(plain, flags, pts, out.report);
  return out;
}

TEST(Watertight, HolesOfSeparateObjectsAreBridgedOnlyWhereCloserThanTheyAreWide) {
  // 0.6 apart, wider than the holes: two closed surfaces (Euler characteristic 4).
  const TwoSpheres apart = two_spheres_facing(0.6);
  testing::Topology t = testing::topology(apart.mesh.faces);
  EXPECT_EQ(t.boundary, 0);
  EXPECT_EQ(t.nonmanifold, 0);
  EXPECT_EQ(t.euler, 4);
  EXPECT_EQ(apart.report.holes.bridges, 0);
  EXPECT_EQ(apart.report.holes.pieces, 2);
  // 0.2 apart, much closer than they are wide: the rims are bridged and close as one surface.
  const TwoSpheres close = two_spheres_facing(0.2);
  t = testing::topology(close.mesh.faces);
  EXPECT_EQ(t.boundary, 0);
  EXPECT_EQ(t.nonmanifold, 0);
  EXPECT_EQ(t.euler, 2);
  EXPECT_GE(close.report.holes.bridges, 1);
  EXPECT_EQ(close.report.holes.pieces, 1);
}

// A detached piece far smaller than the body (here under 1 % of its faces: on sparse clouds,
// a limb) is kept and closed; only specks go.
TEST(Watertight, SmallDetachedPieceIsClosedAndOnlySpecksGo) {
  std::vector<Patch> pts = sphere_cloud(8000, 2.0);
  const std::size_t body = pts.size();
  for (Patch p : sphere_cloud(80, 0.5)) {  // a small open cap, 3 units away
    p.pos = p.pos * 0.2 + Point3D(3, 0, 0);
    pts.push_back(p);
  }
  const std::size_t piece_end = pts.size();
  for (const Point3D& q : {Point3D(0, 3, 0), Point3D(0.1, 3, 0), Point3D(0, 3.1, 0)}) {
    Patch p;  // a speck: one triangle
    p.pos = q;
    p.normal = Point3D(0, 0, 1);
    pts.push_back(p);
  }
  // Each part triangulated on its own (in one cloud, the body's growth would use up the seeds).
  FaceVertexMesh plain;
  std::vector<bool> flags;
  for (const auto& [from, to] : {std::pair{std::size_t(0), body}, std::pair{body, piece_end}}) {
    std::srand(1);
    std::vector<bool> part_flags;
    const FaceVertexMesh part = get_mesh(std::vector<Patch>(pts.begin() + long(from), pts.begin() + long(to)),
                                         20, 30, part_flags, 1000000);
    for (std::size_t i = 0; i < part.vertices.size(); ++i) plain.add_vertex(part.vertices[i], part.colors[i]);
    for (const auto& f : part.faces) plain.add_face({f.x + (long long)from, f.y + (long long)from, f.z + (long long)from});
    flags.insert(flags.end(), part_flags.begin(), part_flags.end());
  }
  for (std::size_t i = piece_end; i < pts.size(); ++i) plain.add_vertex(pts[i].pos);
  plain.add_face({(long long)piece_end, (long long)piece_end + 1, (long long)piece_end + 2});
  flags.push_back(true);
  long piece_faces = 0, speck_faces = 0;
  for (const auto& f : plain.faces) {
    piece_faces += std::size_t(f.x) >= body && std::size_t(f.x) < piece_end;
    speck_faces += std::size_t(f.x) >= piece_end;
  }
  ASSERT_GE(piece_faces, 20);
  ASSERT_LT(piece_faces * 100, long(plain.faces.size()));
  ASSERT_EQ(speck_faces, 1);
  WatertightReport report;
  const FaceVertexMesh closed = make_watertight(plain, flags, pts, report);
  const testing::Topology t = testing::topology(closed.faces);
  EXPECT_EQ(t.boundary, 0);
  EXPECT_EQ(t.nonmanifold, 0);
  EXPECT_EQ(t.euler, 4);  // the body and the piece, each closed
  EXPECT_EQ(report.small_pieces, 1);
  EXPECT_TRUE(report.pieces_lost.empty());
  long kept = 0;
  for (const auto& f : closed.faces) kept += std::size_t(f.x) >= body && std::size_t(f.x) < piece_end;
  EXPECT_GE(kept, piece_faces);
  EXPECT_EQ(format_report(report).find("WARNING"), std::string::npos);
}

TEST(Watertight, TriangulationsTreeGivesTheSameClosedMesh) {
  const std::vector<Patch> pts = sphere_cloud(3000, 0.6);
  std::srand(1);
  std::vector<bool> flags;
  PivotingTrace trace;
  trace.keep_tree = true;
  const FaceVertexMesh plain = get_mesh(pts, 20, 30, flags, 1000000, &trace);
  ASSERT_TRUE(trace.tree);
  ASSERT_EQ(trace.point_of.size(), pts.size());
  WatertightReport own, reused;
  const FaceVertexMesh a = make_watertight(plain, flags, pts, own);
  const FaceVertexMesh b = make_watertight(plain, flags, pts, reused, trace.tree.get(), &trace.point_of);
  EXPECT_GT(a.vertices.size(), pts.size());
  EXPECT_EQ(a.vertices, b.vertices);
  EXPECT_EQ(a.faces, b.faces);
  EXPECT_EQ(format_report(own), format_report(reused));
  // Taken apart instead of copied, the mesh closes alike.
  WatertightReport taken;
  const FaceVertexMesh c = make_watertight(FaceVertexMesh(plain), flags, pts, taken, trace.tree.get(), &trace.point_of);
  EXPECT_EQ(c.vertices, a.vertices);
  EXPECT_EQ(c.colors, a.colors);
  EXPECT_EQ(c.faces, a.faces);
  EXPECT_EQ(format_report(taken), format_report(own));
}

// The unit sphere of testing::unit_sphere(subdivisions) as a triangulation's mesh, its vertices
// as points with outward normals, but inward above z = `inward_above`.
RepairMesh sphere_mesh(int subdivisions, double inward_above, FaceVertexMesh& mesh, std::vector<Patch>& pts) {
  RepairMesh s = testing::unit_sphere(subdivisions);
  for (const Point3D& p : s.vertices) {
    mesh.add_vertex(p, Coord3D<unsigned char>(9, 9, 9));
    pts.push_back({p, p.z > inward_above ? p * -1.0 : p, 9, 9, 9});
  }
  for (const auto& f : s.faces) mesh.add_face(f);
  return s;
}

TEST(Watertight, WithdrawnFaceAndFinAreRepairedAndReported) {
  FaceVertexMesh mesh;
  std::vector<Patch> pts;
  const RepairMesh s = sphere_mesh(2, 2.0, mesh, pts);
  std::vector<bool> flags(mesh.faces.size(), true);
  // A withdrawn face, and a fin: a third face on an edge of the sphere.
  mesh.add_vertex({0, 0, 3});
  pts.push_back({{0, 0, 3}, {0, 0, 1}, 9, 9, 9});
  const auto& f0 = s.faces[0];
  mesh.add_face(Coord3D<long long>(f0.x, f0.z, f0.y));
  flags.push_back(false);
  mesh.add_face(Coord3D<long long>(f0.y, f0.x, 66));  // 66: the vertex just added
  flags.push_back(true);
  WatertightReport r;
  const FaceVertexMesh m = make_watertight(mesh, flags, pts, r);
  EXPECT_EQ(r.withdrawn, 1);
  EXPECT_EQ(r.nonmanifold_edge, 1);
  expect_closed_outward_sphere(m);
  EXPECT_EQ(m.faces.size(), s.faces.size());
  EXPECT_EQ(format_report(r),
            "Holes closed: 0\nLargest hole: 0 edges\nHandles removed: 0 (faces added: 0)\n"
            "Faces removed: 1 (withdrawn faces left out: 1)\n"
            "Faces added: 0 (new vertices: 0)");
}

TEST(Watertight, ReportCountsTheFacesRemovedAndAddedByTheLastStage) {
  // A closed sphere whose points above z = 0.8 have inward normals: the last stage
  // re-triangulates discs there, taking those points in, and removes more faces than it adds.
  FaceVertexMesh mesh;
  std::vector<Patch> pts;
  const RepairMesh s = sphere_mesh(3, 0.8, mesh, pts);
  WatertightReport r;
  const FaceVertexMesh m = make_watertight(mesh, std::vector<bool>(mesh.faces.size(), true), pts, r);
  ASSERT_GT(r.agreement.regions.regions, 0);
  // The faces removed and added as the report prints them account for every face.
  const std::string report = format_report(r);
  const auto after = [&](const std::string& label) {
    const auto at = report.find(label);
    return at == std::string::npos ? -1L : std::atol(report.c_str() + at + label.size());
  };
  const long removed = after("Faces removed: "), added = after("Faces added: ");
  EXPECT_GE(removed, 0);
  EXPECT_LE(removed, long(s.faces.size()));
  EXPECT_GE(added, 0);
  EXPECT_EQ(long(m.faces.size()), long(s.faces.size()) - removed + added);
}

TEST(Watertight, WeaverOptionWritesAClosedMeshAndPrintsTheReport) {
  testing::TempDir dir;
  const std::vector<Patch> pts = sphere_cloud(2000, 0.7);
  write_file_normal_color(dir.file("points.ply"), pts);
  const std::string weaver = TERVIK_BINARY_DIR "/weaver/weaver";
  const std::string tail = dir.file("points.ply") + " " + dir.file("%s.ply") + " 20 30 1 100000";
  auto run = [&](const std::string& options, const std::string& name) {
    std::string args = tail;
    args.replace(args.find("%s"), 2, name);
    const int rc = std::system((weaver + " " + options + args + " >" + dir.file(name + ".out") +
                                " 2>/dev/null").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  };
  ASSERT_EQ(run("", "plain"), 0);
  ASSERT_EQ(run("--watertight ", "closed"), 0);
  const std::string out = testing::read_file(dir.file("closed.out"));
  EXPECT_NE(out.find("Holes closed: "), std::string::npos);
  EXPECT_NE(out.find("Largest hole: "), std::string::npos);
  EXPECT_NE(out.find("Faces removed: "), std::string::npos);
  EXPECT_NE(out.find("Faces added: "), std::string::npos);
  EXPECT_NE(out.find("Handles removed: "), std::string::npos);
  EXPECT_EQ(testing::read_file(dir.file("plain.out")).find("Holes closed"), std::string::npos);
  FaceVertexMesh plain, closed;
  read_mesh(dir.file("plain.ply"), plain);
  read_mesh(dir.file("closed.ply"), closed);
  EXPECT_GT(testing::topology(plain.faces).boundary, 0);
  expect_closed_outward_sphere(closed);
  // The plain mesh is what the triangulation gives, withdrawn faces included.
  std::srand(1);
  std::vector<bool> flags;
  const FaceVertexMesh direct = get_mesh(pts, 20, 30, flags, 100000);
  EXPECT_EQ(plain.faces, direct.faces);
}

}  // namespace
}  // namespace tervik
