// Camera placement, pinhole geometry, ray-cast silhouettes and the ground truth file.
#include <cmath>
#include <functional>

#include <gtest/gtest.h>

#include "test_util.h"
#include "tervik/exceptions.h"
#include "tools/scene/scene.h"

namespace tervik::scene {
namespace {

std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no exception";
}

TEST(SceneCameras, RaysThroughPixelsProjectBackAndTheBallFitsEveryImage) {
  const Point3D centre(0.1, -0.2, 0.3);
  for (CameraLayout layout : {CameraLayout::ring, CameraLayout::dome}) {
    const auto cams = place_cameras(12, layout, 320, 200, 300.0, centre, 0.8);
    ASSERT_EQ(cams.size(), 12u);
    UniformRandom random(9);
    for (const ViewCamera& cam : cams) {
      // The centre projects onto the principal point, in front of the camera.
      const Point2D c = cam.project(centre);
      EXPECT_NEAR(c.x, 160.0, 1e-9);
      EXPECT_NEAR(c.y, 100.0, 1e-9);
      EXPECT_GT(cam.depth(centre), 0.0);
      // The image's up direction is the world's: a point above the centre has a smaller row.
      EXPECT_LT(cam.project(centre + Point3D(0, 0, 0.1)).y, c.y);
      // A point on the ray through (u, v) projects back onto (u, v).
      for (int i = 0; i < 20; ++i) {
        const double u = 320 * random(), v = 200 * random();
        const Point2D back = cam.project(cam.centre() + cam.ray_direction(u, v) * (2 + random()));
        EXPECT_NEAR(back.x, u, 1e-9);
        EXPECT_NEAR(back.y, v, 1e-9);
      }
      // Every point of the ball lies inside the image, 5% away from the border.
      for (int i = 0; i < 500; ++i) {
        const Point3D d(2 * random() - 1, 2 * random() - 1, 2 * random() - 1);
        if (norm(d) > 1.0 || norm(d) == 0.0) continue;
        const Point2D x = cam.project(centre + d / norm(d) * 0.8);
        EXPECT_GT(x.x, 0.05 * 200);
        EXPECT_LT(x.x, 320 - 0.05 * 200);
        EXPECT_GT(x.y, 0.05 * 200);
        EXPECT_LT(x.y, 200 - 0.05 * 200);
      }
    }
  }
  EXPECT_EQ(error_of([] { parse_layout("cube"); }),
            "unknown camera layout 'cube' (expected 'ring' or 'dome')");
}

TEST(SceneCameras, PixelOfTruncatesAndRejectsPointsOutsideOrBehind) {
  const ViewCamera cam = look_at(Point3D(0, -5, 0), Point3D(0, 0, 0), 64, 48, 50.0);
  long x = -1, y = -1;
  ASSERT_TRUE(cam.pixel_of(Point3D(0, 0, 0), x, y));
  EXPECT_EQ(x, 32);
  EXPECT_EQ(y, 24);
  // Just left of the image's first column: -0.5 truncates to column 0, as sculptor does.
  const Point3D left = cam.centre() + cam.ray_direction(-0.5, 10.2) * 5.0;
  ASSERT_TRUE(cam.pixel_of(left, x, y));
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 10);
  EXPECT_FALSE(cam.pixel_of(cam.centre() + cam.ray_direction(-1.5, 10.2) * 5.0, x, y));
  EXPECT_FALSE(cam.pixel_of(cam.centre() + cam.ray_direction(64.0, 10.2) * 5.0, x, y));
  EXPECT_FALSE(cam.pixel_of(Point3D(0, -10, 0), x, y));  // behind the camera
}

