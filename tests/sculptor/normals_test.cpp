// Tests of the plane fit, the oriented normal of a sampled point and the per-frame re-estimation.
#include "sculptor/normals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/kdtree.h"
#include "hull_fixture.h"
#include "stage_fixture.h"
#include "sculptor/expansion.h"
#include "sculptor/neighbourhoods.h"

namespace tervik {
namespace {

using testing::angle_deg;

// `n` points of the plane through `origin` spanned by `a` and `b`, spread s_a along a and s_b
// along b.
std::vector<Point3D> plane_points(std::mt19937& rng, int n, const Point3D& origin,
                                  const Point3D& a, const Point3D& b, double s_a, double s_b) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Point3D> pts;
  for (int i = 0; i < n; ++i) pts.push_back(origin + a * (s_a * u(rng)) + b * (s_b * u(rng)));
  return pts;
}

TEST(ComputeNormal, PlaneGivesItsNormalAndTheTangentsItsAxes) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 50; ++trial) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Point3D n(u(rng), u(rng), u(rng));
    n = n / norm(n);
    Point3D a = cross(n, Point3D(0.3, -0.5, 0.8));
    a = a / norm(a);
    const Point3D b = cross(n, a);
    // Spread 3 along a, 1 along b: a is the largest axis, b the middle one.
    const auto pts = plane_points(rng, 4 + trial, Point3D(u(rng), u(rng), u(rng)), a, b, 3, 1);
    Point3D first, second;
    const Point3D normal = compute_normal(pts, first, second);
    EXPECT_NEAR(std::abs(dot(normal, n)), 1.0, 1e-9);
    EXPECT_NEAR(norm(normal), 1.0, 1e-12);
    EXPECT_NEAR(std::abs(dot(first, normal)), 0.0, 1e-9);
    EXPECT_NEAR(std::abs(dot(second, normal)), 0.0, 1e-9);
    EXPECT_NEAR(std::abs(dot(first, second)), 0.0, 1e-9);
    if (trial >= 10) {  // enough points for the spread to order the axes
      EXPECT_GT(std::abs(dot(second, a)), 0.9);
      EXPECT_GT(std::abs(dot(first, b)), 0.9);
    }
    // The one-argument form gives the same normal, bit for bit.
    EXPECT_EQ(compute_normal(pts), normal);
  }
}

TEST(ComputeNormal, EmptySetIsRejectedWithAMessage) {
  Point3D u, v;
  try {
    compute_normal(std::vector<Point3D>{}, u, v);
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("compute_normal: no points"), std::string::npos);
  }
}

TEST(LocalNormal, PointsOutwardOnTheSphereAndFailsDeepInside) {
  const auto cams = testing::ring_cameras(8);
  const auto views = testing::sphere_views(cams, Point3D(0, 0, 0), 0.5);
  const double L = 0.02;
  // Points on the sphere: the centre and three neighbours on the tangent plane.
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  int oriented = 0;
  for (int k = 0; k < 40; ++k) {
    Point3D dir(u(rng), u(rng), 0.6 * u(rng));
    dir = dir / norm(dir);
    const Point3D p = dir * 0.5;
    Point3D a = cross(dir, Point3D(0, 0, 1));
    a = a / norm(a);
    const Point3D b = cross(dir, a);
    const std::vector<Point3D> pts = {p, p + a * (L / 2), p + b * (L / 2), p - a * (L / 3)};
    Point3D normal;
    MyDirector frame;
    if (!local_normal(normal, frame, pts, p, views, 5, 0, L)) continue;
    ++oriented;
    EXPECT_LT(angle_deg(normal, dir), 1.0) << "k = " << k;
    // The probe on the normal's side is outside the hull, the other inside.
    short in = 0, out = 0;
    projection_test(views, p + normal * (2 * L), in, out, 0);
    EXPECT_FALSE(in >= 5 && out == 0);
    EXPECT_NEAR(std::abs(dot(frame.u, normal)), 0.0, 1e-9);
  }
  EXPECT_GT(oriented, 30);

  // Near the centre of the sphere every probe is inside: no orientation.
  const std::vector<Point3D> deep = {{0, 0, 0}, {0.01, 0, 0}, {0, 0.01, 0}, {0.01, 0.01, 0}};
  Point3D normal;
  MyDirector frame;
  EXPECT_FALSE(local_normal(normal, frame, deep, deep[0], views, 5, 0, L));
  EXPECT_NEAR(std::abs(normal.z), 1.0, 1e-9);  // the unoriented fit is still written
}

