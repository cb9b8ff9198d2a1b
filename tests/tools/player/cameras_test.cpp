// The player's cameras: K, R and t recovered from P reproject every point as P does, whatever
// P's scale and sign; a singular P is refused.
#include "tools/player/cameras.h"

#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "tervik/exceptions.h"

namespace tervik::player {
namespace {

// A camera whose P is `scale` K [R | t] for a random rotation, skew and principal point.
Camera random_camera(std::mt19937& rng, double scale) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  // Rotation from a random unit quaternion.
  double q[4];
  double n = 0.0;
  for (double& x : q) {
    x = u(rng);
    n += x * x;
  }
  for (double& x : q) x /= std::sqrt(n);
  const double w = q[0], x = q[1], y = q[2], z = q[3];
  const double r[9] = {1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y),
                       2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x),
                       2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)};
  const double k[9] = {800 + 100 * u(rng), 5 * u(rng), 320 + 20 * u(rng),
                       0, 780 + 100 * u(rng), 240 + 20 * u(rng), 0, 0, 1};
  const double t[3] = {u(rng), u(rng), 4 + u(rng)};
  Camera c;
  c.im_width() = 640;
  c.im_height() = 480;
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 4; ++col) {
      double s = 0.0;
      for (int j = 0; j < 3; ++j) s += k[3 * row + j] * (col < 3 ? r[3 * j + col] : t[j]);
      c.p().data()[4 * row + col] = scale * s;
    }
  return c;
}

TEST(PlayerCamera, DecompositionReprojectsAsThePMatrixForAnyScale) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (const double scale : {1.0, 0.003, -2.5}) {
    const Camera c = random_camera(rng, scale);
    const PlayerCamera pc = player_camera(3, c);
    EXPECT_EQ(pc.index, 3);
    EXPECT_EQ(pc.width, 640);
    EXPECT_GT(pc.k[0], 0.0);
    EXPECT_GT(pc.k[4], 0.0);
    EXPECT_EQ(pc.k[8], 1.0);
    // R is a rotation: orthonormal rows, determinant +1.
    const auto& r = pc.r;
    for (int a = 0; a < 3; ++a)
      for (int b = 0; b < 3; ++b) {
        const double d = r[3 * a] * r[3 * b] + r[3 * a + 1] * r[3 * b + 1] + r[3 * a + 2] * r[3 * b + 2];
        EXPECT_NEAR(d, a == b ? 1.0 : 0.0, 1e-12);
      }
    const double det = r[0] * (r[4] * r[8] - r[5] * r[7]) - r[1] * (r[3] * r[8] - r[5] * r[6]) +
                       r[2] * (r[3] * r[7] - r[4] * r[6]);
    EXPECT_NEAR(det, 1.0, 1e-12);
    for (int i = 0; i < 20; ++i) {
      const double X[3] = {u(rng), u(rng), u(rng)};
      const double* p = c.p().data();
      double h[3], cam[3], img[3];
      for (int row = 0; row < 3; ++row) {
        h[row] = p[4 * row] * X[0] + p[4 * row + 1] * X[1] + p[4 * row + 2] * X[2] + p[4 * row + 3];
        cam[row] = r[3 * row] * X[0] + r[3 * row + 1] * X[1] + r[3 * row + 2] * X[2] + pc.t[row];
      }
      for (int row = 0; row < 3; ++row)
        img[row] = pc.k[3 * row] * cam[0] + pc.k[3 * row + 1] * cam[1] + pc.k[3 * row + 2] * cam[2];
      EXPECT_GT(cam[2], 0.0);  // the points lie in front of the camera
      EXPECT_NEAR(img[0] / img[2], h[0] / h[2], 1e-9);
      EXPECT_NEAR(img[1] / img[2], h[1] / h[2], 1e-9);
    }
  }
  Camera flat;
  try {
    player_camera(5, flat);
    ADD_FAILURE() << "a zero P was accepted";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("camera 5: the projection matrix's left 3 x 3 block is singular"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace tervik::player
