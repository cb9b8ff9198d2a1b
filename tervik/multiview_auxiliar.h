#pragma once
// Camera scaling, camera centre and image undistortion, with the small numeric helpers they use.
//
// Matrices are MultiArray<double,2> indexed (column, row), stored row after row (see camera.h).
// Image positions follow the library's pixel convention: pixel (i, j) covers [i, i + 1) x
// [j, j + 1), so its centre is at (i + 0.5, j + 0.5) and a position lies in the pixel that
// truncation gives.
#include <array>
#include <cmath>
#include <cstddef>
#include <utility>

#include "tervik/camera.h"
#include "tervik/imagegray.h"
#include "tervik/imagergb.h"
#include "tervik/multiarray.h"
#include "tervik/points.h"

namespace tervik::math::numeric {

// Transpose of m: element (c, r) of the result is element (r, c) of m; extents swapped.
MultiArray<double, 2> transpose(const MultiArray<double, 2>& m);

// Matrix-vector product m * v for m with extents (columns, rows) and v of `columns` elements;
// the result has `rows` elements, each summed over the columns in ascending order. Throws
// TervikError when the sizes disagree.
MultiArray<double, 1> product(const MultiArray<double, 2>& m, const MultiArray<double, 1>& v);

// An N x N matrix as rows: m[i][j] is row i, column j.
template <std::size_t N>
using SquareMatrix = std::array<std::array<double, N>, N>;

// Jacobian of f: R^N -> R^N at x by central differences of step h (in the units of x):
// element [i][j] is d f_i / d x_j. f takes and returns std::array<double, N>.
template <std::size_t N, typename F>
SquareMatrix<N> fd_jacobian(F&& f, const std::array<double, N>& x, double h) {
  SquareMatrix<N> jac{};
  for (std::size_t j = 0; j < N; ++j) {
    std::array<double, N> forward = x, backward = x;
    forward[j] += h;
    backward[j] -= h;
    const std::array<double, N> f_forward = f(forward), f_backward = f(backward);
    const double span = forward[j] - backward[j];  // the step as the doubles hold it
    for (std::size_t i = 0; i < N; ++i) jac[i][j] = (f_forward[i] - f_backward[i]) / span;
  }
  return jac;
}

// Solves a * x = b by Gaussian elimination with partial pivoting; false when a is singular.
template <std::size_t N>
bool solve_linear(SquareMatrix<N> a, std::array<double, N> b, std::array<double, N>& x) {
  for (std::size_t col = 0; col < N; ++col) {
    std::size_t pivot = col;
    for (std::size_t r = col + 1; r < N; ++r)
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    if (!(std::fabs(a[pivot][col]) > 0.0)) return false;
    std::swap(a[pivot], a[col]);
    std::swap(b[pivot], b[col]);
    for (std::size_t r = col + 1; r < N; ++r) {
      const double factor = a[r][col] / a[col][col];
      for (std::size_t c = col; c < N; ++c) a[r][c] -= factor * a[col][c];
      b[r] -= factor * b[col];
    }
  }
  for (std::size_t i = N; i-- > 0;) {
    double sum = b[i];
    for (std::size_t c = i + 1; c < N; ++c) sum -= a[i][c] * x[c];
    x[i] = sum / a[i][i];
  }
  return true;
}

// Newton-Raphson for f(x) = 0, f: R^N -> R^N, with the Jacobian from fd_jacobian (step h).
// Starts from x and leaves the last iterate there. Returns true as soon as every |f_i(x)| is at
// most `tolerance`; false after max_iterations steps, on a singular Jacobian or a non-finite x.
template <std::size_t N, typename F>
bool newton_rhapson(F&& f, std::array<double, N>& x, double h, double tolerance,
                    int max_iterations) {
  for (int iteration = 0;; ++iteration) {
    const std::array<double, N> fx = f(x);
    bool done = true;
    for (std::size_t i = 0; i < N; ++i) {
      if (!std::isfinite(fx[i])) return false;
      done = done && std::fabs(fx[i]) <= tolerance;
    }
    if (done) return true;
    if (iteration == max_iterations) return false;
    std::array<double, N> delta{};
    if (!solve_linear<N>(fd_jacobian<N>(f, x, h), fx, delta)) return false;
    for (std::size_t i = 0; i < N; ++i) x[i] -= delta[i];
  }
}

}  // namespace tervik::math::numeric

namespace tervik::multiview {

// A camera for images whose size is multiplied by s (0.125 for images reduced by 8): the size is
// scaled and truncated toward zero, K and P are premultiplied by diag(s, s, 1), R, t and the
// distortion are copied. The principal point is scaled as s * c, with no half-pixel shift, and
// point_depth is unchanged. A scaled size outside the 64-bit range saturates (NaN gives 0).
Camera scale_camera(const Camera& c, double s);

// Camera centre in world coordinates: -R^T * t.
Point3D camera_position(const Camera& c);

// 8-bit bilinear sample of a (column, row) channel at the real image position `pos`, pixel
// values sitting at pixel centres; rounded by adding 0.5. Positions outside the image take the
// nearest border pixel. Throws TervikError for an empty channel.
unsigned char bilinear_interpolation(const Point2D& pos, const MultiArray<unsigned char, 2>& img);

// The value of the pixel that covers `pos` (each coordinate truncated toward minus infinity),
// the nearest border pixel outside the image. Unlike bilinear_interpolation it creates no new
// values, so a binary silhouette stays binary. Throws TervikError for an empty channel.
unsigned char nearest_interpolation(const Point2D& pos, const MultiArray<unsigned char, 2>& img);

// How undistort_image samples the distorted image.
enum class Sampling { bilinear, nearest };

// Resamples the image in place so that it follows the ideal pinhole model of camera c: output
// pixel (x, y) takes the input value at distorter(x + 0.5, y + 0.5) with the camera's K and
// distortion. Bilinear suits colour images, nearest keeps silhouettes binary. The size stays.
void undistort_image(ImageGray<unsigned char>& image, Camera c,
                     Sampling sampling = Sampling::bilinear);
void undistort_image(ImageRGB<unsigned char>& image, Camera c,
                     Sampling sampling = Sampling::bilinear);

}  // namespace tervik::multiview
