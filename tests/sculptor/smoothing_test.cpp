#include "sculptor/smoothing.h"

#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "stage_fixture.h"
#include "tervik/exceptions.h"

namespace tervik {
namespace {

Patch patch(const Point3D& pos, const Point3D& normal, unsigned char r = 128,
            unsigned char g = 128, unsigned char b = 128) {
  Patch p;
  p.pos = pos;
  p.normal = normal;
  p.r = r;
  p.g = g;
  p.b = b;
  return p;
}

// Runs smooth_surface and returns what it printed.
std::string smooth(std::vector<Patch>& patches, double L) {
  std::ostringstream progress;
  smooth_surface(patches, testing::stage_params(0, L), progress);
  return progress.str();
}

// Random patches on the plane through `origin` with unit normal `n`, colours random.
std::vector<Patch> plane_patches(const Point3D& origin, const Point3D& n, int count,
                                 unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1, 1);
  const Point3D a = cross(n, Point3D(0.3, 0.5, 0.7)) / norm(cross(n, Point3D(0.3, 0.5, 0.7)));
  const Point3D b = cross(n, a);
  std::vector<Patch> out;
  for (int i = 0; i < count; ++i) {
    out.push_back(patch(origin + a * u(rng) + b * u(rng), n, rng() % 256, rng() % 256,
                        rng() % 256));
  }
  return out;
}

TEST(SmoothSurface, CoplanarNeighbourhoodsDoNotMove) {
  const Point3D n = Point3D(1, 2, 2) / 3.0;
  std::vector<Patch> patches = plane_patches({0.25, -1, 3}, n, 400, 11);
  const std::vector<Patch> before = patches;
  const std::string out = smooth(patches, 0.2);
  ASSERT_EQ(patches.size(), before.size());
  for (std::size_t i = 0; i < patches.size(); ++i) {
    EXPECT_NEAR(norm(patches[i].pos - before[i].pos), 0.0, 1e-12) << i;
  }
  // About 400 * pi * 0.04 / 4 neighbours each; the line reports the mean.
  const double mean = std::stod(out);
  EXPECT_GT(mean, 5);
  EXPECT_LT(mean, 15);
  EXPECT_NE(out.find(" neighs per patch\n"), std::string::npos) << out;
}

TEST(SmoothSurface, KeepsCountOrderNormalsAndColoursAndMovesOnlyAlongTheNormal) {
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0, 0.02);
  std::vector<Patch> patches = plane_patches({0, 0, 0}, {0, 0, 1}, 500, 3);
  for (Patch& p : patches) {
    p.pos.z += noise(rng);
    const Point3D n(noise(rng), noise(rng), 1);
    p.normal = n / norm(n);
  }
  const std::vector<Patch> before = patches;
  smooth(patches, 0.15);
  ASSERT_EQ(patches.size(), before.size());
  double spread_before = 0, spread_after = 0;
  for (std::size_t i = 0; i < patches.size(); ++i) {
    EXPECT_EQ(patches[i].normal, before[i].normal);
    EXPECT_EQ(patches[i].r, before[i].r);
    EXPECT_EQ(patches[i].g, before[i].g);
    EXPECT_EQ(patches[i].b, before[i].b);
    const Point3D moved = patches[i].pos - before[i].pos;
    EXPECT_LT(norm(cross(moved, before[i].normal)), 1e-12) << i;
    spread_before += before[i].pos.z * before[i].pos.z;
    spread_after += patches[i].pos.z * patches[i].pos.z;
  }
  // Noise across the plane is reduced.
  EXPECT_LT(spread_after, 0.5 * spread_before);
}

// The same result computed by brute force over all pairs, each patch from the input positions.
TEST(SmoothSurface, MatchesBruteForceNeighbourhoods) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> u(-0.5, 0.5);
  std::vector<Patch> patches;
  for (int i = 0; i < 300; ++i) {
    Point3D n(u(rng), u(rng), u(rng));
    patches.push_back(patch({u(rng), u(rng), u(rng)}, n / norm(n)));
  }
  const std::vector<Patch> before = patches;
  const double L = 0.2;
  const std::string out = smooth(patches, L);
  double total = 0;
  for (std::size_t j = 0; j < before.size(); ++j) {
    Point3D sum;
    int m = 0;
    for (std::size_t k = 0; k < before.size(); ++k) {
      if (k == j || dist2(before[k].pos, before[j].pos) >= L * L) continue;
      if (dot(before[j].normal, before[k].normal) <= -0.3) continue;
      sum += before[k].pos;
      ++m;
    }
    total += m;
    Point3D expected = before[j].pos;
    if (m > 0) {
      const double t = dot(sum / m - before[j].pos, before[j].normal);
      expected = before[j].pos + before[j].normal * t;
    }
    EXPECT_NEAR(norm(patches[j].pos - expected), 0.0, 1e-12) << j;
  }
  EXPECT_NEAR(std::stod(out), total / 300, 1e-9);
}

