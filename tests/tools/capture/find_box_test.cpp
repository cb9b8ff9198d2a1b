// find_box: the carved box holds the true object and stays close to it; the program warns,
// naming the camera, when a silhouette touches the image border.
#include <algorithm>
#include <cstdlib>

#include <gtest/gtest.h>

#include "test_util.h"
#include "tervik/exceptions.h"
#include "tervik/writeimage.h"
#include "tools/common/capture_files.h"
#include "tools/capture/find_box.h"
#include "tools/scene/scene.h"

namespace tervik::capture {
namespace {

using tervik::testing::read_file;
using tervik::testing::TempDir;

// The box of frames first..last of a scene rendered in memory, and the true object's bounds.
void box_and_truth(const scene::SceneOptions& options, Point3D& lo, Point3D& hi, Point3D& tlo,
                   Point3D& thi) {
  const scene::GroundTruth truth = scene::build_scene(options);
  std::vector<Camera> cams;
  for (const auto& v : truth.cameras) cams.push_back(scene::to_camera(v));
  HullBounds all;
  for (long f = truth.first_frame; f <= truth.last_frame; ++f) {
    std::vector<ImageGray<unsigned char>> sils;
    for (const auto& v : truth.cameras) sils.push_back(scene::render_silhouette(truth.solid(f), v));
    all = merge(all, frame_hull(cams, sils, FindBoxOptions()));
    Point3D a, b;
    truth.solid(f).bounding_box(a, b);
    if (f == truth.first_frame) tlo = a, thi = b;
    for (int k = 0; k < 3; ++k) tlo[k] = std::min(tlo[k], a[k]), thi[k] = std::max(thi[k], b[k]);
  }
  ASSERT_FALSE(all.empty);
  padded_box(all, FindBoxOptions().pad, lo, hi);
}

// Contains the true bounds and is at most 15 % larger per axis, on the figure (two frames,
// ring and dome) and the sphere.
TEST(FindBox, BoxHoldsTheObjectAndIsAtMost15PercentLargerPerAxis) {
  struct Case {
    scene::ObjectKind object;
    scene::CameraLayout layout;
    int cameras;
    long frames;
  };
  const Case cases[] = {{scene::ObjectKind::figure, scene::CameraLayout::ring, 8, 2},
                        {scene::ObjectKind::figure, scene::CameraLayout::dome, 12, 1},
                        {scene::ObjectKind::sphere, scene::CameraLayout::ring, 8, 1},
                        {scene::ObjectKind::sphere, scene::CameraLayout::dome, 10, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(scene::object_name(c.object) + " " + scene::layout_name(c.layout));
    scene::SceneOptions o;
    o.object = c.object;
    o.layout = c.layout;
    o.cameras = c.cameras;
    o.frames = c.frames;
    o.width = 240;
    o.height = 180;
    Point3D lo, hi, tlo, thi;
    box_and_truth(o, lo, hi, tlo, thi);
    for (int k = 0; k < 3; ++k) {
      SCOPED_TRACE("axis " + std::to_string(k));
      EXPECT_LE(lo[k], tlo[k]);
      EXPECT_GE(hi[k], thi[k]);
      EXPECT_LE((hi[k] - lo[k]) / (thi[k] - tlo[k]), 1.15);
      // Short decimals, printed as such (n * 0.01 would often be -0.51000000000000001).
      EXPECT_LE(shortest(lo[k]).size(), 5u) << shortest(lo[k]);
      EXPECT_LE(shortest(hi[k]).size(), 5u) << shortest(hi[k]);
    }
  }
}

// Closing in from the sides finds the same bounds as testing every voxel on its own.
TEST(FindBox, SideSearchAgreesWithAFullScan) {
  scene::SceneOptions o;
  o.cameras = 6;
  o.width = 80;
  o.height = 60;
  const scene::GroundTruth truth = scene::build_scene(o);
  std::vector<Camera> cams;
  std::vector<ForegroundCounts> counts;
  for (const auto& v : truth.cameras) {
    cams.push_back(scene::to_camera(v));
    counts.emplace_back(scene::render_silhouette(truth.solid(0), v));
  }
  const Point3D lo = truth.box_min, hi = truth.box_max;
  const int cells = 12;
  const HullBounds fast = carve_hull(cams, counts, lo, hi, cells, 5);
  ASSERT_FALSE(fast.empty);
  // One voxel at a time: a grid of one cell over the voxel's own cube.
  const double size = fast.voxel_size;
  HullBounds full;
  long kept = 0;
  for (int ix = 0; ix * size < hi.x - lo.x - 1e-9; ++ix)
    for (int iy = 0; iy * size < hi.y - lo.y - 1e-9; ++iy)
      for (int iz = 0; iz * size < hi.z - lo.z - 1e-9; ++iz) {
        const Point3D a = lo + Point3D(ix * size, iy * size, iz * size);
        const HullBounds one = carve_hull(cams, counts, a, a + Point3D(size, size, size), 1, 5);
        kept += one.empty ? 0 : 1;
        full = merge(full, one);
      }
  EXPECT_GT(kept, 20);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(fast.lo[k], full.lo[k], 1e-9) << k;
    EXPECT_NEAR(fast.hi[k], full.hi[k], 1e-9) << k;
  }
}

TEST(FindBox, ForegroundCountsAndBorders) {
  ImageGray<unsigned char> sil(6, 4);
  EXPECT_EQ(touched_borders(sil), "");
  sil[2][1] = 128;  // foreground from 128 up
  sil[3][2] = 127;  // background
  const ForegroundCounts counts(sil);
  EXPECT_EQ(counts.count(0, 0, 6, 4), 1);
  EXPECT_EQ(counts.count(3, 0, 6, 4), 0);
  EXPECT_EQ(counts.count(-5, -5, 3, 2), 1);  // clipped to the image
  EXPECT_EQ(touched_borders(sil), "");
  sil[0][3] = 255;
  sil[5][0] = 200;
  EXPECT_EQ(touched_borders(sil), "left, right, top, bottom");
}

TEST(FindBox, EmptySilhouettesGiveAnEmptyHull) {
  scene::SceneOptions o;
  o.width = 64;
  o.height = 48;
  const scene::GroundTruth truth = scene::build_scene(o);
  std::vector<Camera> cams;
  std::vector<ImageGray<unsigned char>> sils;
  for (const auto& v : truth.cameras) cams.push_back(scene::to_camera(v)), sils.emplace_back(64, 48);
  EXPECT_TRUE(frame_hull(cams, sils, FindBoxOptions()).empty);
  sils[2] = ImageGray<unsigned char>(64, 40);
  try {
    frame_hull(cams, sils, FindBoxOptions());
    FAIL() << "expected a size error";
  } catch (const TervikError& e) {
    EXPECT_STREQ(e.what(), "the silhouette of camera 2 is 64 x 40 but the camera is 64 x 48");
  }
}

// The program prints the box and a sculptor command, and names the camera whose silhouette
// touches the border.
TEST(FindBox, ProgramPrintsTheBoxAndWarnsAboutBorderTouches) {
  TempDir dir;
  scene::SceneOptions o;
  o.object = scene::ObjectKind::sphere;
  o.cameras = 6;
  o.frames = 1;
  o.width = 160;
  o.height = 120;
  const scene::GeneratedScene sc = scene::generate_scene(dir.path().string(), o);
  const std::string cmd = TERVIK_BINARY_DIR "/tools/find_box --cameras 6 --calibration " +
                          sc.camera_template + " --silhouettes " + sc.silhouette_template +
                          " --images " + sc.image_template + " > " + dir.file("out.txt");
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::string out = read_file(dir.file("out.txt"));
  EXPECT_NE(out.find("Box (xmin ymin zmin xmax ymax zmax): "), std::string::npos) << out;
  EXPECT_NE(out.find("sculptor 6 " + sc.camera_template + " " + sc.image_template), std::string::npos) << out;
  EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;
  // Without --images the command shows a placeholder, not a made-up file name.
  const std::string no_images = cmd.substr(0, cmd.find(" --images ")) + " > " + dir.file("out.txt");
  ASSERT_EQ(std::system(no_images.c_str()), 0);
  EXPECT_NE(read_file(dir.file("out.txt")).find("sculptor 6 " + sc.camera_template + " <IMAGE-TEMPLATE> "),
            std::string::npos) << read_file(dir.file("out.txt"));

  // Camera 4's silhouette reaches the left border.
  const std::string sil4 = dir.file("sil4_0000.png");
  ImageGray<unsigned char> sil = read_gray(sil4);
  for (long y = 50; y < 60; ++y)
    for (long x = 0; x < 90; ++x) sil[x][y] = 255;
  io::write_png(sil4, sil);
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  out = read_file(dir.file("out.txt"));
  EXPECT_NE(out.find("WARNING: camera 4, frame 0: the silhouette touches the image border (left)"),
            std::string::npos) << out;

  // A silhouette of the wrong size is named.
  io::write_png(sil4, ImageGray<unsigned char>(80, 60));
  EXPECT_NE(std::system(cmd.c_str()), 0);
  EXPECT_NE(read_file(dir.file("out.txt"))
                .find("ERROR: Error in file '" + sil4 + "': the image of camera 4 is 80 x 60 "
                      "pixels but its calibration is 160 x 120"),
            std::string::npos);
}

}  // namespace
}  // namespace tervik::capture
