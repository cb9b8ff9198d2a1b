// Tests of the coarse seed search.
#include "sculptor/seeds.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "hull_fixture.h"
#include "sculptor/expansion.h"
#include "sculptor/random.h"
#include "stage_fixture.h"
#include "tervik/multiview_auxiliar.h"

namespace tervik {
namespace {

// The coarse view set of a sphere: silhouettes reduced by 8, cameras scaled by 0.125.
testing::Views coarse_sphere_views(const Point3D& centre, double radius) {
  const auto fine = testing::sphere_views(testing::sphere_cameras(12), centre, radius);
  testing::Views coarse(fine.size());
  for (std::size_t i = 0; i < fine.size(); ++i) {
    coarse[i].get<0>() = multiview::scale_camera(fine[i].get<0>(), 0.125);
    coarse[i].get<1>() = downscale_silhouette(fine[i].get<1>(), 8);
  }
  return coarse;
}

std::string search(const testing::Views& views, std::vector<Point3D>& seeds, const Point3D& lo,
                   const Point3D& hi, long long npoints, long long stall = kSeedStallTries) {
  std::ostringstream progress;
  lowres_seeds(views, seeds, testing::stage_params(npoints, 0.0, lo, hi), progress, stall);
  return progress.str();
}

TEST(LowresSeeds, AdmissibleSeedsInsideTheBoxInTheAskedNumber) {
  const auto views = coarse_sphere_views(Point3D(0.1, -0.1, 0.05), 0.5);
  const Point3D lo(-0.8, -0.9, -0.7), hi(1.0, 0.7, 0.9);
  seed_sampler_rand(21);
  std::vector<Point3D> seeds = {Point3D(9, 9, 9)};  // replaced, not appended to
  const std::string text = search(views, seeds, lo, hi, 10000);
  ASSERT_EQ(seeds.size(), 250u);
  for (const Point3D& s : seeds) {
    EXPECT_TRUE(is_admissible(views, s, 5, 0));
    for (int k = 0; k < 3; ++k) {
      EXPECT_GE(s[k], lo[k]);
      EXPECT_LE(s[k], hi[k]);
    }
  }
  EXPECT_EQ(text.substr(0, 23), "250 lowres seeds after ");
  EXPECT_EQ(text.find("WARNING"), std::string::npos);
  // The same sequence gives the same seeds and the same line.
  seed_sampler_rand(21);
  std::vector<Point3D> again;
  EXPECT_EQ(search(views, again, lo, hi, 10000), text);
  EXPECT_EQ(again, seeds);
}

TEST(LowresSeeds, TargetCounts) {
  const auto views = coarse_sphere_views(Point3D(), 0.5);
  std::vector<Point3D> seeds;
  for (auto [npoints, target] : {std::pair{37LL, 1u}, {40LL, 1u}, {100LL, 2u}, {36LL, 0u},
                                 {1LL, 0u}, {0LL, 0u}}) {
    const std::string text = search(views, seeds, Point3D(-1, -1, -1), Point3D(1, 1, 1), npoints);
    EXPECT_EQ(seeds.size(), target) << npoints;
    if (target == 0) {
      EXPECT_EQ(text.substr(0, 26), "0 lowres seeds after 0 tri") << text;
    }
  }
}

TEST(LowresSeeds, ABoxThatMissesTheObjectEndsWithAWarning) {
  const auto views = coarse_sphere_views(Point3D(), 0.5);
  std::vector<Point3D> seeds;
  const std::string text =
      search(views, seeds, Point3D(2, 2, 2), Point3D(3, 3, 3), 10000, 20000);
  EXPECT_TRUE(seeds.empty());
  EXPECT_EQ(text,
            "0 lowres seeds after 20000 tries (0)\n"
            "WARNING: seed search gave up after 20000 tries in a row without a seed: 0 of 250 "
            "seeds found (check the box, the silhouettes and the calibration)\n");
  // With no cameras at all the default bound ends the search too.
  std::ostringstream progress;
  lowres_seeds(testing::Views(), seeds,
               testing::stage_params(400, 0.0, Point3D(-1, -1, -1), Point3D(1, 1, 1)), progress);
  const std::string none = progress.str();
  EXPECT_TRUE(seeds.empty());
  EXPECT_NE(none.find("0 lowres seeds after 10000000 tries"), std::string::npos) << none;
  EXPECT_NE(none.find("WARNING: seed search gave up"), std::string::npos);
}

TEST(LowresSeeds, RejectsABoundBelowOne) {
  std::vector<Point3D> seeds;
  try {
    std::ostringstream progress;
    lowres_seeds(testing::Views(), seeds, testing::stage_params(100, 0.0, Point3D(), Point3D(1, 1, 1)),
                 progress, 0);
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("stall bound 0 is below 1"), std::string::npos);
  }
}

}  // namespace
}  // namespace tervik
