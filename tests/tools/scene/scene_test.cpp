// Generated scenes on disk: what sculptor reads agrees with the analytic object.
#include <cmath>
#include <filesystem>

#include <gtest/gtest.h>

#include "test_util.h"
#include "tervik/camera.h"
#include "tervik/exceptions.h"
#include "tervik/multiview.h"
#include "tervik/readimage.h"
#include "tools/scene/scene.h"

namespace tervik::scene {
namespace {

using tervik::testing::read_file;
using tervik::testing::TempDir;

std::string name_of(const std::string& pattern, long a, long b) {
  char buf[1024];
  std::snprintf(buf, sizeof buf, pattern.c_str(), a, b);
  return buf;
}

ImageGray<unsigned char> read_gray(const std::string& file) {
  ImageGray<unsigned char> img;
  io::ReadImage(file).read(img);
  return img;
}

// The calibration files and silhouette PNGs, read back as sculptor reads them, agree with the
// object: points well inside are foreground wherever seen, points whose neighbourhood of
// rays misses the object are background.
TEST(SceneGenerate, FilesReadBackIntoCamerasThatReproduceTheSilhouettes) {
  TempDir dir;
  SceneOptions options;
  options.cameras = 6;
  options.width = 320;
  options.height = 240;
  options.frames = 2;
  options.first_frame = 3;
  options.layout = CameraLayout::dome;
  const GeneratedScene scene = generate_scene(dir.path().string(), options);
  EXPECT_EQ(scene.cameras, 6);
  EXPECT_EQ(scene.first_frame, 3);
  EXPECT_EQ(scene.last_frame, 4);
  EXPECT_TRUE(std::filesystem::exists(scene.ground_truth_file));
  std::vector<Camera> cams(6);
  for (long c = 0; c < 6; ++c) {
    cams[c].read_parameters(name_of(scene.camera_template, c, 0));
    EXPECT_EQ(cams[c].im_width(), 320u);
    const ViewCamera& v = scene.truth.cameras[c];
    for (int row = 0; row < 3; ++row)
      for (int col = 0; col < 4; ++col) {
        EXPECT_EQ(cams[c].p()[col][row], v.p[row][col]);
        // P = K [R | t].
        double kr = 0.0;
        for (int i = 0; i < 3; ++i)
          kr += cams[c].k()[i][row] * (col < 3 ? cams[c].rot()[col][i] : cams[c].trans()[i]);
        EXPECT_NEAR(cams[c].p()[col][row], kr, 1e-9 * (1.0 + std::fabs(kr)));
      }
  }
  UniformRandom random(21);
  for (long f = scene.first_frame; f <= scene.last_frame; ++f) {
    const Solid& solid = scene.object(f);
    std::vector<ImageGray<unsigned char>> sils;
    for (long c = 0; c < 6; ++c) {
      sils.push_back(read_gray(name_of(scene.silhouette_template, c, f)));
      ASSERT_EQ(sils.back().width(), 320u);
      ImageRGB<unsigned char> rgb;
      io::ReadImage(name_of(scene.image_template, c, f)).read(rgb);
      ASSERT_EQ(rgb.height(), 240u);
    }
    int inside = 0, outside = 0;
    for (int i = 0; i < 4000; ++i) {
      Point3D p;
      for (int k = 0; k < 3; ++k)
        p[k] = scene.box_min[k] + random() * (scene.box_max[k] - scene.box_min[k]);
      const double sd = solid.signed_distance(p);
      for (long c = 0; c < 6; ++c) {
        Point2D x;
        multiview::world_to_image_undistorted(p, cams[c], x);
        const long px = long(x.x), py = long(x.y);
        ASSERT_TRUE(px >= 0 && px < 320 && py >= 0 && py < 240) << "the box fits every image";
        // World size of two pixels at the point's depth.
        const double two_pixels = 2.0 * multiview::point_depth(p, cams[c]) / cams[c].k()[0][0];
        const unsigned char value = sils[c][px][py];
        if (sd < -two_pixels) {
          EXPECT_EQ(value, 255);
          ++inside;
        }
        const ViewCamera& v = scene.truth.cameras[c];
        bool near_object = false;
        for (int dy = -2; dy <= 2 && !near_object; ++dy)
          for (int dx = -2; dx <= 2 && !near_object; ++dx)
            near_object = solid.ray_hits(v.centre(), v.ray_direction(x.x + dx, x.y + dy));
        if (!near_object) {
          EXPECT_EQ(value, 0);
          ++outside;
        }
      }
    }
    EXPECT_GT(inside, 1000);
    EXPECT_GT(outside, 5000);
  }
}

TEST(SceneGenerate, SameOptionsGiveIdenticalBytesWithAnyNumberOfThreads) {
  TempDir a, b;
  SceneOptions options;
  options.width = 200;
  options.height = 150;
  options.frames = 2;
  const GeneratedScene sa = generate_scene(a.path().string(), options);
  options.threads = 3;
  const GeneratedScene sb = generate_scene(b.path().string(), options);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(a.path()))
    names.push_back(entry.path().filename().string());
  EXPECT_EQ(names.size(), 8u + 2 * 8 * 2 + 1);
  for (const std::string& n : names)
    EXPECT_EQ(read_file((a.path() / n).string()), read_file((b.path() / n).string())) << n;
  // A different scene changes the images.
  EXPECT_NE(read_file(name_of(sa.image_template, 0, 0)), read_file(name_of(sa.image_template, 0, 1)));
}

TEST(SceneGenerate, CommandLineAndOptionChecks) {
  TempDir dir;
  SceneOptions options;
  options.object = ObjectKind::sphere;
  options.width = 64;
  options.height = 48;
  options.frames = 1;
  options.points = 5000;
  const GeneratedScene scene = generate_scene(dir.file("a b"), options);
  const auto args = scene.sculptor_arguments();
  ASSERT_EQ(args.size(), 14u);
  EXPECT_EQ(args[0], "8");
  EXPECT_EQ(args[1], dir.file("a b") + "/cam%ld.txt");
  EXPECT_EQ(args[3], dir.file("a b") + "/sil%ld_%04ld.png");
  EXPECT_EQ(args[5], "0");
  EXPECT_EQ(args[6], "0");
  EXPECT_EQ(args[13], "5000");
  // The box prints exactly: the text reads back as the same double.
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(std::stod(args[7 + k]), scene.box_min[k]);
    EXPECT_EQ(std::stod(args[10 + k]), scene.box_max[k]);
    EXPECT_LT(scene.box_min[k], -0.5);
    EXPECT_GT(scene.box_max[k], 0.5);
  }
  const std::string cmd = scene.sculptor_command("/opt/sculptor");
  EXPECT_EQ(cmd.rfind("/opt/sculptor 8 '" + dir.file("a b") + "/cam%ld.txt' ", 0), 0u) << cmd;
  EXPECT_NE(cmd.find(" 0 0 -0.57 -0.57 -0.57 0.57 0.57 0.57 5000"), std::string::npos) << cmd;

  auto error = [&](SceneOptions o, const std::string& folder) {
    try {
      generate_scene(folder, o);
    } catch (const TervikError& e) {
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  SceneOptions bad = options;
  bad.cameras = 3;
  EXPECT_EQ(error(bad, dir.file("x")), "cameras must be 4 to 64, not 3");
  bad = options;
  bad.frames = 0;
  EXPECT_EQ(error(bad, dir.file("x")), "frames must be 1 to 1000, not 0");
  EXPECT_EQ(error(options, dir.file("100%")).rfind("scene folder '" + dir.file("100%") +
                                                    "' must not contain '%'", 0),
            0u);
  EXPECT_FALSE(std::filesystem::exists(dir.file("x")));
}

}  // namespace
}  // namespace tervik::scene
