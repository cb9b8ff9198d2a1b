// Tests of the uniform-start sampler: first centres drawn in the box, grown by the shared passes.
#include "sculptor/static_surface.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "hull_fixture.h"
#include "sampling_checks.h"
#include "sculptor/normals.h"
#include "sculptor/random.h"
#include "stage_fixture.h"

namespace tervik {
namespace {

using testing::kRadius;
using testing::kStep;

class StaticSurfaceTest : public ::testing::Test {
 protected:
  StaticSurfaceTest()
      : views_(testing::sphere_views(testing::sphere_cameras(16), Point3D(0.1, 0, -0.05),
                                     kRadius)) {}

  std::string sample(std::vector<Patch>& out, long long npoints, const Point3D& box_min,
                     const Point3D& box_max, long long stall = kStaticStallAttempts) {
    std::ostringstream progress;
    static_surface(views_, out, testing::stage_params(npoints, kStep, box_min, box_max), progress,
                   stall);
    return progress.str();
  }

  testing::Views views_;
};

TEST_F(StaticSurfaceTest, SamplesTheWholeTargetOnTheHull) {
  seed_sampler_rand(21);
  std::vector<Patch> out = {Patch{}};  // replaced, not appended to
  const Point3D lo(-0.7, -0.7, -0.7), hi(0.7, 0.7, 0.7);
  const std::string log = sample(out, 4000, lo, hi);
  // 4000 points: M = 1000 centres, then 3000 companions.
  testing::expect_valid_sampling(views_, out, 1000, kStep);
  // Re-oriented as the frame loop does, the normals follow the sphere's (first centres spread
  // at random over the whole hull leave a few thinly sampled places, hence the wider tail).
  std::vector<Patch> oriented;
  std::ostringstream sink;
  normals(oriented, out, testing::stage_params(0, 2 * kStep), sink);
  testing::expect_on_sphere(oriented, Point3D(0.1, 0, -0.05), kRadius, 0.025, 6.0, 35.0);
  // The first S = 100 centres come from the box.
  for (std::size_t i = 0; i < 100; ++i)
    for (int a = 0; a < 3; ++a) {
      EXPECT_GE(out[i].pos[a], lo[a]);
      EXPECT_LE(out[i].pos[a], hi[a]);
    }
  // The progress line after the uniform seeding counts 100 centres and their companions.
  EXPECT_EQ(log.rfind("400 points after ", 0), 0u) << log;
  EXPECT_EQ(log.find("WARNING"), std::string::npos) << log;
}

TEST_F(StaticSurfaceTest, HundredPointsSeedTwoCentresAndRepeatWithTheSameDraws) {
  std::vector<Patch> a, b;
  seed_sampler_rand(8);
  const std::string log = sample(a, 100, Point3D(-1, -1, -1), Point3D(1, 1, 1));
  EXPECT_EQ(log.rfind("8 points after ", 0), 0u) << log;
  testing::expect_valid_sampling(views_, a, 25, kStep);
  seed_sampler_rand(8);
  sample(b, 100, Point3D(-1, -1, -1), Point3D(1, 1, 1));
  EXPECT_EQ(a, b);
}

TEST_F(StaticSurfaceTest, BoxThatMissesTheObjectEndsWithWarnings) {
  seed_sampler_rand(2);
  std::vector<Patch> out;
  const std::string log = sample(out, 1000, Point3D(2, 2, 2), Point3D(3, 3, 3), 5000);
  EXPECT_TRUE(out.empty());
  EXPECT_NE(log.find("WARNING: uniform seeding gave up after 5000 attempts in a row without a "
                     "centre: 0 of 25 first centres found"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("WARNING: no centre to expand"), std::string::npos) << log;
}

TEST_F(StaticSurfaceTest, TooFewPointsForASeedEndWithAWarning) {
  seed_sampler_rand(2);
  std::vector<Patch> out;
  // npoints 36: M = 9, S = 0: nothing is drawn and nothing can be expanded.
  const std::string log = sample(out, 36, Point3D(-1, -1, -1), Point3D(1, 1, 1));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(log.find("uniform seeding"), std::string::npos) << log;
  EXPECT_NE(log.find("WARNING: no centre to expand"), std::string::npos) << log;
}

TEST_F(StaticSurfaceTest, RejectsAStallBoundBelowOne) {
  std::vector<Patch> out;
  try {
    sample(out, 100, Point3D(-1, -1, -1), Point3D(1, 1, 1), 0);
    FAIL() << "no error for a stall bound of 0";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("the stall bound must be at least 1, got 0"),
              std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace tervik
