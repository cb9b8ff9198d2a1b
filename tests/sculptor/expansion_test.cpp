// Tests of the shared sampler machinery: target counts, building of centres, the expansion
// passes and the bounds that end them on input that admits no more points.
#include "sculptor/expansion.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "hull_fixture.h"
#include "sampling_checks.h"
#include "sculptor/random.h"
#include "stage_fixture.h"

namespace tervik {
namespace {

using testing::kRadius;
using testing::kStep;

TEST(SamplingTargets, CountsFromTheRequestedPoints) {
  const auto t = SamplingTargets::from_npoints(10000);
  EXPECT_EQ(t.companions, 7500);
  EXPECT_EQ(t.centres, 2500);
  EXPECT_EQ(t.starts, 250);
  const auto h = SamplingTargets::from_npoints(100);
  EXPECT_EQ(h.companions, 75);
  EXPECT_EQ(h.centres, 25);
  EXPECT_EQ(h.starts, 2);
  const auto s = SamplingTargets::from_npoints(37);
  EXPECT_EQ(s.companions, 27);
  EXPECT_EQ(s.centres, 10);
  EXPECT_EQ(s.starts, 1);
  EXPECT_EQ(SamplingTargets::from_npoints(36).starts, 0);
  EXPECT_EQ(SamplingTargets::from_npoints(10001).centres, 2501);  // 4 M = npoints + 3
}

class ExpansionTest : public ::testing::Test {
 protected:
  ExpansionTest() : views_(testing::sphere_views(testing::sphere_cameras(16), Point3D(), kRadius)) {}

  // Adds `n` centres near the sphere's equator through attempt().
  void add_centres(SurfaceSampler& sampler, std::size_t n) {
    int k = 0;
    while (sampler.centre_count() < n) {
      const double a = 0.37 * k++;
      const Point3D seed(kRadius * std::cos(a), kRadius * std::sin(a), 0);
      sampler.attempt(seed + random_vector() * (2 * kStep));
    }
  }

