#include "tervik/multiview.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tervik/exceptions.h"
#include "tervik/imagegray.h"
#include "tervik/multiview_auxiliar.h"

namespace tervik::multiview {
namespace {

// Sets row r, column c of a (column, row) matrix.
void set(MultiArray<double, 2>& m, int r, int c, double v) { m[c][r] = v; }
double at(const MultiArray<double, 2>& m, int r, int c) { return m[c][r]; }

// A camera with K = ((fx, skew, cx), (0, fy, cy), (0, 0, 1)), rotation from a random unit
// quaternion, translation t, and P = K [R | t].
Camera make_camera(std::mt19937_64& rng, double fx, double fy, double skew, double cx, double cy) {
  std::normal_distribution<double> gauss(0.0, 1.0);
  double q[4];
  double n = 0.0;
  for (double& v : q) {
    v = gauss(rng);
    n += v * v;
  }
  n = std::sqrt(n);
  const double w = q[0] / n, x = q[1] / n, y = q[2] / n, z = q[3] / n;
  const double R[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
                          {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
                          {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}};
  const double t[3] = {gauss(rng), gauss(rng), 8.0 + gauss(rng)};
  const double K[3][3] = {{fx, skew, cx}, {0, fy, cy}, {0, 0, 1}};
  Camera c;
  c.im_width() = static_cast<std::int64_t>(2 * cx);
  c.im_height() = static_cast<std::int64_t>(2 * cy);
  for (int r = 0; r < 3; ++r) {
    c.trans()[r] = t[r];
    for (int col = 0; col < 3; ++col) {
      set(c.rot(), r, col, R[r][col]);
      set(c.k(), r, col, K[r][col]);
    }
    for (int col = 0; col < 4; ++col) {
      double sum = 0.0;
      for (int i = 0; i < 3; ++i) sum += K[r][i] * (col < 3 ? R[i][col] : t[i]);
      set(c.p(), r, col, sum);
    }
  }
  return c;
}

TEST(Projection, CanonicalCameraProjectsTheAxisToThePrincipalPoint) {
  Camera c;
  const double f = 800.0, cx = 320.5, cy = 240.25;
  set(c.p(), 0, 0, f);
  set(c.p(), 0, 2, cx);
  set(c.p(), 1, 1, f);
  set(c.p(), 1, 2, cy);
  set(c.p(), 2, 2, 1.0);
  Point2D x;
  world_to_image_undistorted(Point3D(0, 0, 1), c, x);
  EXPECT_EQ(x, Point2D(cx, cy));
  EXPECT_EQ(point_depth(Point3D(0, 0, 5), c), 5.0);
  world_to_image_undistorted(Point3D(1, -2, 4), c, x);
  EXPECT_DOUBLE_EQ(x.x, cx + f * 0.25);
  EXPECT_DOUBLE_EQ(x.y, cy - f * 0.5);
  // Behind the camera the position is finite and the depth negative.
  world_to_image_undistorted(Point3D(1, 1, -2), c, x);
  EXPECT_TRUE(std::isfinite(x.x) && std::isfinite(x.y));
  EXPECT_LT(point_depth(Point3D(1, 1, -2), c), 0.0);
}

TEST(Projection, AgreesWithCameraFrameGeometry) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> uni(-2.0, 2.0);
  for (int cam = 0; cam < 10; ++cam) {
    const Camera c = make_camera(rng, 900.0 + cam, 880.0 - cam, 0.5 * cam, 512.0, 384.0);
    const Point3D centre = camera_position(c);
    EXPECT_NEAR(point_depth(centre, c), 0.0, 1e-9);
    for (int i = 0; i < 100; ++i) {
      const Point3D X(uni(rng), uni(rng), uni(rng));
      // Camera coordinates R X + t, then the pinhole with K.
      double Xc[3];
      for (int r = 0; r < 3; ++r) {
        Xc[r] = at(c.rot(), r, 0) * X.x + at(c.rot(), r, 1) * X.y + at(c.rot(), r, 2) * X.z +
                c.trans()[r];
      }
      const double u = at(c.k(), 0, 0) * Xc[0] / Xc[2] + at(c.k(), 0, 1) * Xc[1] / Xc[2] +
                       at(c.k(), 0, 2);
      const double v = at(c.k(), 1, 1) * Xc[1] / Xc[2] + at(c.k(), 1, 2);
      Point2D x;
      world_to_image_undistorted(X, c, x);
      EXPECT_NEAR(x.x, u, 1e-9);
      EXPECT_NEAR(x.y, v, 1e-9);
      EXPECT_NEAR(point_depth(X, c), Xc[2], 1e-12);
      // The depth is the distance from the centre along the optical axis (R's third row).
      const Point3D axis(at(c.rot(), 2, 0), at(c.rot(), 2, 1), at(c.rot(), 2, 2));
      EXPECT_NEAR(point_depth(X, c), dot(X - centre, axis), 1e-9);
      // Without distortion the distorting projection gives the same position.
      Point2D xd;
      fast_world2image(X, c, xd);
      EXPECT_NEAR(xd.x, x.x, 1e-9);
      EXPECT_NEAR(xd.y, x.y, 1e-9);
    }
  }
}

TEST(Distortion, ZeroCoefficientsAreTheIdentity) {
  std::mt19937_64 rng(3);
  Camera c = make_camera(rng, 700, 710, 1.5, 300, 200);
  std::uniform_real_distribution<double> uni(-50.0, 700.0);
  for (int i = 0; i < 200; ++i) {
    const Point2D ideal(uni(rng), uni(rng));
    Point2D out;
    ideal_to_distorted(ideal, c, out);
    EXPECT_EQ(out, ideal);
  }
}

TEST(Distortion, PositiveK1MovesPointsRadiallyOutward) {
  std::mt19937_64 rng(4);
  Camera c = make_camera(rng, 700, 700, 0, 300, 200);
  c.distortion()[0] = 0.1;
  const Point2D pp(300, 200);
  Point2D out;
  ideal_to_distorted(pp, c, out);
  EXPECT_EQ(out, pp);
  std::uniform_real_distribution<double> uni(-400.0, 400.0);
  for (int i = 0; i < 200; ++i) {
    const Point2D ideal(pp.x + uni(rng), pp.y + uni(rng));
    ideal_to_distorted(ideal, c, out);
    const Point2D a = ideal - pp, b = out - pp;
    const double r2 = (a.x * a.x + a.y * a.y) / (700.0 * 700.0);
    // Along the same ray from the principal point, stretched by 1 + k1 r^2.
    EXPECT_NEAR(a.x * b.y - a.y * b.x, 0.0, 1e-6 * (1 + std::abs(a.x) + std::abs(a.y)));
    EXPECT_NEAR(b.x, a.x * (1 + 0.1 * r2), 1e-9 * (1 + std::abs(a.x)));
    EXPECT_NEAR(b.y, a.y * (1 + 0.1 * r2), 1e-9 * (1 + std::abs(a.y)));
    if (a.x != 0 || a.y != 0) {
      EXPECT_GT(b.x * b.x + b.y * b.y, a.x * a.x + a.y * a.y);
    }
  }
}

TEST(Distortion, FullModelMatchesNormalisedFormAndDistorter) {
  std::mt19937_64 rng(5);
  Camera c = make_camera(rng, 650, 690, 2.0, 310, 205);
  const double k1 = -0.2, k2 = 0.05, p1 = 0.001, p2 = -0.002;
  c.distortion()[0] = k1;
  c.distortion()[1] = k2;
  c.distortion()[2] = p1;
  c.distortion()[3] = p2;
  MultiArray<double, 1> focal(2);
  focal[0] = 650;
  focal[1] = 690;
  std::uniform_real_distribution<double> uni(0.0, 620.0);
  for (int i = 0; i < 200; ++i) {
    const Point2D ideal(uni(rng), uni(rng) * 0.66);
    Point2D out;
    ideal_to_distorted(ideal, c, out);
    // The same model written on normalised coordinates.
    const double x = (ideal.x - 310) / 650, y = (ideal.y - 205) / 690, r2 = x * x + y * y;
    const double radial = k1 * r2 + k2 * r2 * r2;
    const double ud = 310 + 650 * (x * (1 + radial) + 2 * p1 * x * y + p2 * (r2 + 2 * x * x));
    const double vd = 205 + 690 * (y * (1 + radial) + p1 * (r2 + 2 * y * y) + 2 * p2 * x * y);
    EXPECT_NEAR(out.x, ud, 1e-9);
    EXPECT_NEAR(out.y, vd, 1e-9);
    // distorter with explicit parameters computes the same numbers.
    EXPECT_EQ(distorter(ideal, c.distortion(), Point2D(310, 205), focal), out);
  }
  // fast_world2image applies this model to the ideal projection.
  const Point3D X(0.3, -0.2, 0.1);
  Point2D ideal, expected, got;
  world_to_image_undistorted(X, c, ideal);
  ideal_to_distorted(ideal, c, expected);
  fast_world2image(X, c, got);
  EXPECT_NEAR(got.x, expected.x, 1e-9);
  EXPECT_NEAR(got.y, expected.y, 1e-9);

  try {
    distorter(Point2D(), MultiArray<double, 1>(3), Point2D(), focal);
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("distorter needs 4 distortion coefficients", 0), 0u);
  }
}

TEST(ScaleCamera, ReducesSizeIntrinsicsAndProjectionByTheFactor) {
  std::mt19937_64 rng(6);
  Camera c = make_camera(rng, 1000, 990, 3.0, 512, 384);
  c.im_width() = 1024;
  c.im_height() = 768;
  c.distortion()[0] = 0.01;
  c.distortion()[3] = -0.5;
  const Camera s = scale_camera(c, 0.125);
  EXPECT_EQ(s.im_width(), 128u);
  EXPECT_EQ(s.im_height(), 96u);
  EXPECT_EQ(at(s.k(), 0, 0), 1000.0 / 8);
  EXPECT_EQ(at(s.k(), 0, 1), 3.0 / 8);
  EXPECT_EQ(at(s.k(), 1, 2), 384.0 / 8);
  EXPECT_EQ(at(s.k(), 2, 2), 1.0);
  for (int col = 0; col < 4; ++col) EXPECT_EQ(at(s.p(), 2, col), at(c.p(), 2, col));
  for (int i = 0; i < 9; ++i) EXPECT_EQ(s.rot().data()[i], c.rot().data()[i]);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(s.trans()[i], c.trans()[i]);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(s.distortion()[i], c.distortion()[i]);

  std::uniform_real_distribution<double> uni(-1.0, 1.0);
  for (int i = 0; i < 100; ++i) {
    const Point3D X(uni(rng), uni(rng), uni(rng));
    Point2D full, small;
    world_to_image_undistorted(X, c, full);
    world_to_image_undistorted(X, s, small);
    // Scaling by a power of two is exact, so the positions agree to the bit.
    EXPECT_EQ(small, full * 0.125);
    EXPECT_EQ(point_depth(X, s), point_depth(X, c));
  }

  c.im_width() = 1023;
  c.im_height() = 7;
  const Camera odd = scale_camera(c, 0.125);
  EXPECT_EQ(odd.im_width(), 127u);
  EXPECT_EQ(odd.im_height(), 0u);
  EXPECT_EQ(scale_camera(c, 2.0).im_width(), 2046u);
  EXPECT_EQ(scale_camera(c, std::nan("")).im_width(), 0u);
}

TEST(CameraPosition, IsMinusRTransposeT) {
  std::mt19937_64 rng(8);
  for (int i = 0; i < 10; ++i) {
    const Camera c = make_camera(rng, 800, 800, 0, 320, 240);
    const Point3D centre = camera_position(c);
    // R * centre + t = 0.
    for (int r = 0; r < 3; ++r) {
      const double v = at(c.rot(), r, 0) * centre.x + at(c.rot(), r, 1) * centre.y +
                       at(c.rot(), r, 2) * centre.z + c.trans()[r];
      EXPECT_NEAR(v, 0.0, 1e-12);
    }
  }
  MultiArray<double, 2> m(3, 2);  // 3 columns, 2 rows
  for (int i = 0; i < 6; ++i) m.data()[i] = i + 1;  // rows (1 2 3), (4 5 6)
  const MultiArray<double, 2> mt = math::numeric::transpose(m);
  ASSERT_EQ(mt.shape()[0], 2u);
  ASSERT_EQ(mt.shape()[1], 3u);
  EXPECT_EQ(at(mt, 2, 0), 3.0);
  EXPECT_EQ(at(mt, 0, 1), 4.0);
  MultiArray<double, 1> v(3);
  v[0] = 1;
  v[1] = -1;
  v[2] = 2;
  const MultiArray<double, 1> mv = math::numeric::product(m, v);
  ASSERT_EQ(mv.num_elements(), 2u);
  EXPECT_EQ(mv[0], 1 - 2 + 6.0);
  EXPECT_EQ(mv[1], 4 - 5 + 12.0);
  EXPECT_THROW(math::numeric::product(mt, v), TervikError);
}

TEST(MultiView, HoldsDefaultViews) {
  EXPECT_TRUE(MultiView<>(0).empty());
  MultiView<> cams(3);
  ASSERT_EQ(cams.size(), 3u);
  for (const auto& view : cams) {
    const Camera& c = view.get<0>();
    for (std::size_t i = 0; i < 12; ++i) EXPECT_EQ(c.p().data()[i], 0.0);
    for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(c.k().data()[i], 0.0);
  }
  MultiView<ImageGray<unsigned char>> sil(2);
  EXPECT_EQ(sil[1].get<1>().width(), 0u);
  sil[1].get<1>() = ImageGray<unsigned char>(4, 3);
  MultiView<ImageGray<unsigned char>> copy = sil;
  EXPECT_EQ(copy[1].get<1>().width(), 4u);
  MultiView<int, double> both(1);
  both[0].get<2>() = 2.5;
  EXPECT_EQ(both[0].get<1>(), 0);
  EXPECT_EQ(both[0].get<2>(), 2.5);
  static_assert(std::is_same_v<MultiView<>::value_type, boost::tuple<Camera>>);
}

TEST(Undistorter, InvertsDistorterOverTheWholeImage) {
  MultiArray<double, 1> dist(4), focal(2);
  dist[0] = -0.25;
  dist[1] = 0.08;
  dist[2] = 0.002;
  dist[3] = -0.0015;
  focal[0] = 500;
  focal[1] = 520;
  const Point2D principal(322.5, 238.0);
  // A grid over a 640 x 480 image, corners included, both ways round.
  double worst = 0.0;
  for (int j = 0; j <= 12; ++j) {
    for (int i = 0; i <= 16; ++i) {
      const Point2D d(640.0 * i / 16, 480.0 * j / 12);
      const Point2D ideal = undistorter(d, dist, principal, focal);
      const Point2D back = distorter(ideal, dist, principal, focal);
      worst = std::max(worst, std::hypot(back.x - d.x, back.y - d.y));
      const Point2D again = undistorter(distorter(d, dist, principal, focal), dist, principal, focal);
      worst = std::max(worst, std::hypot(again.x - d.x, again.y - d.y));
    }
  }
  EXPECT_LT(worst, 1e-8);
  // Barrel distortion (k1 < 0) pulls the corner inward, so its ideal position lies outside.
  const Point2D corner = undistorter(Point2D(0, 0), dist, principal, focal);
  EXPECT_LT(corner.x, 0.0);
  EXPECT_LT(corner.y, 0.0);
}

TEST(Undistorter, RefusesAPositionWhereTheDistortionFolds) {
  // With k1 = -1 the radial map r (1 - r^2) peaks at r^2 = 1/3: no ideal position on the
  // image's side of the centre reaches the far corner of a wide image (the other root of the
  // cubic lies behind the centre, where the map turns the image over).
  MultiArray<double, 1> dist(4), focal(2);
  dist[0] = -1.0;
  focal[0] = focal[1] = 100.0;
  try {
    undistorter(Point2D(500.0, 400.0), dist, Point2D(0.0, 0.0), focal);
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_EQ(std::string(e.what()),
              "undistorter: no ideal position found for the distorted position (500, 400); "
              "the distortion folds the image there");
  }
}

TEST(SignificantDistortion, IsACornerShiftOfMoreThanThreePixels) {
  std::mt19937_64 rng(9);
  Camera c = make_camera(rng, 800, 800, 0.0, 320, 240);
  EXPECT_FALSE(significant_distortion(c));
  // The corner (0, 0) sits at x = -0.4, y = -0.3, r^2 = 0.25; k1 moves it by 320 k1 r^2 in x
  // and 240 k1 r^2 in y, 100 k1 pixels in all.
  c.distortion()[0] = 2.9 / 100.0;
  EXPECT_FALSE(significant_distortion(c));
  c.distortion()[0] = 3.1 / 100.0;
  EXPECT_TRUE(significant_distortion(c));
  c.distortion()[0] = -3.1 / 100.0;
  EXPECT_TRUE(significant_distortion(c));
  c.distortion()[0] = 0.0;
  c.distortion()[3] = 0.005;  // tangential: fx p2 (r^2 + 2 x^2) = 2.3 pixels, fy 2 p2 x y = 1
  EXPECT_FALSE(significant_distortion(c));
  c.distortion()[3] = 0.008;  // 3.6 and 1.5 pixels
  EXPECT_TRUE(significant_distortion(c));
}

}  // namespace
}  // namespace tervik::multiview
