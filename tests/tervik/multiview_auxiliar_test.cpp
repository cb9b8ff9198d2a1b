// Numeric helpers and image undistortion of the multiview auxiliary module.
#include "tervik/multiview_auxiliar.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "tervik/exceptions.h"
#include "tervik/multiview.h"

namespace tervik::multiview {
namespace {

using math::numeric::fd_jacobian;
using math::numeric::newton_rhapson;

TEST(NewtonRhapson, FindsTheRootOfASmoothSystemWithItsNumericJacobian) {
  // x^2 + y^2 = 4 and x y = 1, root near (1.93, 0.52).
  auto f = [](const std::array<double, 2>& p) {
    return std::array<double, 2>{p[0] * p[0] + p[1] * p[1] - 4.0, p[0] * p[1] - 1.0};
  };
  const auto jac = fd_jacobian<2>(f, std::array<double, 2>{1.5, 0.25}, 1e-4);
  EXPECT_NEAR(jac[0][0], 3.0, 1e-8);
  EXPECT_NEAR(jac[0][1], 0.5, 1e-8);
  EXPECT_NEAR(jac[1][0], 0.25, 1e-8);
  EXPECT_NEAR(jac[1][1], 1.5, 1e-8);
  std::array<double, 2> x{2.0, 0.5};
  ASSERT_TRUE(newton_rhapson(f, x, 1e-5, 1e-12, 30));
  EXPECT_NEAR(x[0] * x[0] + x[1] * x[1], 4.0, 1e-12);
  EXPECT_NEAR(x[0] * x[1], 1.0, 1e-12);
  // x^2 + 1 = 0 has no real root: the iteration gives up.
  auto none = [](const std::array<double, 1>& p) { return std::array<double, 1>{p[0] * p[0] + 1}; };
  std::array<double, 1> y{0.3};
  EXPECT_FALSE(newton_rhapson(none, y, 1e-5, 1e-12, 40));
}

// A 4 x 3 channel whose pixel (x, y) holds 10 x + 50 y.
MultiArray<unsigned char, 2> ramp() {
  MultiArray<unsigned char, 2> img(4, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) img[x][y] = static_cast<unsigned char>(10 * x + 50 * y);
  return img;
}

TEST(Interpolation, BilinearSamplesAtPixelCentresAndClampsToTheBorder) {
  const MultiArray<unsigned char, 2> img = ramp();
  // At a pixel centre: the pixel itself.
  EXPECT_EQ(bilinear_interpolation(Point2D(2.5, 1.5), img), 70);
  // Between centres the ramp is linear: x = 1.75 lies 1.25 pixels past the first centre.
  EXPECT_EQ(bilinear_interpolation(Point2D(1.75, 0.5), img), 13);  // 12.5 rounded up
  EXPECT_EQ(bilinear_interpolation(Point2D(1.5, 1.0), img), 35);   // halfway between rows
  EXPECT_EQ(bilinear_interpolation(Point2D(1.7, 0.5), img), 12);   // 12.0 + 0.5 truncates
  // Outside the image: the nearest border pixel.
  EXPECT_EQ(bilinear_interpolation(Point2D(-7.0, -3.0), img), 0);
  EXPECT_EQ(bilinear_interpolation(Point2D(9.0, 1.5), img), 80);
  EXPECT_EQ(bilinear_interpolation(Point2D(3.9, 2.9), img), 130);
  EXPECT_EQ(bilinear_interpolation(Point2D(NAN, 100.0), img), 100);
}

TEST(Interpolation, NearestTakesThePixelThatCoversThePosition) {
  const MultiArray<unsigned char, 2> img = ramp();
  EXPECT_EQ(nearest_interpolation(Point2D(2.0, 1.0), img), 70);
  EXPECT_EQ(nearest_interpolation(Point2D(2.999, 1.999), img), 70);
  EXPECT_EQ(nearest_interpolation(Point2D(3.0, 2.0), img), 130);
  EXPECT_EQ(nearest_interpolation(Point2D(-0.5, 5.0), img), 100);
  EXPECT_EQ(nearest_interpolation(Point2D(50.0, -2.0), img), 30);
  try {
    nearest_interpolation(Point2D(0, 0), MultiArray<unsigned char, 2>());
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("nearest_interpolation: empty image 0 x 0", 0), 0u);
  }
}

// A 64 x 48 camera with the given distortion.
Camera small_camera(double k1, double k2, double p1, double p2) {
  Camera c;
  c.im_width() = 64;
  c.im_height() = 48;
  c.k()[0][0] = 60.0;
  c.k()[2][0] = 32.0;
  c.k()[1][1] = 60.0;
  c.k()[2][1] = 24.0;
  c.k()[2][2] = 1.0;
  c.distortion()[0] = k1;
  c.distortion()[1] = k2;
  c.distortion()[2] = p1;
  c.distortion()[3] = p2;
  return c;
}

TEST(UndistortImage, WithoutDistortionChangesNothing) {
  std::mt19937 rng(3);
  ImageRGB<unsigned char> rgb(64, 48);
  for (int ch = 0; ch < 3; ++ch)
    for (std::size_t i = 0; i < 64 * 48; ++i) rgb.channel(ch).data()[i] = rng() & 255;
  ImageRGB<unsigned char> copy = rgb;
  undistort_image(copy, small_camera(0, 0, 0, 0));
  for (int ch = 0; ch < 3; ++ch)
    for (std::size_t i = 0; i < 64 * 48; ++i)
      ASSERT_EQ(copy.channel(ch).data()[i], rgb.channel(ch).data()[i]) << ch << " " << i;
}

TEST(UndistortImage, SamplesEveryPixelAtItsDistortedPositionAndNearestKeepsMasksBinary) {
  // A disc mask, distorted by barrel distortion; undistortion must put each output pixel at
  // the input pixel under its distorted centre.
  const Camera c = small_camera(-0.3, 0.05, 0.004, -0.003);
  ImageGray<unsigned char> mask(64, 48);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x)
      mask[x][y] = (x - 40) * (x - 40) + (y - 20) * (y - 20) < 150 ? 255 : 0;
  ImageGray<unsigned char> nearest = mask, bilinear = mask;
  undistort_image(nearest, c, Sampling::nearest);
  undistort_image(bilinear, c);
  std::set<int> nearest_values, bilinear_values;
  int changed = 0;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      Point2D d;
      ideal_to_distorted(Point2D(x + 0.5, y + 0.5), c, d);
      const int sx = std::clamp(int(std::floor(d.x)), 0, 63);
      const int sy = std::clamp(int(std::floor(d.y)), 0, 47);
      ASSERT_EQ(nearest[x][y], mask[sx][sy]) << x << " " << y;
      nearest_values.insert(nearest[x][y]);
      bilinear_values.insert(bilinear[x][y]);
      changed += nearest[x][y] != mask[x][y];
    }
  }
  EXPECT_GT(changed, 0);
  EXPECT_EQ(nearest_values, (std::set<int>{0, 255}));
  EXPECT_GT(bilinear_values.size(), 2u);  // bilinear blends the outline
}

}  // namespace
}  // namespace tervik::multiview
