// The scorer on point sets and meshes of known shape.
#include <algorithm>
#include <cmath>
#include <map>

#include <gtest/gtest.h>

#include "common/patch.h"
#include "test_util.h"
#include "tervik/exceptions.h"
#include "tervik/mesh.h"
#include "tools/score/score.h"
#include "tools/score/silhouette.h"

namespace tervik::scene {
namespace {

// The sphere scene's ground truth (radius 0.5 at the origin, 8 cameras, 160 x 120 images).
GroundTruth sphere_truth() {
  GroundTruth t;
  t.object = ObjectKind::sphere;
  t.first_frame = t.last_frame = 0;
  t.box_min = Point3D(-0.6, -0.6, -0.6);
  t.box_max = Point3D(0.6, 0.6, 0.6);
  t.solids.push_back(object_at_frame(ObjectKind::sphere, 0));
  t.cameras = place_cameras(8, CameraLayout::ring, 160, 120, 200.0, Point3D(), 1.04);
  return t;
}

std::vector<Point3D> sphere_points(long n, double radius, const Point3D& centre) {
  const Solid unit({Primitive::sphere(Point3D(), 1.0)});
  std::vector<Point3D> out;
  for (const SurfacePoint& s : unit.sample_surface(n, 17)) out.push_back(centre + s.position * radius);
  return out;
}

TEST(ScoreStatistics, NearestRankPercentiles) {
  std::vector<double> v;
  for (int i = 100; i >= 1; --i) v.push_back(i);
  const Distribution d = summarize(v);
  EXPECT_EQ(d.count, 100);
  EXPECT_EQ(d.median, 50);
  EXPECT_EQ(d.p90, 90);
  EXPECT_EQ(d.p99, 99);
  EXPECT_EQ(d.max, 100);
  EXPECT_DOUBLE_EQ(d.mean, 50.5);
  EXPECT_EQ(summarize({7.0}).p99, 7.0);
  EXPECT_EQ(summarize({}).count, 0);
}

TEST(ScoreSilhouette, DistanceTransformMatchesBruteForce) {
  UniformRandom random(4);
  for (int round = 0; round < 5; ++round) {
    const long w = 23 + round, h = 17;
    std::vector<unsigned char> mask(std::size_t(w * h));
    for (auto& m : mask) m = random() < 0.03 * (round + 1) ? 1 : 0;
    if (round == 4) std::fill(mask.begin(), mask.end(), 0);
    const auto d = squared_distance_transform(mask, w, h);
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x) {
        double best = 1e300;
        for (long j = 0; j < h; ++j)
          for (long i = 0; i < w; ++i)
            if (mask[std::size_t(i + j * w)])
              best = std::min(best, double((i - x) * (i - x) + (j - y) * (j - y)));
        if (best == 1e300) EXPECT_GE(d[std::size_t(x + y * w)], 1e19);
        else EXPECT_EQ(d[std::size_t(x + y * w)], best);
      }
  }
}

TEST(ScorePoints, ExactSphereScoresZeroAndAShiftScoresItsAmount) {
  const GroundTruth truth = sphere_truth();
  const double l = truth.sampling_length();
  const std::vector<Point3D> on = sphere_points(3000, 0.5, Point3D());
  std::vector<Point3D> normals;
  std::vector<Coord3D<unsigned char>> colors;
  for (const Point3D& p : on) {
    normals.push_back(p / norm(p));
    colors.push_back(truth.color_at(p, p / norm(p)));
  }
  PointScore s = score_points(truth, 0, on, normals, colors);
  EXPECT_EQ(s.points, long(on.size()));
  EXPECT_LT(s.distance.max, 1e-12);
  EXPECT_EQ(s.share_beyond_2l, 0.0);
  EXPECT_LT(s.normal_angle.max, 1e-5);
  EXPECT_EQ(s.share_inward, 0.0);
  EXPECT_EQ(s.color_error.max, 0.0);
  EXPECT_EQ(s.unseen, 0);
  // On the object's surface the residual is at most about a pixel (pixel-centre rays).
  EXPECT_LE(s.silhouette_residual.p99, 1.5);

  // A concentric sphere 3 L larger: every point is exactly 3 L outside.
  std::vector<Point3D> grown;
  for (const Point3D& p : on) grown.push_back(p * ((0.5 + 3 * l) / 0.5));
  s = score_points(truth, 0, grown, {}, {});
  EXPECT_NEAR(s.distance.median, 3.0, 1e-9);
  EXPECT_NEAR(s.distance.max, 3.0, 1e-9);
  EXPECT_NEAR(s.mean_signed_distance, 3.0, 1e-9);
  EXPECT_EQ(s.share_beyond_2l, 1.0);
  EXPECT_FALSE(s.has_normals);
  // A sphere 1.5 L smaller lies inside: negative signed mean, distance 1.5 L.
  std::vector<Point3D> shrunk;
  for (const Point3D& p : on) shrunk.push_back(p * ((0.5 - 1.5 * l) / 0.5));
  s = score_points(truth, 0, shrunk, {}, {});
  EXPECT_NEAR(s.distance.p90, 1.5, 1e-9);
  EXPECT_NEAR(s.mean_signed_distance, -1.5, 1e-9);
  EXPECT_EQ(s.share_beyond_2l, 0.0);
  // The sphere moved by 4 L along x: the largest distance is the shift.
  const std::vector<Point3D> moved = sphere_points(20000, 0.5, Point3D(4 * l, 0, 0));
  s = score_points(truth, 0, moved, {}, {});
  EXPECT_NEAR(s.distance.max, 4.0, 0.01);
  EXPECT_LT(s.distance.max, 4.0 + 1e-9);
  EXPECT_NEAR(s.distance.median, 2.0, 0.1);
}

// The default grey is counted, the per-channel error is the mean absolute channel difference,
// and a baseline splits the errors into the points it coloured and those only this file colours.
TEST(ScorePoints, DefaultColourAndNewlyColouredPoints) {
  const GroundTruth truth = sphere_truth();
  const std::vector<Point3D> on = sphere_points(400, 0.5, Point3D());
  std::vector<Coord3D<unsigned char>> truth_colours, colours, baseline;
  for (const Point3D& p : on) truth_colours.push_back(truth.color_at(p, p / norm(p)));
  const Coord3D<unsigned char> grey(64, 64, 64);
  for (std::size_t i = 0; i < on.size(); ++i) {
    Coord3D<unsigned char> c = truth_colours[i];
    const bool was_grey = i % 4 == 0;
    baseline.push_back(was_grey ? grey : c);
    // The points the baseline left grey: half exact, half 12 off in red alone (4 per channel).
    if (was_grey && i % 8 == 0) c[0] = static_cast<unsigned char>(c[0] < 128 ? c[0] + 12 : c[0] - 12);
    if (i == 1) c = grey;  // still grey here
    colours.push_back(c);
  }
  const PointScore s = score_points(truth, 0, on, {}, colours, baseline);
  EXPECT_EQ(s.default_colored, 1);
  EXPECT_DOUBLE_EQ(s.share_default_colored, 1.0 / 400.0);
  ASSERT_TRUE(s.has_baseline);
  EXPECT_EQ(s.channel_error_newly_colored.count, 100);
  EXPECT_EQ(s.channel_error_newly_colored.median, 0.0);
  EXPECT_DOUBLE_EQ(s.channel_error_newly_colored.max, 4.0);
  EXPECT_DOUBLE_EQ(s.channel_error_newly_colored.mean, 2.0);
  EXPECT_EQ(s.channel_error_baseline_colored.count, 300);  // point 1 counts there, now grey
  EXPECT_EQ(s.channel_error_baseline_colored.median, 0.0);
  EXPECT_FALSE(score_points(truth, 0, on, {}, colours).has_baseline);
  EXPECT_THROW(score_points(truth, 0, on, {}, colours, {grey}), TervikError);
}

TEST(ScorePoints, InwardAndZeroNormalsAreCounted) {
  const GroundTruth truth = sphere_truth();
  const std::vector<Point3D> on = sphere_points(1000, 0.5, Point3D());
  std::vector<Point3D> normals;
  for (std::size_t i = 0; i < on.size(); ++i) {
    const Point3D n = on[i] / norm(on[i]);
    normals.push_back(i % 4 == 0 ? -n : (i % 4 == 1 ? n * 3.0 : n));
  }
  normals[2] = Point3D(0, 0, 0);
  const PointScore s = score_points(truth, 0, on, normals, {});
  EXPECT_EQ(s.zero_normals, 1);
  EXPECT_EQ(s.normal_angle.count, long(on.size()) - 1);
  EXPECT_NEAR(s.share_inward, 250.0 / 999.0, 1e-12);
  EXPECT_NEAR(s.share_over_30, 250.0 / 999.0, 1e-12);
  EXPECT_NEAR(s.normal_angle.max, 180.0, 1e-5);
  EXPECT_LT(s.normal_angle.median, 1e-5);
}

TEST(ScorePoints, SilhouetteResidualGrowsAwayFromTheVisualHull) {
  const GroundTruth truth = sphere_truth();
  const SilhouetteSet sil(truth.solid(0), truth.cameras);
  // Along a ray from the centre through the surface, residuals (depth inside every outline,
  // or distance outside a silhouette) shrink to 0 near the surface and then grow.
  const Point3D dir = Point3D(0.3, 0.4, 0.2) / norm(Point3D(0.3, 0.4, 0.2));
  double prev_outside = 0.0;
  double r = 0.0;
  ASSERT_TRUE(sil.residual(dir * 0.1, r));
  EXPECT_GT(r, 10.0);  // deep inside: far from every outline
  for (double radius = 0.6; radius < 1.0; radius += 0.05) {
    ASSERT_TRUE(sil.residual(dir * radius, r));
    EXPECT_GT(r, prev_outside);
    prev_outside = r;
  }
  EXPECT_FALSE(sil.residual(Point3D(0, 0, 50), r));  // above every camera's view
}

// An octahedron subdivided `levels` times, pushed onto the sphere of radius 0.5: a closed,
// consistently outward-oriented triangle mesh with 8 * 4^levels faces.
FaceVertexMesh sphere_mesh(int levels) {
  std::vector<Point3D> v = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  std::vector<Coord3D<long long>> f = {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4},
                                       {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}};
  for (int l = 0; l < levels; ++l) {
    std::map<std::pair<long long, long long>, long long> mid;
    auto middle = [&](long long a, long long b) {
      const auto key = std::make_pair(std::min(a, b), std::max(a, b));
      auto it = mid.find(key);
      if (it != mid.end()) return it->second;
      const Point3D m = (v[a] + v[b]) * 0.5;
      v.push_back(m / norm(m));
      return mid[key] = static_cast<long long>(v.size() - 1);
    };
    std::vector<Coord3D<long long>> next;
    for (const auto& t : f) {
      const long long ab = middle(t.x, t.y), bc = middle(t.y, t.z), ca = middle(t.z, t.x);
      next.insert(next.end(), {{t.x, ab, ca}, {ab, t.y, bc}, {ca, bc, t.z}, {ab, bc, ca}});
    }
    f = next;
  }
  FaceVertexMesh mesh;
  for (const Point3D& p : v) mesh.add_vertex(p * 0.5);
  for (const auto& t : f) mesh.add_face(t);
  return mesh;
}

