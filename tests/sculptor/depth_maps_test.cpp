#include "sculptor/depth_maps.h"

#include <algorithm>
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "sculptor/post_scene.h"

namespace tervik {
namespace {

using multiview::MultiView;
using testing::look_at_camera;
using testing::make_patch;

// One camera at (0, 0, 10) looking down the z axis: a point (x, y, z) lies at depth 10 - z.
MultiView<> one_camera(long width = 40, long height = 30) {
  MultiView<> cams(1);
  cams[0].get<0>() = look_at_camera({0, 0, 10}, {0, 0, 0}, 50, width, height, {0, 1, 0});
  return cams;
}

// A point that projects to pixel (x + 0.5, y + 0.5) of `cam` at depth d.
Patch at_pixel(const Camera& cam, double x, double y, double d) {
  // Invert the look-at camera of one_camera(): u = 50 * X / d + cx, v = -50 * Y / d + cy.
  const double cx = 0.5 * cam.im_width(), cy = 0.5 * cam.im_height();
  return make_patch({(x + 0.5 - cx) * d / 50, -(y + 0.5 - cy) * d / 50, 10 - d}, {0, 0, 1});
}

// Counts the pixels of `map` that hold something other than the empty depth.
long written(const DepthMap& map) {
  long n = 0;
  for (long y = 0; y < map.height; ++y)
    for (long x = 0; x < map.width; ++x) n += map.at(x, y) != kEmptyDepth;
  return n;
}

TEST(DepthMaps, OneMapPerCameraSizedAsItsImageAndEmptyWithoutPoints) {
  MultiView<> cams(3);
  cams[0].get<0>() = look_at_camera({0, 0, 10}, {0, 0, 0}, 50, 40, 30, {0, 1, 0});
  cams[1].get<0>() = look_at_camera({10, 0, 0}, {0, 0, 0}, 50, 20, 10, {0, 1, 0});
  cams[2].get<0>() = look_at_camera({0, 0, -10}, {0, 0, 0}, 50, 7, 5, {0, 1, 0});
  std::vector<DepthMap> maps;
  depth_maps_pixel(maps, {}, cams);
  ASSERT_EQ(maps.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(maps[k].width, cams[k].get<0>().im_width());
    EXPECT_EQ(maps[k].height, cams[k].get<0>().im_height());
    EXPECT_EQ(written(maps[k]), 0);
    EXPECT_TRUE(maps[k].depth.empty());
  }
  // A point seen by the first camera only still gives three maps.
  depth_maps_pixel(maps, {at_pixel(cams[0].get<0>(), 3, 3, 20)}, cams);
  ASSERT_EQ(maps.size(), 3u);
  EXPECT_EQ(written(maps[0]), 9);
}

TEST(DepthMaps, SplatsThreeByThreeAndCutsAtTheBorder) {
  const MultiView<> cams = one_camera();
  const Camera& cam = cams[0].get<0>();
  std::vector<DepthMap> maps;
  depth_maps_pixel(maps, {at_pixel(cam, 12, 7, 6.0)}, cams);
  const double d = multiview::point_depth(at_pixel(cam, 12, 7, 6.0).pos, cam);
  for (long y = 0; y < 30; ++y) {
    for (long x = 0; x < 40; ++x) {
      const bool inside = std::abs(x - 12) <= 1 && std::abs(y - 7) <= 1;
      EXPECT_EQ(maps[0].at(x, y), inside ? d : kEmptyDepth) << x << "," << y;
    }
  }
  // At pixel (0, 0) only the four pixels inside the image are written.
  depth_maps_pixel(maps, {at_pixel(cam, 0, 0, 6.0)}, cams);
  EXPECT_EQ(written(maps[0]), 4);
  EXPECT_NE(maps[0].at(0, 0), kEmptyDepth);
  EXPECT_NE(maps[0].at(1, 0), kEmptyDepth);
  EXPECT_NE(maps[0].at(0, 1), kEmptyDepth);
  EXPECT_NE(maps[0].at(1, 1), kEmptyDepth);
  // At the last pixel likewise.
  depth_maps_pixel(maps, {at_pixel(cam, 39, 29, 6.0)}, cams);
  EXPECT_EQ(written(maps[0]), 4);
  EXPECT_NE(maps[0].at(38, 28), kEmptyDepth);
}

TEST(DepthMaps, SmallerDepthWinsWhateverTheOrder) {
  const MultiView<> cams = one_camera();
  const Camera& cam = cams[0].get<0>();
  const Patch near = at_pixel(cam, 10, 10, 4.0), far = at_pixel(cam, 10, 10, 8.0);
  const double dnear = multiview::point_depth(near.pos, cam);
  for (const auto& order : {std::vector<Patch>{near, far}, std::vector<Patch>{far, near}}) {
    std::vector<DepthMap> maps;
    depth_maps_pixel(maps, order, cams);
    for (long y = 9; y <= 11; ++y)
      for (long x = 9; x <= 11; ++x) EXPECT_EQ(maps[0].at(x, y), dnear);
    EXPECT_EQ(written(maps[0]), 9);
  }
  // Overlapping squares: the shared pixels take the nearer point, the others their own.
  const Patch side = at_pixel(cam, 12, 10, 2.0);
  std::vector<DepthMap> maps;
  depth_maps_pixel(maps, {near, side}, cams);
  EXPECT_EQ(maps[0].at(9, 10), dnear);
  EXPECT_EQ(maps[0].at(11, 10), multiview::point_depth(side.pos, cam));
  EXPECT_EQ(maps[0].at(13, 10), multiview::point_depth(side.pos, cam));
  EXPECT_EQ(written(maps[0]), 15);
}

TEST(DepthMaps, PointsBehindTheCameraOrOutsideTheImageLeaveTheMapUnchanged) {
  const MultiView<> cams = one_camera();
  std::vector<DepthMap> maps;
  // (0, 0, 15) lies 5 behind the camera and projects to the principal point.
  // (0, 0, 10) lies in the camera's plane (depth 0); (100, 0, 0) projects far right.
  depth_maps_pixel(maps,
                   {make_patch({0, 0, 15}, {0, 0, 1}), make_patch({0, 0, 10}, {0, 0, 1}),
                    make_patch({100, 0, 0}, {0, 0, 1}), make_patch({0, -100, 9}, {0, 0, 1})},
                   cams);
  EXPECT_EQ(written(maps[0]), 0);
}

// Every pixel holds the smallest depth of the points whose pixel lies within one pixel of it,
// computed here pixel by pixel instead of point by point.
TEST(DepthMaps, MatchesPerPixelMinimumOverRandomPoints) {
  MultiView<> cams(2);
  cams[0].get<0>() = look_at_camera({0, 0, 3}, {0, 0, 0}, 30, 24, 18, {0, 1, 0});
  cams[1].get<0>() = look_at_camera({2, 1, -2}, {0, 0, 0}, 25, 16, 20, {0, 1, 0});
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> coord(-1.5, 1.5);
  std::vector<Patch> patches;
  for (int i = 0; i < 300; ++i) patches.push_back(make_patch({coord(rng), coord(rng), coord(rng)}, {1, 0, 0}));
  // Some behind the first camera.
  for (int i = 0; i < 20; ++i) patches.push_back(make_patch({coord(rng), coord(rng), 4 + coord(rng) + 1.5}, {1, 0, 0}));
  std::vector<DepthMap> maps;
  depth_maps_pixel(maps, patches, cams);
  for (std::size_t k = 0; k < 2; ++k) {
    const Camera& cam = cams[k].get<0>();
    for (long y = 0; y < static_cast<long>(cam.im_height()); ++y) {
      for (long x = 0; x < static_cast<long>(cam.im_width()); ++x) {
        double best = kEmptyDepth;
        for (const Patch& p : patches) {
          Point2D u;
          multiview::world_to_image_undistorted(p.pos, cam, u);
          const double d = multiview::point_depth(p.pos, cam);
          if (d <= 0 || u.x <= -1 || u.y <= -1 || u.x >= cam.im_width() || u.y >= cam.im_height())
            continue;
          if (std::abs(static_cast<long>(u.x) - x) <= 1 && std::abs(static_cast<long>(u.y) - y) <= 1)
            best = std::min(best, d);
        }
        EXPECT_EQ(maps[k].at(x, y), best) << "camera " << k << " pixel " << x << "," << y;
      }
    }
  }
}

TEST(DepthMaps, RebuildsFromEachCallsPointsAndStoresOnlyTheirRectangle) {
  MultiView<> cams = one_camera();
  const Camera& cam = cams[0].get<0>();
  std::vector<DepthMap> maps;
  depth_maps_pixel(maps, {at_pixel(cam, 5, 5, 3.0), at_pixel(cam, 9, 6, 3.0)}, cams);
  EXPECT_EQ(maps[0].rect.x0, 4);
  EXPECT_EQ(maps[0].rect.y0, 4);
  EXPECT_EQ(maps[0].rect.x1, 11);
  EXPECT_EQ(maps[0].rect.y1, 8);
  EXPECT_EQ(maps[0].depth.size(), 7u * 4u);
  EXPECT_EQ(written(maps[0]), 18);
  // The next call sees a farther point elsewhere: nothing of the first call stays.
  depth_maps_pixel(maps, {at_pixel(cam, 20, 20, 9.0)}, cams);
  EXPECT_EQ(maps[0].at(5, 5), kEmptyDepth);
  EXPECT_EQ(written(maps[0]), 9);
  EXPECT_EQ(maps[0].depth.size(), 9u);
  // A camera of another size gets a map of its own size; fewer cameras, fewer maps.
  cams[0].get<0>().im_width() = 13;
  depth_maps_pixel(maps, {}, cams);
  EXPECT_EQ(maps[0].width, 13);
  EXPECT_EQ(written(maps[0]), 0);
  depth_maps_pixel(maps, {}, MultiView<>(0));
  EXPECT_TRUE(maps.empty());
}

// Maps rebuilt in the same storage equal maps built afresh, frame after frame, for points that
// move, leave the image, sit on the border or vanish, on 1 to 3 threads; each map's rectangle is
// the smallest that holds its written pixels.
TEST(DepthMaps, RebuildingFrameAfterFrameEqualsAFreshBuild) {
  MultiView<> cams(3);
  cams[0].get<0>() = look_at_camera({0, 0, 10}, {0, 0, 0}, 50, 40, 30, {0, 1, 0});
  cams[1].get<0>() = look_at_camera({10, 0, 0}, {0, 0, 0}, 60, 50, 40, {0, 0, 1});
  cams[2].get<0>() = look_at_camera({0, -9, 3}, {0, 0, 0}, 40, 33, 21, {0, 0, 1});
  std::mt19937 rng(41);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (unsigned threads : {1u, 2u, 3u}) {
    std::vector<DepthMap> maps;
    for (int frame = 0; frame < 12; ++frame) {
      std::vector<Patch> patches;
      const int count = frame % 5 == 3 ? 0 : 40 * (frame % 4 + 1);
      const double spread = frame % 3 == 0 ? 6.0 : 1.5;  // sometimes beyond the images
      const Point3D centre(u(rng), u(rng), u(rng));
      for (int i = 0; i < count; ++i)
        patches.push_back(make_patch(centre + Point3D(u(rng), u(rng), u(rng)) * spread, {0, 0, 1}));
      depth_maps_pixel(maps, patches, cams, threads);
      std::vector<DepthMap> fresh;
      depth_maps_pixel(fresh, patches, cams);
      ASSERT_EQ(maps.size(), 3u);
      for (std::size_t k = 0; k < 3; ++k) {
        SCOPED_TRACE(::testing::Message() << "frame " << frame << ", camera " << k << ", "
                                          << threads << " threads");
        const DepthMap& m = maps[k];
        long x0 = m.width, y0 = m.height, x1 = 0, y1 = 0;  // the written pixels' bounds
        for (long y = 0; y < m.height; ++y) {
          for (long x = 0; x < m.width; ++x) {
            ASSERT_EQ(m.at(x, y), fresh[k].at(x, y)) << x << "," << y;
            if (m.at(x, y) == kEmptyDepth) continue;
            x0 = std::min(x0, x);
            y0 = std::min(y0, y);
            x1 = std::max(x1, x + 1);
            y1 = std::max(y1, y + 1);
          }
        }
        if (x0 < x1) {
          EXPECT_EQ(m.rect.x0, x0);
          EXPECT_EQ(m.rect.y0, y0);
          EXPECT_EQ(m.rect.x1, x1);
          EXPECT_EQ(m.rect.y1, y1);
        } else {
          EXPECT_EQ(m.rect.width() * m.rect.height(), 0);
        }
        EXPECT_EQ(m.depth.size(), static_cast<std::size_t>(m.rect.width() * m.rect.height()));
      }
    }
  }
}

}  // namespace
}  // namespace tervik