TEST(SceneRender, SilhouetteIsTheExactRayCastAndColourShowsThePattern) {
  const Solid sphere({Primitive::sphere(Point3D(0, 0, 0), 0.5)});
  const ViewCamera cam = look_at(Point3D(3, 0, 0.5), Point3D(0, 0, 0), 80, 60, 70.0);
  ImageGray<unsigned char> sil;
  ImageRGB<unsigned char> rgb;
  render_view(sphere, cam, ColorPattern(), sil, rgb);
  ASSERT_EQ(sil.width(), 80u);
  ASSERT_EQ(sil.height(), 60u);
  EXPECT_EQ(render_silhouette(sphere, cam).channel(0), sil.channel(0));
  long fg = 0;
  const Point3D o = cam.centre();
  for (long y = 0; y < 60; ++y)
    for (long x = 0; x < 80; ++x) {
      // Foreground exactly where the pixel-centre ray passes within the radius of the centre.
      const Point3D d = cam.ray_direction(x + 0.5, y + 0.5);
      const double miss = norm(cross(Point3D(0, 0, 0) - o, d)) / norm(d);
      if (std::fabs(miss - 0.5) < 1e-9) continue;
      ASSERT_EQ(sil[x][y], miss < 0.5 ? 255 : 0) << x << "," << y;
      fg += miss < 0.5;
      const Coord3D<unsigned char> c(rgb.channel(0)[x][y], rgb.channel(1)[x][y],
                                     rgb.channel(2)[x][y]);
      if (miss >= 0.5) EXPECT_EQ(c, background_color);
      else EXPECT_NE(c, background_color);
    }
  EXPECT_GT(fg, 300);
  // Cells of the checker differ from their neighbours along every axis.
  const ColorPattern pat;
  const Point3D q(0.05, 0.05, 0.05);
  for (const Point3D& step : {Point3D(0.1, 0, 0), Point3D(0, 0.1, 0), Point3D(0, 0, 0.1)})
    EXPECT_NE(checker_color(pat, q), checker_color(pat, q + step));
}

TEST(SceneTruth, FileRoundTripsBitIdentical) {
  tervik::testing::TempDir dir;
  SceneOptions options;
  options.frames = 4;
  options.first_frame = 7;
  options.layout = CameraLayout::dome;
  const GroundTruth truth = build_scene(options);
  write_ground_truth(dir.file("truth.txt"), truth);
  const GroundTruth back = read_ground_truth(dir.file("truth.txt"));
  EXPECT_EQ(back.first_frame, 7);
  EXPECT_EQ(back.last_frame, 10);
  EXPECT_EQ(back.box_min, truth.box_min);
  EXPECT_EQ(back.box_max, truth.box_max);
  ASSERT_EQ(back.solids.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i)
    EXPECT_EQ(back.solids[i].primitives(), truth.solids[i].primitives());
  ASSERT_EQ(back.cameras.size(), 8u);
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(back.cameras[i].p, truth.cameras[i].p);
    EXPECT_EQ(back.cameras[i].width, 640);
  }
  EXPECT_EQ(back.pattern.cell, truth.pattern.cell);
  // Every frame's object lies inside the box.
  for (const Solid& s : truth.solids) {
    Point3D lo, hi;
    s.bounding_box(lo, hi);
    for (int k = 0; k < 3; ++k) {
      EXPECT_GT(lo[k], truth.box_min[k]);
      EXPECT_LT(hi[k], truth.box_max[k]);
    }
  }
  EXPECT_EQ(error_of([&] { truth.solid(11); }), "frame 11 is not in the scene's frames 7 to 10");
}

TEST(SceneTruth, MalformedFilesNameTheLine) {
  tervik::testing::TempDir dir;
  const GroundTruth truth = build_scene(SceneOptions());
  write_ground_truth(dir.file("t.txt"), truth);
  const std::string good = tervik::testing::read_file(dir.file("t.txt"));
  auto with = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    tervik::testing::write_file(dir.file("bad.txt"), text);
    return error_of([&] { read_ground_truth(dir.file("bad.txt")); });
  };
  const std::string prefix = "Error in file '" + dir.file("bad.txt") + "': ";
  EXPECT_EQ(with("object figure", "object cube"),
            prefix + "line 2: unknown object 'cube' (expected 'figure' or 'sphere')");
  EXPECT_EQ(with("frames 0 2", "frames 0"), prefix + "line 3: 'frames' needs 2 values, found 1");
  EXPECT_EQ(with("frame 1 4", "frame 2 4"), prefix + "line 20: expected frame 1 here");
  EXPECT_EQ(with("frame 1 4\nellipsoid", "frame 1 4\nellipse"),
            prefix + "line 21: expected 'sphere', 'ellipsoid' or 'capsule', found 'ellipse'");
  EXPECT_EQ(with("cameras 8", "cameras x"),
            prefix + "line 6: 'x' is not an integer in [0, 4096]");
  const std::string cut = good.substr(0, good.find("frame 2"));
  tervik::testing::write_file(dir.file("bad.txt"), cut);
  EXPECT_EQ(error_of([&] { read_ground_truth(dir.file("bad.txt")); }),
            prefix + "line 25: file ends early: expected a 'frame' line");
  EXPECT_EQ(error_of([&] { read_ground_truth(dir.file("none.txt")); }),
            "File " + dir.file("none.txt") + " not found");
}

}  // namespace
}  // namespace tervik::scene
