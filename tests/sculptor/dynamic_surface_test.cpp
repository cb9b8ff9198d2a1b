// Tests of the tracking sampler: later frames sampled around the previous frame's points.
#include "sculptor/dynamic_surface.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "hull_fixture.h"
#include "sampling_checks.h"
#include "sculptor/growth.h"
#include "sculptor/normals.h"
#include "sculptor/random.h"
#include "stage_fixture.h"

namespace tervik {
namespace {

using testing::kRadius;
using testing::kStep;

class DynamicSurfaceTest : public ::testing::Test {
 protected:
  DynamicSurfaceTest() : cams_(testing::sphere_cameras(16)) {}

  // The first frame of the sphere at `centre`, sampled and re-oriented as the frame loop does.
  std::vector<Patch> first_frame(const Point3D& centre, long long npoints) {
    const auto views = testing::sphere_views(cams_, centre, kRadius);
    std::vector<Point3D> seeds;
    for (int i = 0; i < 200; ++i) {
      const double z = -0.9 + 1.8 * i / 200, r = std::sqrt(1 - z * z), a = 2.4 * i;
      seeds.push_back(centre + Point3D(r * std::cos(a), r * std::sin(a), z) * kRadius);
    }
    std::vector<Patch> sampled, oriented;
    std::ostringstream sink;
    high_res_from_seeds(views, seeds, sampled, testing::stage_params(npoints, kStep), sink);
    normals(oriented, sampled, testing::stage_params(0, kStep), sink);
    return oriented;
  }

  std::string track(const testing::Views& views, std::vector<Patch>& out,
                    const std::vector<Patch>& previous, long long npoints,
                    const Point3D& box_min = Point3D(-1, -1, -1),
                    const Point3D& box_max = Point3D(1, 1, 1)) {
    std::ostringstream progress;
    dynamic_surface(views, out, previous,
                    testing::stage_params(npoints, kStep, box_min, box_max, 8 * kStep), progress);
    return progress.str();
  }

  std::vector<Camera> cams_;
};

TEST_F(DynamicSurfaceTest, SecondFrameFollowsTheMovedObject) {
  seed_sampler_rand(17);
  const std::vector<Patch> previous = first_frame(Point3D(), 4000);
  ASSERT_EQ(previous.size(), 4000u);
  const Point3D moved(0.08, -0.05, 0.04);
  const auto views = testing::sphere_views(cams_, moved, kRadius);
  std::vector<Patch> out;
  const std::string text = track(views, out, previous, 4000);
  ASSERT_EQ(out.size(), 4000u) << text;
  EXPECT_EQ(text.substr(0, text.find(' ')), "400");  // S = 100 centres from the motion search
  EXPECT_EQ(text.find("WARNING"), std::string::npos) << text;
  testing::expect_valid_sampling(views, out, 1000, kStep);
  std::vector<Patch> oriented;
  std::ostringstream sink;
  normals(oriented, out, testing::stage_params(0, 2 * kStep), sink);
  testing::expect_on_sphere(oriented, moved, kRadius, 0.025, 6.0, 20.0);
}

TEST_F(DynamicSurfaceTest, HundredPointsAndNoInfluenceOfTheBox) {
  seed_sampler_rand(4);
  const std::vector<Patch> previous = first_frame(Point3D(), 400);
  const auto views = testing::sphere_views(cams_, Point3D(0.02, 0, 0), kRadius);
  std::vector<Patch> a, b;
  seed_sampler_rand(9);
  const std::string ta = track(views, a, previous, 100);
  seed_sampler_rand(9);
  const std::string tb = track(views, b, previous, 100, Point3D(5, 5, 5), Point3D(-7, 3, 2));
  EXPECT_EQ(a, b);
  EXPECT_EQ(ta, tb);
  // o = 75, M = 25, S = 2: two centres from the motion search, 25 centres then 75 companions.
  EXPECT_EQ(ta.substr(0, ta.find(' ')), "8");
  testing::expect_valid_sampling(views, a, 25, kStep);
}

TEST_F(DynamicSurfaceTest, EndsWithAWarningWhenNothingCanBeTracked) {
  const auto views = testing::sphere_views(cams_, Point3D(), kRadius);
  std::vector<Patch> out = {Patch{}};
  // An empty previous surface.
  std::string text = track(views, out, {}, 4000);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(text.substr(0, 24), "0 points after 0 tries (");
  EXPECT_NE(text.find("WARNING: no centre to expand"), std::string::npos) << text;
  // Tiny targets: no centre is asked of the motion search.
  const std::vector<Patch> on_sphere = {Patch{Point3D(kRadius, 0, 0), Point3D(1, 0, 0)}};
  for (long long n = 1; n <= 36; ++n) {
    text = track(views, out, on_sphere, n);
    EXPECT_TRUE(out.empty());
    EXPECT_NE(text.find("WARNING: no centre to expand"), std::string::npos) << text;
  }
  // Previous points far from the object: each is given up, and the search stops at the last.
  const std::vector<Patch> far(3, Patch{Point3D(3, 3, 3), Point3D(1, 0, 0)});
  text = track(views, out, far, 4000);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(text.substr(0, text.find('\n')), "0 points after 1003 tries (0)");
  EXPECT_NE(text.find("WARNING: no centre to expand"), std::string::npos) << text;
}

TEST_F(DynamicSurfaceTest, RefusesToOverwriteThePreviousSurface) {
  const auto views = testing::sphere_views(cams_, Point3D(), kRadius);
  std::vector<Patch> surface(5, Patch{Point3D(kRadius, 0, 0), Point3D(1, 0, 0)});
  try {
    std::ostringstream sink;
    dynamic_surface(views, surface, surface, testing::stage_params(100, kStep, {}, {}, 8 * kStep),
                    sink);
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("must not be the previous surface"), std::string::npos);
  }
  EXPECT_EQ(surface.size(), 5u);
}

}  // namespace
}  // namespace tervik
