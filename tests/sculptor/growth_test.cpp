// Tests of the first frame's sampling: seeds refined into centres and grown over the sphere.
#include "sculptor/growth.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "hull_fixture.h"
#include "sampling_checks.h"
#include "sculptor/expansion.h"
#include "sculptor/normals.h"
#include "sculptor/random.h"
#include "sculptor/seeds.h"
#include "stage_fixture.h"

namespace tervik {
namespace {

using testing::angle_deg;

class GrowthTest : public ::testing::Test {
 protected:
  GrowthTest() : views_(testing::sphere_views(testing::sphere_cameras(16), Point3D(), kRadius)) {}

  // Seeds on the sphere's surface, as the coarse search would give them.
  std::vector<Point3D> sphere_seeds(int n) const {
    std::vector<Point3D> seeds;
    for (int i = 0; i < n; ++i) {
      const double a = 0.7 * i, z = -0.8 + 1.6 * i / n;
      const double r = std::sqrt(1 - z * z);
      seeds.push_back(Point3D(r * std::cos(a), r * std::sin(a), z) * kRadius);
    }
    return seeds;
  }

  std::string grow(const std::vector<Point3D>& seeds, std::vector<Patch>& out, long long n) {
    std::ostringstream progress;
    high_res_from_seeds(views_, seeds, out, testing::stage_params(n, kStep), progress);
    return progress.str();
  }

  static constexpr double kRadius = 0.5;
  static constexpr double kStep = 0.02;
  testing::Views views_;
};

TEST_F(GrowthTest, ReachesTheTargetWithCentresThenCompanionsOnTheHull) {
  seed_sampler_rand(11);
  std::vector<Patch> out;
  const std::string text = grow(sphere_seeds(300), out, 8000);
  // M = 500 centres, 1500 companions; Phase 1 converts at most S = 50 seeds.
  ASSERT_EQ(out.size(), 8000u) << text;
  EXPECT_EQ(text.substr(0, text.find('\n')).substr(0, 17), "800 points after ");
  EXPECT_EQ(text.find("WARNING"), std::string::npos) << text;
  testing::expect_valid_sampling(views_, out, 2000, kStep);
  // Re-estimated from their neighbourhoods, the normals follow the sphere.
  std::vector<Patch> oriented;
  std::ostringstream sink;
  normals(oriented, out, testing::stage_params(0, 2 * kStep), sink);
  testing::expect_on_sphere(oriented, Point3D(), kRadius, 0.025, 5.0, 15.0);
}

TEST_F(GrowthTest, SameSequenceGivesTheSameSampling) {
  std::vector<Patch> a, b;
  seed_sampler_rand(5);
  const std::string ta = grow(sphere_seeds(10), a, 400);
  seed_sampler_rand(5);
  const std::string tb = grow(sphere_seeds(10), b, 400);
  EXPECT_EQ(ta, tb);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.size(), 400u);
}

TEST_F(GrowthTest, GivesUpSeedsAwayFromTheObject) {
  // Seeds far from the sphere: the first is given up after 1001 attempts, every later one after a
  // single attempt, and Phase 1 ends at the end of the seeds without reading beyond them.
  std::vector<Patch> out;
  for (int n : {1, 2, 5}) {
    const std::vector<Point3D> far(n, Point3D(3, 3, 3));
    const std::string text = grow(far, out, 2000);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "0 points after " + std::to_string(1000 + n) + " tries (0)");
    EXPECT_NE(text.find("WARNING: no centre to expand"), std::string::npos) << text;
  }
  // A far seed followed by seeds on the sphere: the centre comes from one of the later seeds.
  seed_sampler_rand(2);
  std::vector<Point3D> seeds = sphere_seeds(300);
  seeds.insert(seeds.begin(), Point3D(3, 3, 3));
  grow(seeds, out, 1200);  // M = 300, S = 30
  ASSERT_FALSE(out.empty());
  bool near_a_seed = false;
  for (std::size_t i = 1; i < seeds.size(); ++i) {
    bool near = true;
    for (int k = 0; k < 3; ++k) near = near && std::abs(out[0].pos[k] - seeds[i][k]) <= 2 * kStep;
    near_a_seed = near_a_seed || near;
  }
  EXPECT_TRUE(near_a_seed);
}

TEST_F(GrowthTest, EndsWithAWarningWhenThereIsNothingToGrow) {
  std::vector<Patch> out;
  // Tiny targets: no seed is asked for, so nothing can be grown.
  for (long long n = 1; n <= 36; ++n) {
    std::ostringstream progress;
    std::vector<Point3D> seeds;
    const StageParameters params =
        testing::stage_params(n, kStep, Point3D(-1, -1, -1), Point3D(1, 1, 1));
    lowres_seeds(views_, seeds, params, progress);
    high_res_from_seeds(views_, seeds, out, params, progress);
    const std::string text = progress.str();
    EXPECT_TRUE(seeds.empty());
    EXPECT_TRUE(out.empty());
    EXPECT_NE(text.find("0 points after 0 tries"), std::string::npos) << text;
    EXPECT_NE(text.find("WARNING: no centre to expand"), std::string::npos) << text;
  }
  // Empty silhouettes: every seed is given up.
  testing::Views empty = views_;
  for (auto& v : empty) v.get<1>() = static_cast<unsigned char>(0);
  std::ostringstream progress;
  high_res_from_seeds(empty, sphere_seeds(60), out, testing::stage_params(2000, kStep), progress);
  const std::string text = progress.str();
  EXPECT_TRUE(out.empty());
  EXPECT_NE(text.find("WARNING: no centre to expand"), std::string::npos) << text;
}

}  // namespace
}  // namespace tervik