TEST(ScoreMesh, ClosedSphereMeshThroughItsFile) {
  tervik::testing::TempDir dir;
  const GroundTruth truth = sphere_truth();
  FaceVertexMesh mesh = sphere_mesh(5);
  write_mesh(dir.file("mesh.ply"), mesh);
  MeshScore s = score_mesh_file(truth, 0, dir.file("mesh.ply"), 5000);
  EXPECT_EQ(s.faces, 8 * 1024);
  EXPECT_EQ(s.vertices, 4 * 1024 + 2);
  EXPECT_EQ(s.used_vertices, s.vertices);
  EXPECT_NEAR(s.faces_per_used_vertex, 8192.0 / 4098.0, 1e-12);
  EXPECT_EQ(s.boundary_edges, 0);
  EXPECT_EQ(s.nonmanifold_edges, 0);
  EXPECT_EQ(s.inconsistent_edges, 0);
  EXPECT_EQ(s.flipped_faces, 0);
  EXPECT_EQ(s.degenerate_faces, 0);
  EXPECT_EQ(s.coverage, 1.0);
  EXPECT_LT(s.centroid_distance.max, 0.5);  // chords lie a little inside the sphere
  EXPECT_EQ(s.euler_characteristic, 2);
  EXPECT_EQ(s.components, 1);
  ASSERT_EQ(s.silhouette_iou.size(), truth.cameras.size());
  EXPECT_GT(s.min_silhouette_iou, 0.97);
  EXPECT_EQ(s.min_silhouette_iou, *std::min_element(s.silhouette_iou.begin(), s.silhouette_iou.end()));

  // Every face reversed: all inward, still consistent among themselves.
  std::vector<Coord3D<long long>> flipped;
  for (const auto& t : mesh.faces) flipped.emplace_back(t.x, t.z, t.y);
  // Against the vertices' outward normals; vertices past the normals' end do not count.
  EXPECT_EQ(faces_against_point_normals(mesh.vertices, mesh.faces, mesh.vertices), 0);
  EXPECT_EQ(faces_against_point_normals(mesh.vertices, flipped, mesh.vertices), 8192);
  long touching = 0;
  for (const auto& t : flipped) touching += t.x < 10 || t.y < 10 || t.z < 10;
  EXPECT_EQ(faces_against_point_normals(mesh.vertices, flipped,
                                        std::vector<Point3D>(mesh.vertices.begin(), mesh.vertices.begin() + 10)),
            touching);
  s = score_mesh(truth, 0, mesh.vertices, flipped, 2000);
  EXPECT_EQ(s.flipped_faces, 8192);
  EXPECT_EQ(s.flipped_near, 8192);
  EXPECT_EQ(s.inconsistent_edges, 0);
  // The same faces on a sphere 4 L larger: still all inward, none near the surface.
  std::vector<Point3D> grown = mesh.vertices;
  const double l = truth.sampling_length();
  for (Point3D& p : grown) p = p * ((0.5 + 4.0 * l) / 0.5);
  s = score_mesh(truth, 0, grown, flipped, 2000);
  EXPECT_EQ(s.flipped_faces, 8192);
  EXPECT_EQ(s.flipped_near, 0);
  // 1.5 L larger: within the 2 L of the coverage distance, and not at 1 L.
  for (Point3D& p : grown) p = mesh.vertices[std::size_t(&p - grown.data())] * ((0.5 + 1.5 * l) / 0.5);
  EXPECT_EQ(score_mesh(truth, 0, grown, flipped, 2000, 2.0).flipped_near, 8192);
  EXPECT_EQ(score_mesh(truth, 0, grown, flipped, 2000, 1.0).flipped_near, 0);
  // One face reversed: its three edges are traversed twice in the same direction.
  std::vector<Coord3D<long long>> one = mesh.faces;
  one[10] = flipped[10];
  s = score_mesh(truth, 0, mesh.vertices, one, 2000);
  EXPECT_EQ(s.flipped_faces, 1);
  EXPECT_EQ(s.inconsistent_edges, 3);
  // The upper half only: an open mesh that covers half the surface.
  std::vector<Coord3D<long long>> upper;
  for (const auto& t : mesh.faces)
    if (mesh.vertices[t.x].z + mesh.vertices[t.y].z + mesh.vertices[t.z].z > 0) upper.push_back(t);
  s = score_mesh(truth, 0, mesh.vertices, upper, 20000);
  EXPECT_GT(s.boundary_edges, 0);
  EXPECT_LT(s.used_vertices, s.vertices);
  EXPECT_NEAR(s.coverage, 0.5, 0.03);
  EXPECT_LT(s.min_silhouette_iou, 0.8);  // the ring's cameras see half the disc
  EXPECT_EQ(s.euler_characteristic, 1);  // a disc; unused vertices do not count
  EXPECT_EQ(s.components, 1);
  // A face used a third time makes its edges non-manifold; a repeated corner is degenerate.
  std::vector<Coord3D<long long>> extra = mesh.faces;
  extra.push_back(mesh.faces[0]);
  extra.emplace_back(0, 0, 1);
  s = score_mesh(truth, 0, mesh.vertices, extra, 2000);
  EXPECT_EQ(s.nonmanifold_edges, 3);
  EXPECT_EQ(s.degenerate_faces, 1);
}