// A grid of patches on the plane z = 0 with spacing h, old normals (0, 0, sign).
std::vector<Patch> plane_grid(int n, double h, double sign) {
  std::vector<Patch> patches;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      patches.push_back(Patch{Point3D(i * h, j * h, 0), Point3D(0, 0, sign),
                              static_cast<unsigned char>(i), static_cast<unsigned char>(j), 7});
  return patches;
}

TEST(Normals, NewNormalsAgreeWithTheOldNeighbourhood) {
  for (double sign : {1.0, -1.0}) {
    auto in = plane_grid(12, 0.1, sign);
    // Tilt the old normals: the fit must replace them by the plane's, on their side.
    for (auto& p : in) p.normal = Point3D(0.3, -0.2, sign);
    std::vector<Patch> out;
    std::ostringstream progress;
    normals(out, in, testing::stage_params(0, 0.25), progress);
    const std::string text = progress.str();
    ASSERT_EQ(out.size(), in.size());
    for (std::size_t k = 0; k < in.size(); ++k) {
      EXPECT_EQ(out[k].pos, in[k].pos);
      EXPECT_EQ(out[k].r, in[k].r);
      EXPECT_EQ(out[k].g, in[k].g);
      EXPECT_EQ(out[k].b, in[k].b);
      EXPECT_NEAR(out[k].normal.z, sign, 1e-12);
      EXPECT_NEAR(out[k].normal.x, 0.0, 1e-12);
    }
    EXPECT_NE(text.find("Neighbors per patch: "), std::string::npos);
    EXPECT_EQ(text.find("left unchanged"), std::string::npos);
  }
}

TEST(Normals, ZeroAgreementKeepsTheFittedSign) {
  // Three patches on z = 0 whose old normals cancel along z: S is exactly 0, so the fitted normal
  // is kept as the decomposition gives it.
  const std::vector<Patch> in = {Patch{{0, 0, 0}, {0, 0, 1}}, Patch{{0.1, 0, 0}, {0, 0, -1}},
                                 Patch{{0, 0.1, 0}, {1, 0, 0}}};
  std::vector<Patch> out;
  std::ostringstream progress;
  normals(out, in, testing::stage_params(0, 1.0), progress);
  const KDTree<Patch> tree(in);
  std::vector<unsigned int> idx;
  for (std::size_t k = 0; k < in.size(); ++k) {
    tree.neighbors(in[k].pos, in, 1.0, idx);
    ASSERT_EQ(idx.size(), 3u);
    std::vector<Point3D> pts;
    for (unsigned int i : idx) pts.push_back(in[i].pos);
    const Point3D fitted = compute_normal(pts);
    ASSERT_EQ(std::abs(fitted.z), 1.0);
    ASSERT_EQ(fitted.x, 0.0);
    EXPECT_EQ(out[k].normal, fitted);
  }
}

