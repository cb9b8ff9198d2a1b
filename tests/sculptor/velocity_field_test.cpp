#include "sculptor/velocity_field.h"

#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tervik/exceptions.h"

namespace tervik {
namespace {

// A sampler-like surface: `centres` patches on a sphere, then three companions per centre
// close to it, all with the outward normal.
std::vector<Patch> sphere_surface(int centres, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> g(0, 1);
  std::vector<Patch> out, side;
  for (int i = 0; i < centres; ++i) {
    Point3D n(g(rng), g(rng), g(rng));
    n = n / norm(n);
    Patch p;
    p.pos = n;
    p.normal = n;
    out.push_back(p);
    for (int c = 0; c < 3; ++c) {
      Patch q = p;
      q.pos = n + Point3D(g(rng), g(rng), g(rng)) * 0.01;
      side.push_back(q);
    }
  }
  out.insert(out.end(), side.begin(), side.end());
  return out;
}

std::string run(const std::vector<Patch>& a, const std::vector<Patch>& b,
                std::vector<Point3D>& out, long long npoints) {
  std::ostringstream progress;
  velocity_field(a, b, out, npoints, progress);
  return progress.str();
}

TEST(VelocityField, IdenticalSurfacesGiveZeroVectors) {
  const std::vector<Patch> s = sphere_surface(250, 1);
  std::vector<Point3D> out;
  // npoints 1000: M = 1000 - 750 = 250, the centres.
  const std::string printed = run(s, s, out, 1000);
  EXPECT_EQ(printed, "0 non-found motion vectors out of 250\n");
  ASSERT_EQ(out.size(), 250u);
  for (const Point3D& v : out) EXPECT_EQ(v, Point3D(0, 0, 0));
}

TEST(VelocityField, TranslatedSurfaceGivesTheTranslation) {
  const std::vector<Patch> a = sphere_surface(250, 2);
  // Far smaller than the spacing of the centres, so every patch finds its own old position.
  const Point3D t(0.0002, -0.0004, 0.0003);
  std::vector<Patch> b = a;
  for (Patch& p : b) p.pos += t;
  std::vector<Point3D> out;
  const std::string printed = run(a, b, out, 1000);
  EXPECT_EQ(printed, "0 non-found motion vectors out of 250\n");
  ASSERT_EQ(out.size(), 250u);
  for (const Point3D& v : out) EXPECT_NEAR(norm(v - t), 0.0, 1e-12);
}

TEST(VelocityField, PatchesWithoutAnAgreeingNormalAreNotFound) {
  const std::vector<Patch> a = sphere_surface(40, 3);
  std::vector<Patch> b = a;
  for (Patch& p : b) {
    p.normal = -p.normal;
    p.pos += Point3D(0.01, 0, 0);
  }
  std::vector<Point3D> out;
  // npoints 160: M = 40.
  EXPECT_EQ(run(a, b, out, 160), "40 non-found motion vectors out of 40\n");
  for (const Point3D& v : out) EXPECT_EQ(v, Point3D(0, 0, 0));
}

// Only the centres (the first M patches) carry raw vectors, so only they are averaged: the
// companions lying right beside every centre must not dilute the mean.
TEST(VelocityField, SmoothingAveragesOverTheCentresOnly) {
  const std::vector<Patch> a = sphere_surface(100, 4);
  const Point3D t(0, 0, 0.0005);
  std::vector<Patch> b = a;
  for (std::size_t i = 0; i < 100; ++i) b[i].pos += t;
  std::vector<Point3D> out;
  run(a, b, out, 400);
  ASSERT_EQ(out.size(), 100u);
  for (const Point3D& v : out) EXPECT_NEAR(norm(v - t), 0.0, 1e-12);
}

TEST(VelocityField, CentreCountIsLimitedToTheSecondSurface) {
  const std::vector<Patch> s = sphere_surface(10, 5);  // 40 patches
  std::vector<Point3D> out;
  // npoints 1000 asks for 250 centres; there are only 40 patches.
  EXPECT_EQ(run(s, s, out, 1000), "0 non-found motion vectors out of 40\n");
  EXPECT_EQ(out.size(), 40u);
  EXPECT_EQ(run(s, {}, out, 1000), "0 non-found motion vectors out of 0\n");
  EXPECT_TRUE(out.empty());
  // An empty first surface: nothing can be found.
  EXPECT_EQ(run({}, s, out, 40), "10 non-found motion vectors out of 10\n");
}

TEST(VelColorCode, MapsComponentsAroundTheMiddleAndClamps) {
  std::vector<Patch> p(4);
  const std::vector<Point3D> v = {
      {0, 0, 0}, {2, -2, 1}, {5, -5, 0.5}, {std::nan(""), -1e300, 1e300}};
  vel_color_code(p, v, 2.0);
  EXPECT_EQ(p[0].r, 127);
  EXPECT_EQ(p[0].g, 127);
  EXPECT_EQ(p[0].b, 127);
  EXPECT_EQ(p[1].r, 254);
  EXPECT_EQ(p[1].g, 0);
  EXPECT_EQ(p[1].b, 190);  // 63.5 + 127
  EXPECT_EQ(p[2].r, 255);
  EXPECT_EQ(p[2].g, 0);
  EXPECT_EQ(p[2].b, 158);  // 31.75 + 127
  EXPECT_EQ(p[3].r, 0);
  EXPECT_EQ(p[3].g, 0);
  EXPECT_EQ(p[3].b, 255);
  // Positions and normals untouched.
  EXPECT_EQ(p[1].pos, Point3D());
}

TEST(VelColorCode, ANegativeScaleInvertsTheCoding) {
  std::vector<Patch> p(2);
  vel_color_code(p, {{2, -2, 1}, {0, 5, -5}}, -2.0);
  EXPECT_EQ(p[0].r, 0);
  EXPECT_EQ(p[0].g, 254);
  EXPECT_EQ(p[0].b, 63);  // 127 - 63.5, truncated
  EXPECT_EQ(p[1].r, 127);
  EXPECT_EQ(p[1].g, 0);
  EXPECT_EQ(p[1].b, 255);
}

TEST(VelColorCode, RejectsTooFewVectorsAndABadScale) {
  std::vector<Patch> p(3);
  try {
    vel_color_code(p, std::vector<Point3D>(2), 1.0);
    FAIL() << "no error for 2 vectors and 3 patches";
  } catch (const TervikError& e) {
    EXPECT_EQ(std::string(e.what()),
              "vel_color_code: 2 motion vectors for 3 patches; one vector per patch is needed");
  }
  for (double scale : {0.0, -0.0, std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    try {
      vel_color_code(p, std::vector<Point3D>(3), scale);
      FAIL() << "no error for scale " << scale;
    } catch (const TervikError& e) {
      EXPECT_NE(std::string(e.what()).find("the scale must be a non-zero finite length"),
                std::string::npos)
          << e.what();
    }
  }
  // More vectors than patches: the extra ones are not used.
  vel_color_code(p, std::vector<Point3D>(5, Point3D(1, 1, 1)), 1.0);
  EXPECT_EQ(p[2].r, 254);
}

}  // namespace
}  // namespace tervik