  testing::Views views_;
};

TEST_F(ExpansionTest, CentresThenCompanionsWithTheirCentresNormals) {
  seed_sampler_rand(8);
  std::vector<Patch> out;
  std::ostringstream progress;
  SurfaceSampler sampler(views_, out, testing::stage_params(1000, kStep), progress);
  add_centres(sampler, 3);
  const long long before = sampler.tries();
  sampler.expand();
  EXPECT_GT(sampler.tries(), before);
  EXPECT_TRUE(sampler.target_reached());
  EXPECT_EQ(sampler.frames().size(), 250u);
  EXPECT_EQ(sampler.companions().size(), 750u);
  sampler.finish();
  const std::string text = progress.str();
  testing::expect_valid_sampling(views_, out, 250, kStep);
  // The tangent frames are orthonormal and perpendicular to their centre's normal.
  for (std::size_t i = 0; i < 250; ++i) {
    const MyDirector& f = sampler.frames()[i];
    EXPECT_NEAR(dot(f.u, out[i].normal), 0.0, 1e-9);
    EXPECT_NEAR(dot(f.v, out[i].normal), 0.0, 1e-9);
    EXPECT_NEAR(dot(f.u, f.v), 0.0, 1e-9);
  }
  // One progress line per pass, the last with all points and the running try total.
  const std::string last = "1000 points after " + std::to_string(sampler.tries()) + " tries (";
  EXPECT_NE(text.find(last), std::string::npos) << text;
  EXPECT_EQ(text.find("WARNING"), std::string::npos) << text;
}

TEST_F(ExpansionTest, FirstPassPlacesNewCentresOnTheRingOfItsCentre) {
  // npoints 20: M = 5, so one centre grows at most four in the first pass. A centre whose fitted
  // normal is far off may grow none; enough of them must grow.
  int grown = 0;
  for (unsigned seed = 1; seed <= 20; ++seed) {
    seed_sampler_rand(seed);
    std::vector<Patch> out;
    std::ostringstream progress;
    SurfaceSampler sampler(views_, out, testing::stage_params(20, kStep), progress);
    add_centres(sampler, 1);
    sampler.expand();
    const std::string text = progress.str();
    // The first progress line counts the points after the first pass: 4 per centre.
    const std::size_t after_first = std::stoul(text) / 4;
    ASSERT_LE(after_first, 5u);
    if (after_first == 5) ++grown;
    const Patch c0 = out[0];
    const MyDirector f0 = sampler.frames()[0];
    const double R = 4 * kStep, T = kStep, eps = 1e-12;
    for (std::size_t k = 1; k < after_first; ++k) {
      const Point3D d = out[k].pos - c0.pos;
      // In-plane offsets between R/2 and 3R/2 on both tangents, at most T along the normal.
      EXPECT_GE(std::abs(dot(d, f0.u)), R / 2 - eps);
      EXPECT_LE(std::abs(dot(d, f0.u)), 1.5 * R + eps);
      EXPECT_GE(std::abs(dot(d, f0.v)), R / 2 - eps);
      EXPECT_LE(std::abs(dot(d, f0.v)), 1.5 * R + eps);
      EXPECT_LE(std::abs(dot(d, c0.normal)), T + eps);
    }
  }
  EXPECT_GE(grown, 10);
}

TEST_F(ExpansionTest, APassThatAddsNoCentreEndsTheExpansion) {
  for (std::size_t centres : {10u, 11u}) {
    seed_sampler_rand(12);
    std::vector<Patch> out;
    testing::Views views = views_;
    std::ostringstream progress;
    SurfaceSampler sampler(views, out, testing::stage_params(400, kStep), progress);  // M = 100: warned above 10 fails
    add_centres(sampler, centres);
    for (auto& v : views) v.get<1>() = static_cast<unsigned char>(0);  // the object vanishes
    sampler.expand();
    sampler.finish();
    const std::string text = progress.str();
    EXPECT_EQ(sampler.fails(), static_cast<long long>(centres));
    EXPECT_EQ(out.size(), 4 * centres);
    EXPECT_NE(text.find("WARNING: surface expansion stopped early: a pass added no centre (" +
                        std::to_string(centres) + " of 100 centres)\n"),
              std::string::npos)
        << text;
    const std::string warned = "WARNING: 11 points without expansion\n";
    EXPECT_EQ(text.find(warned) != std::string::npos, centres == 11) << text;
  }
}

// More threads (the grid's silhouette summaries are built on them) change nothing: the same
// centres, companions, tries, progress lines and draws taken from the sequence, also when the
// expansion stalls (every centre runs out of its 1000 attempts).
TEST_F(ExpansionTest, MoreThreadsChangeNothing) {
  const Point3D lo(-0.6, -0.6, -0.6), hi(0.6, 0.6, 0.6);
  for (bool vanish : {false, true}) {
    std::vector<Patch> reference;
    std::string reference_text;
    long long reference_tries = 0;
    int reference_next = 0;
    for (unsigned threads : {1u, 2u, 3u}) {
      SCOPED_TRACE(::testing::Message() << threads << " threads, vanish " << vanish);
      seed_sampler_rand(21);
      testing::Views views = views_;
      std::vector<Patch> out;
      std::ostringstream progress;
      SurfaceSampler sampler(views, out,
                             testing::stage_params(vanish ? 400 : 3000, kStep, lo, hi, 0.0, threads),
                             progress);
      add_centres(sampler, 12);
      if (vanish) {
        // The object vanishes: every centre runs out of attempts, the pass adds none.
        for (auto& v : views) v.get<1>() = static_cast<unsigned char>(0);
      }
      sampler.expand();
      sampler.finish();
      const int next = sampler_rand();
      if (threads == 1) {
        reference = out;
        reference_text = progress.str();
        reference_tries = sampler.tries();
        reference_next = next;
        continue;
      }
      EXPECT_EQ(out, reference);
      EXPECT_EQ(progress.str(), reference_text);
      EXPECT_EQ(sampler.tries(), reference_tries);
      EXPECT_EQ(next, reference_next);
    }
    if (vanish) EXPECT_NE(reference_text.find("WARNING"), std::string::npos) << reference_text;
  }
}

TEST_F(ExpansionTest, CompanionSearchThatRunsOutDropsTheCentre) {
  seed_sampler_rand(6);
  std::vector<Patch> out;
  std::ostringstream progress;
  // Two draws can never give three companions.
  SurfaceSampler sampler(views_, out, testing::stage_params(400, kStep), progress, SamplingLimits{2});
  int admissible = 0;
  for (int k = 0; k < 2000; ++k) {
    const Point3D p = Point3D(kRadius, 0, 0) + random_vector() * (2 * kStep);
    if (!is_admissible(views_, p, 5, 0)) continue;
    ++admissible;
    EXPECT_FALSE(sampler.build_centre(p));
  }
  sampler.expand();
  sampler.finish();
  const std::string text = progress.str();
  ASSERT_GT(admissible, 0);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(sampler.dropped_centres(), admissible);
  EXPECT_NE(text.find("WARNING: " + std::to_string(admissible) +
                      " centres dropped: no three companions found within 2 draws\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("WARNING: no centre to expand"), std::string::npos);
}

// Storage lent from call to call changes nothing: a smaller sampling after a larger one gives
// what a sampler with its own storage gives (none of the earlier call's frames or companions
// shows through), and the storage comes back empty with its room kept.
TEST_F(ExpansionTest, LentBuffersChangeNothingAndKeepTheirRoom) {
  // sample(npoints, buffers): the patches, progress and tries of a sampling from fixed draws.
  const auto sample = [this](long long npoints, SamplingBuffers* buffers) {
    seed_sampler_rand(17);
    std::vector<Patch> out;
    std::ostringstream progress;
    SurfaceSampler sampler(views_, out, testing::stage_params(npoints, kStep), progress, {},
                           buffers);
    add_centres(sampler, 4);
    sampler.expand();
    const std::vector<MyDirector> frames = sampler.frames();
    sampler.finish();
    return std::tuple(out, frames, progress.str(), sampler.tries());
  };
  SamplingBuffers buffers;
  const auto large = sample(2000, &buffers);
  EXPECT_TRUE(buffers.frames.empty());
  EXPECT_TRUE(buffers.companions.empty());
  EXPECT_GE(buffers.frames.capacity(), 500u);
  EXPECT_GE(buffers.companions.capacity(), 1500u);
  const MyDirector* frames_storage = buffers.frames.data();
  EXPECT_EQ(large, sample(2000, nullptr));
  const auto small = sample(600, &buffers);
  EXPECT_EQ(small, sample(600, nullptr));
  EXPECT_EQ(std::get<0>(small).size(), 600u);
  EXPECT_EQ(buffers.frames.data(), frames_storage);  // the same memory, not a new block
}

}  // namespace
}  // namespace tervik