TEST(Normals, SparsePatchesKeepTheirNormalAndAreCounted) {
  // Two isolated pairs (only itself and one other within L) and a dense cluster of 60.
  std::vector<Patch> in = {Patch{{10, 0, 0}, {1, 0, 0}}, Patch{{10.05, 0, 0}, {0, 1, 0}},
                           Patch{{-10, 0, 0}, {0, 0, 1}}};
  std::vector<Patch> out;
  std::ostringstream progress;
  normals(out, in, testing::stage_params(0, 0.1), progress);
  std::string text = progress.str();
  for (std::size_t k = 0; k < in.size(); ++k) EXPECT_EQ(out[k].normal, in[k].normal);
  EXPECT_NE(text.find("3 patches left unchanged\n"), std::string::npos);
  EXPECT_NE(text.find("Neighbors per patch: 0.666667\n"), std::string::npos) << text;

  // 60 patches within L of each other: 59 others each, so the mean line is not written.
  std::vector<Patch> dense;
  for (int i = 0; i < 60; ++i)
    dense.push_back(Patch{Point3D(0.001 * (i % 8), 0.001 * (i / 8), 0), Point3D(0, 0, 1)});
  progress.str("");
  normals(out, dense, testing::stage_params(0, 0.1), progress);
  text = progress.str();
  EXPECT_EQ(text, "");
  for (const auto& p : out) EXPECT_NEAR(p.normal.z, 1.0, 1e-12);
}

// Complementary choices, each on any thread count, give normals()'s patches and lines; a pass
// leaves the patches it does not choose alone.
TEST(Normals, ChosenPatchesAddUpToAllOfThem) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<Patch> in;
  for (int i = 0; i < 1500; ++i) {
    Point3D p(u(rng), u(rng), u(rng));
    p = p / norm(p);
    in.push_back(Patch{p * (1 + 0.02 * u(rng)), p + Point3D(u(rng), u(rng), u(rng)) * 0.3});
  }
  in.push_back(Patch{{5, 5, 5}, {0, 1, 0}});  // alone: left unchanged and counted
  const StageParameters params = testing::stage_params(0, 0.15);
  Neighbourhoods near;
  near.build(in, params.step * params.step, 1);
  std::vector<Patch> whole;
  std::ostringstream expected;
  normals(whole, in, near, params, expected);
  ASSERT_NE(expected.str().find(" patches left unchanged"), std::string::npos) << expected.str();

  std::vector<std::uint8_t> chosen(in.size());
  for (std::size_t i = 0; i < chosen.size(); ++i) chosen[i] = (i * 7 % 5 == 0) ? 1 : 0;
  const Patch untouched{{9, 9, 9}, {1, 0, 0}, 1, 2, 3};
  for (const unsigned threads : {1u, 3u}) {
    SCOPED_TRACE(::testing::Message() << threads << " threads");
    std::vector<Patch> out(in.size(), untouched);
    const NormalsTally first = normals_where(out, in, near, chosen, 1, threads);
    for (std::size_t i = 0; i < out.size(); ++i)
      ASSERT_EQ(out[i], chosen[i] ? whole[i] : untouched) << i;
    const NormalsTally second = normals_where(out, in, near, chosen, 0, 2);
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], whole[i]) << i;
    std::ostringstream lines;
    report_normals(in.size(), {first.neighbours + second.neighbours, first.unchanged + second.unchanged},
                   lines);
    EXPECT_EQ(lines.str(), expected.str());
  }

  std::vector<Patch> out(in.size());
  const std::vector<std::uint8_t> short_choice(10, 1);
  EXPECT_THROW(normals_where(out, in, near, short_choice, 1, 1), TervikError);
  std::vector<Patch> short_out(10);
  EXPECT_THROW(normals_where(short_out, in, near, chosen, 1, 1), TervikError);
  EXPECT_THROW(normals_where(in, in, near, chosen, 1, 1), TervikError);
}

TEST(Normals, EmptyInputAndAliasing) {
  std::vector<Patch> in, out = {Patch{}};
  std::ostringstream progress;
  normals(out, in, testing::stage_params(0, 0.1), progress);
  EXPECT_EQ(progress.str(), "");
  EXPECT_TRUE(out.empty());

  std::vector<Patch> same = plane_grid(3, 0.1, 1.0);
  try {
    normals(same, same, testing::stage_params(0, 0.1), progress);
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("must not be the input vector"), std::string::npos);
  }
  EXPECT_EQ(same.size(), 9u);  // the input survives
}

}  // namespace
}  // namespace tervik
