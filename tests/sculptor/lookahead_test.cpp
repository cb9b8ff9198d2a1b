#include "sculptor/lookahead.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "hull_fixture.h"
#include "sculptor/expansion.h"
#include "sculptor/random.h"

namespace tervik {
namespace {

bool same_bits(const Point3D& a, const Point3D& b) {
  return std::memcmp(&a, &b, sizeof(Point3D)) == 0;
}

// The rules give the samplers' points bit for bit: a cube point is centre + random_vector() *
// half, a ring point ((pos + normal c) + u a) + v b with a, b drawn as ring offsets (R r pushed
// away from 0 by R / 2) and c = T r, in that order.
TEST(CandidateRule, GivesTheSamplersPointsFromTheSameDraws) {
  const Point3D centre(0.3, -1.7, 2.25), normal(0.6, 0.0, 0.8), u(0.0, 1.0, 0.0),
      v(0.8, 0.0, -0.6);
  const double R = 0.037, T = 0.011, half = 0.0049;
  const CandidateRule cube = CandidateRule::cube(centre, half);
  const CandidateRule ring = CandidateRule::ring(centre, normal, u, v, R, T);
  seed_sampler_rand(5);
  RandomSequence copy(5);
  int negative_offsets = 0;
  for (int k = 0; k < 2000; ++k) {
    const int d0 = copy.next(), d1 = copy.next(), d2 = copy.next();
    if (k % 2 == 0) {
      const Point3D expected = centre + random_vector() * half;
      ASSERT_TRUE(same_bits(cube.point(d0, d1, d2), expected)) << k;
      continue;
    }
    const auto offset = [R] {
      const double a = R * sym_rand();
      return a <= 0 ? a - R / 2 : a + R / 2;
    };
    const double a = offset();
    const double b = offset();
    const double c = T * sym_rand();
    negative_offsets += a < 0;
    const Point3D expected = ((centre + normal * c) + u * a) + v * b;
    ASSERT_TRUE(same_bits(ring.point(d0, d1, d2), expected)) << k;
  }
  // Both signs of the offsets were met.
  EXPECT_GT(negative_offsets, 300);
  EXPECT_LT(negative_offsets, 700);
}

// Candidates with and without a helper thread: the same points, answers and draws, over runs of
// every length (ending inside and at the end of blocks), of both kinds; with a patient caller the
// helper answers exactly the candidates of the odd blocks.
TEST(CandidateStream, AHelperChangesNoPointAnswerOrDraw) {
  const std::vector<Camera> cams = testing::sphere_cameras(8, 160, 120, 300);
  const Point3D sphere(0.02, -0.01, 0.0);
  const double radius = 0.5;
  testing::Views views = testing::sphere_views(cams, sphere, radius);
  const AdmissibleTest test{5, 0};
  struct Result {
    std::vector<Point3D> points;
    std::vector<char> answers;
    int next_draw = 0;
    std::size_t ahead = 0;
  };
  const auto run_all = [&](bool helper) {
    HullGrid grid(views, Point3D(-0.7, -0.7, -0.7), Point3D(0.7, 0.7, 0.7), 0.02);
    Result r;
    {
      CandidateStream stream(grid, test, helper, /*patient=*/true);
      seed_sampler_rand(17);
      std::mt19937 lengths(3);
      for (int run = 0; run < 60; ++run) {
        // Around points on the sphere, where about one candidate in several is admissible.
        const double t = 0.1 * run;
        const Point3D on(sphere.x + radius * std::cos(t), sphere.y + radius * std::sin(t),
                         sphere.z + 0.1 * std::sin(3 * t));
        const Point3D n = (on - sphere) / radius;
        if (run % 3 == 0) {
          stream.begin(CandidateRule::cube(on, 0.01));
        } else {
          const Point3D side = cross(n, Point3D(0, 0, 1));
          const Point3D u = side / norm(side);
          stream.begin(CandidateRule::ring(on, n, u, cross(n, u), 0.02, 0.01));
        }
        const int length = static_cast<int>(lengths() % 70);
        for (int k = 0; k < length; ++k) {
          Point3D q;
          r.answers.push_back(stream.next(q));
          r.points.push_back(q);
        }
      }
      r.ahead = stream.answered_ahead();
    }
    r.next_draw = sampler_rand();
    return r;
  };
  const Result alone = run_all(false);
  const Result helped = run_all(true);
  ASSERT_EQ(helped.points.size(), alone.points.size());
  for (std::size_t k = 0; k < alone.points.size(); ++k)
    ASSERT_TRUE(same_bits(helped.points[k], alone.points[k])) << k;
  EXPECT_EQ(helped.answers, alone.answers);
  EXPECT_EQ(helped.next_draw, alone.next_draw);
  // Both answers occur, and the helper gave those of every odd block.
  std::size_t admissible = 0;
  for (char a : alone.answers) admissible += a;
  EXPECT_GT(admissible, alone.answers.size() / 20);
  EXPECT_LT(admissible, alone.answers.size() / 2);
  std::size_t odd = 0;
  {
    std::mt19937 lengths(3);
    for (int run = 0; run < 60; ++run) {
      const std::size_t length = lengths() % 70;
      for (std::size_t k = 0; k < length; ++k) odd += (k / CandidateStream::kBlock) % 2;
    }
  }
  EXPECT_EQ(alone.ahead, 0u);
  EXPECT_EQ(helped.ahead, odd);
}

}  // namespace
}  // namespace tervik
