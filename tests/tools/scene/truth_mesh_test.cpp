// The true-surface mesh of make_scene --truth-mesh: it lies on the object, faces outwards, covers
// the silhouettes, carries the pattern's colours, and round-trips through its PLY file.
#include <gtest/gtest.h>

#include "test_util.h"
#include "tervik/ply.h"
#include "tools/capture/render_view.h"
#include "tools/scene/scene.h"
#include "tools/scene/truth_mesh.h"

namespace tervik::scene {
namespace {

TEST(TruthMesh, LiesOnTheObjectFacesOutwardsAndCoversTheSilhouettes) {
  SceneOptions o;
  o.cameras = 6;
  o.layout = CameraLayout::dome;
  o.width = 200;
  o.height = 150;
  o.frames = 1;
  const GroundTruth truth = build_scene(o);
  const Solid& solid = truth.solid(0);
  const io::PlyModel mesh = truth_mesh(solid, truth.pattern);
  ASSERT_GT(mesh.faces.size(), 10000u);
  Point3D lo, hi;
  solid.bounding_box(lo, hi);
  const double size = norm(hi - lo);
  long outward = 0;
  for (const auto& f : mesh.faces) {
    const Point3D& a = mesh.positions[f.x];
    const Point3D c = (a + mesh.positions[f.y] + mesh.positions[f.z]) / 3.0;
    const SurfacePoint s = solid.nearest_surface_point(c);
    EXPECT_LT(std::abs(s.signed_distance), 0.005 * size);
    outward += dot(cross(mesh.positions[f.y] - a, mesh.positions[f.z] - a), s.normal) > 0.0;
  }
  EXPECT_GT(double(outward), 0.99 * double(mesh.faces.size()));
  for (std::size_t v = 0; v < mesh.positions.size(); v += 97)
    EXPECT_EQ(mesh.colors[v], surface_color(truth.pattern, mesh.positions[v],
                                            solid.outward_normal(mesh.positions[v])));
  for (std::size_t c = 0; c < truth.cameras.size(); ++c) {
    const auto covered = capture::mesh_coverage(to_camera(truth.cameras[c]), mesh);
    const auto sil = render_silhouette(solid, truth.cameras[c]);
    long both = 0, either = 0;
    for (std::size_t i = 0; i < sil.width() * sil.height(); ++i) {
      const bool p = covered.channel(0).data()[i] >= 128, q = sil.channel(0).data()[i] >= 128;
      both += p && q, either += p || q;
    }
    EXPECT_GT(double(both), 0.97 * double(either)) << "camera " << c;
  }
  tervik::testing::TempDir dir;
  write_mesh_ply(dir.file("truth.ply"), mesh);
  const io::PlyModel back = io::read_ply(dir.file("truth.ply"));
  EXPECT_EQ(back.faces, mesh.faces);
  EXPECT_EQ(back.colors, mesh.colors);
}

}  // namespace
}  // namespace tervik::scene