// Ranges smoothed apart, on any thread count, give smooth_surface's points and neighbour count;
// a range's pass leaves the other output patches alone.
TEST(SmoothSurface, RangesAddUpToTheWholeSmoothing) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-0.5, 0.5);
  std::vector<Patch> patches;
  for (int i = 0; i < 2500; ++i) {
    Point3D n(u(rng), u(rng), u(rng) + 1.0);
    patches.push_back(patch({u(rng), u(rng), 0.05 * u(rng)}, n / norm(n)));
  }
  const StageParameters params = testing::stage_params(0, 0.08);
  Neighbourhoods near;
  near.build(patches, params.step * params.step, 1);
  std::vector<Patch> whole = patches, work;
  std::ostringstream expected;
  smooth_surface(whole, near, params, expected, work);

  const Patch untouched = patch({9, 9, 9}, {0, 0, 1}, 1, 2, 3);
  for (const std::size_t split : {std::size_t(0), std::size_t(1), std::size_t(1000), patches.size()}) {
    for (const unsigned threads : {1u, 3u}) {
      SCOPED_TRACE(::testing::Message() << "split " << split << ", " << threads << " threads");
      std::vector<Patch> out(patches.size(), untouched);
      const long long first = smooth_range(patches, near, 0, split, threads, out);
      for (std::size_t j = 0; j < out.size(); ++j)
        ASSERT_EQ(out[j], j < split ? whole[j] : untouched) << j;
      const long long second = smooth_range(patches, near, split, patches.size(), 2, out);
      for (std::size_t j = 0; j < out.size(); ++j) ASSERT_EQ(out[j], whole[j]) << j;
      std::ostringstream line;
      report_smoothing(patches.size(), first + second, line);
      EXPECT_EQ(line.str(), expected.str());
    }
  }

  std::vector<Patch> short_out(10);
  EXPECT_THROW(smooth_range(patches, near, 0, 5, 1, short_out), TervikError);
  std::vector<Patch> out(patches.size());
  EXPECT_THROW(smooth_range(patches, near, 7, 3, 1, out), TervikError);
  EXPECT_THROW(smooth_range(patches, near, 0, patches.size() + 1, 1, out), TervikError);
  EXPECT_THROW(smooth_range(out, near, 0, 5, 1, out), TervikError);
}

TEST(SmoothSurface, NeighbourAtExactlyLOrWithOpposingNormalIsNotUsed) {
  // B lies exactly L = 0.5 above A along A's normal: not a neighbour.
  std::vector<Patch> p = {patch({0, 0, 0}, {0, 0, 1}), patch({0, 0, 0.5}, {0, 0, 1})};
  std::string out = smooth(p, 0.5);
  EXPECT_EQ(p[0].pos, Point3D(0, 0, 0));
  EXPECT_EQ(p[1].pos, Point3D(0, 0, 0.5));
  EXPECT_EQ(out, "0 neighs per patch\n");
  // Just inside L both move onto each other's height.
  p = {patch({0, 0, 0}, {0, 0, 1}), patch({0, 0, 0.375}, {0, 0, 1})};
  out = smooth(p, 0.5);
  EXPECT_EQ(p[0].pos, Point3D(0, 0, 0.375));
  EXPECT_EQ(p[1].pos, Point3D(0, 0, 0));
  EXPECT_EQ(out, "1 neighs per patch\n");
  // A neighbour whose normal has a dot product of exactly -0.3 with A's is excluded; one just
  // above -0.3 is used.
  const double s = std::sqrt(1 - 0.09);
  p = {patch({0, 0, 0}, {0, 0, 1}), patch({0, 0, 0.25}, {s, 0, -0.3})};
  smooth(p, 0.5);
  EXPECT_EQ(p[0].pos, Point3D(0, 0, 0));
  p = {patch({0, 0, 0}, {0, 0, 1}), patch({0, 0, 0.25}, {s, 0, -0.29})};
  smooth(p, 0.5);
  EXPECT_EQ(p[0].pos, Point3D(0, 0, 0.25));
}

TEST(SmoothSurface, EmptySetStaysEmpty) {
  std::vector<Patch> none;
  const std::string out = smooth(none, 0.1);
  EXPECT_TRUE(none.empty());
  EXPECT_NE(out.find("nan neighs per patch"), std::string::npos) << out;
}

}  // namespace
}  // namespace tervik