TEST(ScoreMesh, EulerCharacteristicAndComponentsOfSeveralPieces) {
  const GroundTruth truth = sphere_truth();
  const FaceVertexMesh a = sphere_mesh(2);
  // Two spheres side by side, and a lone triangle: three pieces, 2 + 2 + 1.
  std::vector<Point3D> v = a.vertices;
  std::vector<Coord3D<long long>> f = a.faces;
  const long long n = static_cast<long long>(v.size());
  for (const Point3D& p : a.vertices) v.push_back(p + Point3D(2, 0, 0));
  for (const auto& t : a.faces) f.emplace_back(t.x + n, t.y + n, t.z + n);
  v.insert(v.end(), {{0, 0, 3}, {1, 0, 3}, {0, 1, 3}});
  f.emplace_back(2 * n, 2 * n + 1, 2 * n + 2);
  const MeshScore s = score_mesh(truth, 0, v, f, 500);
  EXPECT_EQ(s.components, 3);
  EXPECT_EQ(s.euler_characteristic, 5);
  EXPECT_NE(json_members(s).find("\"euler_characteristic\": 5, \"components\": 3"), std::string::npos);
  EXPECT_NE(format_text(s).find("connected components           3"), std::string::npos);
}

TEST(ScorePoints, PointFileWrittenBySculptorsWriter) {
  tervik::testing::TempDir dir;
  const GroundTruth truth = sphere_truth();
  std::vector<Patch> patches;
  for (const Point3D& p : sphere_points(500, 0.5, Point3D())) {
    Patch patch;
    patch.pos = p;
    patch.normal = -p / norm(p);
    patches.push_back(patch);
  }
  write_file_normal_color(dir.file("points.ply"), patches);
  PointScore s = score_point_file(truth, 0, dir.file("points.ply"));
  EXPECT_EQ(s.points, 500);
  EXPECT_EQ(s.share_inward, 1.0);
  // %e keeps 7 significant digits.
  EXPECT_LT(s.distance.max, 1e-4);
  EXPECT_TRUE(s.has_colors);
  EXPECT_GT(s.color_error.median, 0.0);  // grey is not the pattern
  write_file_normal(dir.file("plain.ply"), patches);
  s = score_point_file(truth, 0, dir.file("plain.ply"));
  EXPECT_FALSE(s.has_colors);
  EXPECT_TRUE(s.has_normals);
  std::string message;
  try {
    score_mesh_file(truth, 0, dir.file("plain.ply"));
  } catch (const TervikFileError& e) {
    message = e.what();
  }
  EXPECT_EQ(message, "Error in file '" + dir.file("plain.ply") + "': no face element: not a mesh");
}

}  // namespace
}  // namespace tervik::scene
