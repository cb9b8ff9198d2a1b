// render_view: mesh pixels agree with the scene's silhouettes; points land on their pixels;
// outlines, resizing and contact sheets; the program end to end.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

#include <gtest/gtest.h>

#include "test_util.h"
#include "tervik/mesh.h"
#include "tervik/multiview.h"
#include "tervik/readimage.h"
#include "tervik/writeimage.h"
#include "tools/common/capture_files.h"
#include "tools/capture/render_view.h"
#include "tools/scene/scene.h"

namespace tervik::capture {
namespace {

using tervik::testing::read_file;
using tervik::testing::TempDir;
using tervik::testing::write_file;

// A unit icosphere: the icosahedron with every face split `levels` times, vertices on the sphere.
void icosphere(int levels, std::vector<Point3D>& v, std::vector<Coord3D<long long>>& f) {
  const double t = (1.0 + std::sqrt(5.0)) / 2.0;
  v = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
       {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
  f = {{0, 11, 5}, {0, 5, 1}, {0, 1, 7}, {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
       {11, 10, 2}, {10, 7, 6}, {7, 1, 8}, {3, 9, 4}, {3, 4, 2}, {3, 2, 6}, {3, 6, 8},
       {3, 8, 9}, {4, 9, 5}, {2, 4, 11}, {6, 2, 10}, {8, 6, 7}, {9, 8, 1}};
  for (auto& p : v) p = p / norm(p);
  for (int l = 0; l < levels; ++l) {
    std::map<std::pair<long long, long long>, long long> mid;
    const auto middle = [&](long long a, long long b) {
      const auto key = std::minmax(a, b);
      auto it = mid.find(key);
      if (it != mid.end()) return it->second;
      const Point3D m = (v[a] + v[b]) / 2.0;
      v.push_back(m / norm(m));
      return mid[key] = static_cast<long long>(v.size()) - 1;
    };
    std::vector<Coord3D<long long>> next;
    for (const auto& t3 : f) {
      const long long a = middle(t3.x, t3.y), b = middle(t3.y, t3.z), c = middle(t3.z, t3.x);
      next.insert(next.end(), {{t3.x, a, c}, {t3.y, b, a}, {t3.z, c, b}, {a, b, c}});
    }
    f = next;
  }
}

// The analytic object triangulated: one closed mesh per primitive (the union's silhouette is
// the union of theirs). A capsule is the sphere split at its equator and moved to the ends.
io::PlyModel triangulate(const scene::Solid& solid) {
  std::vector<Point3D> unit;
  std::vector<Coord3D<long long>> faces;
  icosphere(4, unit, faces);
  io::PlyModel model;
  model.has_faces = true;
  for (const auto& prim : solid.primitives()) {
    const auto base = static_cast<long long>(model.positions.size());
    const Point3D axis = prim.b - prim.a;
    for (const Point3D& u : unit) {
      switch (prim.shape) {
        case scene::Shape::sphere: model.positions.push_back(prim.a + u * prim.radii.x); break;
        case scene::Shape::ellipsoid:
          model.positions.push_back(prim.a + Point3D(u.x * prim.radii.x, u.y * prim.radii.y,
                                                     u.z * prim.radii.z));
          break;
        case scene::Shape::capsule:
          model.positions.push_back((dot(u, axis) >= 0.0 ? prim.b : prim.a) + u * prim.radii.x);
          break;
      }
    }
    for (const auto& t3 : faces) model.faces.push_back({t3.x + base, t3.y + base, t3.z + base});
  }
  return model;
}

double iou(const ImageGray<unsigned char>& a, const ImageGray<unsigned char>& b) {
  long both = 0, either = 0;
  const unsigned char* p = a.channel(0).data();
  const unsigned char* q = b.channel(0).data();
  for (std::size_t i = 0; i < a.width() * a.height(); ++i) {
    both += (p[i] >= 128) && (q[i] >= 128);
    either += (p[i] >= 128) || (q[i] >= 128);
  }
  return either == 0 ? 0.0 : double(both) / double(either);
}

// The triangulated object covers the pixels of the rendered silhouettes, in every camera of
// both objects.
TEST(RenderView, MeshCoverageMatchesTheSceneSilhouettes) {
  for (auto object : {scene::ObjectKind::sphere, scene::ObjectKind::figure}) {
    scene::SceneOptions o;
    o.object = object;
    o.cameras = 6;
    o.layout = scene::CameraLayout::dome;
    o.width = 200;
    o.height = 150;
    const scene::GroundTruth truth = scene::build_scene(o);
    const io::PlyModel model = triangulate(truth.solid(0));
    for (std::size_t c = 0; c < truth.cameras.size(); ++c) {
      const double value = iou(mesh_coverage(scene::to_camera(truth.cameras[c]), model),
                               scene::render_silhouette(truth.solid(0), truth.cameras[c]));
      EXPECT_GE(value, 0.95) << scene::object_name(object) << " camera " << c;
      EXPECT_LE(value, 1.0);
    }
  }
}

Camera simple_camera(long w, long h, double f) {
  scene::ViewCamera v = scene::look_at(Point3D(0, -5, 0), Point3D(0, 0, 0), w, h, f);
  return scene::to_camera(v);
}

// A corner next to the camera's plane projects beyond any pixel index a long holds; the
// part of its triangle inside the image is still drawn.
TEST(RenderView, TriangleReachingFarBeyondTheImageIsDrawn) {
  const Camera cam = simple_camera(40, 30, 50.0);
  io::PlyModel model;
  model.positions = {Point3D(0, 0, -0.2), Point3D(0, 0, 0.2), Point3D(1e4, -5 + 1e-15, 0)};
  model.faces = {{0, 1, 2}};
  Point2D far, inside;
  multiview::world_to_image_undistorted(model.positions[2], cam, far);
  ASSERT_GT(std::abs(far.x), 1e19);
  multiview::world_to_image_undistorted(Point3D(0.05, 0, 0), cam, inside);
  const ImageGray<unsigned char> cover = mesh_coverage(cam, model);
  EXPECT_EQ(cover.channel(0).data()[long(inside.y) * 40 + long(inside.x)], 255);
}

// A point marks the pixel its position truncates to; a nearer point hides a farther one on
// the same pixel whatever their order; with lens distortion the mark moves as the model says.
TEST(RenderView, PointsLandOnTheirPixelsNearestFirst) {
  Camera cam = simple_camera(40, 30, 50.0);
  io::PlyModel model;
  model.positions = {Point3D(0, 0, 0), Point3D(0, -1, 0), Point3D(1, 0, 1)};
  model.colors = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  model.has_colors = true;
  RenderStyle style;
  style.point_radius = 0;
  ImageRGB<unsigned char> canvas(40, 30);
  draw_model(cam, model, style, canvas);
  Point2D centre, third;
  multiview::world_to_image_undistorted(model.positions[0], cam, centre);
  multiview::world_to_image_undistorted(model.positions[2], cam, third);
  const long cx = long(centre.x), cy = long(centre.y);
  EXPECT_EQ(canvas.channel(1).data()[cy * 40 + cx], 255);  // green: nearer than red
  EXPECT_EQ(canvas.channel(0).data()[cy * 40 + cx], 0);
  EXPECT_EQ(canvas.channel(2).data()[long(third.y) * 40 + long(third.x)], 255);
  long marked = 0;
  for (std::size_t i = 0; i < 40 * 30; ++i)
    marked += canvas.channel(0).data()[i] + canvas.channel(1).data()[i] + canvas.channel(2).data()[i] > 0;
  EXPECT_EQ(marked, 2);

  cam.distortion()[0] = 3.0;  // k1: moves the off-centre point outward
  Point2D distorted;
  multiview::fast_world2image(model.positions[2], cam, distorted);
  ASSERT_NE(long(distorted.x), long(third.x));
  canvas = static_cast<unsigned char>(0);
  draw_model(cam, model, style, canvas);
  EXPECT_EQ(canvas.channel(2).data()[long(distorted.y) * 40 + long(distorted.x)], 255);
  EXPECT_EQ(canvas.channel(2).data()[long(third.y) * 40 + long(third.x)], 0);
}

TEST(RenderView, OutlineResizeAndContactSheet) {
  ImageGray<unsigned char> sil(10, 8);
  for (long x = 2; x < 7; ++x)
    for (long y = 1; y < 5; ++y) sil[x][y] = 255;
  ImageRGB<unsigned char> canvas(10, 8);
  draw_outline(sil, {1, 2, 3}, canvas);
  long outline = 0;
  for (long x = 0; x < 10; ++x)
    for (long y = 0; y < 8; ++y) {
      const bool on = canvas.channel(2).data()[y * 10 + x] == 3;
      outline += on;
      EXPECT_EQ(on, sil[x][y] == 255 && (x == 2 || x == 6 || y == 1 || y == 4)) << x << "," << y;
    }
  EXPECT_EQ(outline, 14);

  const ImageGray<unsigned char> half = resize_nearest(sil, 5, 4);
  // Output pixel (x, y) takes input pixel (2 x + 1, 2 y + 1).
  EXPECT_EQ(half[0][0], 0);
  EXPECT_EQ(half[1][0], 255);
  EXPECT_EQ(half[3][2], 0);
  EXPECT_EQ(half[2][1], 255);

  std::vector<ImageRGB<unsigned char>> tiles(3, ImageRGB<unsigned char>(4, 3));
  tiles[2] = static_cast<unsigned char>(200);
  const ImageRGB<unsigned char> sheet = contact_sheet(tiles, 2, 1);
  EXPECT_EQ(sheet.width(), 2u * 4 + 3);
  EXPECT_EQ(sheet.height(), 2u * 3 + 3);
  EXPECT_EQ(sheet.channel(0).data()[5 * 11 + 1], 200);  // third tile: second row, first column
  EXPECT_EQ(sheet.channel(0).data()[1 * 11 + 1], 0);    // first tile
  EXPECT_EQ(sheet.channel(0).data()[0], 40);            // gap
}

// The program: a triangulated sphere drawn over black covers the scene's silhouette; a contact
// sheet of four cameras over their images; a bad model file is named.
TEST(RenderView, ProgramDrawsTheMeshWhereTheSilhouetteIs) {
  TempDir dir;
  scene::SceneOptions o;
  o.object = scene::ObjectKind::sphere;
  o.cameras = 4;
  o.frames = 1;
  o.width = 160;
  o.height = 120;
  const scene::GeneratedScene sc = scene::generate_scene(dir.path().string(), o);
  const io::PlyModel model = triangulate(sc.object(0));
  FaceVertexMesh mesh;
  for (const auto& p : model.positions) mesh.add_vertex(p);
  for (const auto& f : model.faces) mesh.add_face(f);
  write_mesh(dir.file("mesh.ply"), mesh);
  const std::string program = TERVIK_BINARY_DIR "/tools/render_view --calibration " + sc.camera_template;
  const std::string log = " > " + dir.file("log.txt");
  ASSERT_EQ(std::system((program + " --camera-ids 2 --model " + dir.file("mesh.ply") + " -o " +
                         dir.file("one.png") + log).c_str()), 0);
  const ImageGray<unsigned char> drawn = read_gray(dir.file("one.png"));
  ImageGray<unsigned char> mask(160, 120);
  for (long x = 0; x < 160; ++x)
    for (long y = 0; y < 120; ++y) mask[x][y] = drawn[x][y] > 0 ? 255 : 0;
  const double value = iou(mask, read_gray(dir.file("sil2_0000.png")));
  EXPECT_GE(value, 0.95);
  EXPECT_EQ(read_file(dir.file("log.txt")), "Wrote " + dir.file("one.png") + ": 1 view of 160 x 120 pixels\n");

  ASSERT_EQ(std::system((program + " --camera-ids 0-3 --model " + dir.file("mesh.ply") +
                         " --images " + sc.image_template + " --silhouettes " +
                         sc.silhouette_template + " --tile-width 80 -o " + dir.file("sheet.png") + log)
                            .c_str()), 0);
  const ImageRGB<unsigned char> sheet = read_rgb(dir.file("sheet.png"));
  EXPECT_EQ(sheet.width(), 2u * 80 + 12);
  EXPECT_EQ(sheet.height(), 2u * 60 + 12);

  // An output that names one of the images is refused, and the image stays.
  const std::string image1 = read_file(dir.file("img1_0000.png"));
  EXPECT_NE(std::system((program + " --camera-ids 0-3 --images " + sc.image_template + " -o " +
                         dir.file("img1_0000.png") + log).c_str()), 0);
  EXPECT_EQ(read_file(dir.file("log.txt")), "ERROR: the output '" + dir.file("img1_0000.png") +
                                                "' is the input '" + dir.file("img1_0000.png") +
                                                "': refusing to replace an input of this run\n");
  EXPECT_EQ(read_file(dir.file("img1_0000.png")), image1);

  write_file(dir.file("bad.ply"), "ply\nformat ascii 1.0\nelement vertex 2\nend_header\n");
  EXPECT_NE(std::system((program + " --model " + dir.file("bad.ply") + " -o " + dir.file("x.png") + log).c_str()), 0);
  EXPECT_NE(read_file(dir.file("log.txt")).find("ERROR: Error in file '" + dir.file("bad.ply") + "'"),
            std::string::npos) << read_file(dir.file("log.txt"));
}

}  // namespace
}  // namespace tervik::capture
