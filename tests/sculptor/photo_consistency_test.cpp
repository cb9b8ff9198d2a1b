#include <cmath>
#include <cstdlib>

#include <gtest/gtest.h>

#include "sculptor/colors.h"
#include "sculptor/depth_maps.h"
#include "sculptor/post_scene.h"
#include "sculptor/random.h"

namespace tervik {
namespace {

using multiview::MultiView;
using testing::look_at_camera;
using testing::make_patch;

using ColourViews = MultiView<ImageRGB<unsigned char>>;

// An image whose three channels all rise (or fall) along x: value 20 + 3 x, or 220 - 3 x, except
// that columns [flip_from, flip_to) take the other direction.
ImageRGB<unsigned char> ramp(long width, long height, bool rising, long flip_from = 0,
                             long flip_to = 0) {
  ImageRGB<unsigned char> image(width, height);
  for (long y = 0; y < height; ++y)
    for (long x = 0; x < width; ++x) {
      const bool up = (x >= flip_from && x < flip_to) ? !rising : rising;
      for (int c = 0; c < 3; ++c)
        image.channel(c)[x][y] = static_cast<unsigned char>(up ? 20 + 3 * x : 220 - 3 * x);
    }
  return image;
}

// Two cameras 10 from the origin, 20 degrees apart about the y axis, both facing a patch at the
// origin with normal between them (scores cos 10 degrees > 0.9 each).
struct Studio {
  ColourViews views;
  std::vector<DepthMap> maps;
  std::vector<Patch> patches;

  Studio(const ImageRGB<unsigned char>& a, const ImageRGB<unsigned char>& b) {
    const double s = std::sin(20 * M_PI / 180), c = std::cos(20 * M_PI / 180);
    views.emplace_back(look_at_camera({0, 0, 10}, {0, 0, 0}, 60, 64, 48), a);
    views.emplace_back(look_at_camera({10 * s, 0, 10 * c}, {0, 0, 0}, 60, 64, 48), b);
    const double h = std::sin(10 * M_PI / 180), k = std::cos(10 * M_PI / 180);
    patches = {make_patch({0, 0, 0}, {h, 0, k})};
  }

  // Depth maps of the patches, or empty maps (nothing hides anything) when `empty` is set.
  void build_maps(bool empty = false) {
    MultiView<> cams;
    for (const auto& v : views) cams.emplace_back(v.get<0>());
    depth_maps_pixel(maps, empty ? std::vector<Patch>() : patches, cams);
  }
};

TEST(PhotoConsistency, AgreeingViewsLeaveThePatchesAlone) {
  Studio s(ramp(64, 48, true), ramp(64, 48, true));
  s.patches.push_back(make_patch({0.3, -0.2, 0.1}, s.patches[0].normal));
  s.build_maps();
  const std::vector<Patch> before = s.patches;
  seed_sampler_rand(1);
  EXPECT_EQ(photo_consistency(s.patches, s.maps, s.views, 0.05), 0);
  EXPECT_EQ(s.patches, before);
}

TEST(PhotoConsistency, FewerThanTwoSquareViewsIsConsistent) {
  Studio s(ramp(64, 48, true), ramp(64, 48, false));
  // Turned 10 degrees past the first camera: the second scores cos 30 degrees < 0.9, so only
  // one camera sees the patch squarely, however much the views disagree.
  const double h = std::sin(-10 * M_PI / 180), k = std::cos(-10 * M_PI / 180);
  s.patches[0].normal = Point3D(h, 0, k);
  s.build_maps();
  const std::vector<Patch> before = s.patches;
  EXPECT_EQ(photo_consistency(s.patches, s.maps, s.views, 0.05), 0);
  EXPECT_EQ(s.patches, before);
}

TEST(PhotoConsistency, HopelessPatchesArePutBackExactlyAfterTheirAttempts) {
  // Opposite ramps everywhere: no displacement can help. (With the patches' own depth maps a
  // displaced patch could hide behind its former place in one camera and so pass; empty maps
  // rule that out.)
  Studio s(ramp(64, 48, true), ramp(64, 48, false));
  s.patches.push_back(make_patch({0.25, 0.125, 0}, s.patches[0].normal));
  s.build_maps(true);
  const std::vector<Patch> before = s.patches;
  seed_sampler_rand(3);
  EXPECT_EQ(photo_consistency(s.patches, s.maps, s.views, 0.05), 2);
  EXPECT_EQ(s.patches, before);
  // The attempts are bounded: 50 displacements for the first patch, 49 for the next, three
  // draws each.
  seed_sampler_rand(3);
  for (int i = 0; i < 3 * (50 + 49); ++i) sampler_rand();
  const int expected_next = sampler_rand();
  seed_sampler_rand(3);
  photo_consistency(s.patches, s.maps, s.views, 0.05);
  EXPECT_EQ(sampler_rand(), expected_next);
}

TEST(PhotoConsistency, InconsistentPatchMovesWithinTheToleranceUntilTheViewsAgree) {
  // The second image runs the other way only in the columns around the patch's pixel, so that a
  // displacement of a few pixels reaches agreeing windows.
  Studio s(ramp(64, 48, true), ramp(64, 48, true, 31, 34));
  s.build_maps();
  const Point3D start = s.patches[0].pos;
  seed_sampler_rand(5);
  const double tol = 0.6;
  EXPECT_EQ(photo_consistency(s.patches, s.maps, s.views, tol), 1);
  const Point3D end = s.patches[0].pos;
  EXPECT_NE(end, start);
  for (int a = 0; a < 3; ++a) EXPECT_LE(std::abs(end[a] - start[a]), tol);
  // Where it ended, the two views agree: a second run leaves it there.
  const std::vector<Patch> settled = s.patches;
  EXPECT_EQ(photo_consistency(s.patches, s.maps, s.views, tol), 0);
  EXPECT_EQ(s.patches, settled);
}

}  // namespace
}  // namespace tervik
