#include "tervik/multiview_auxiliar.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "tervik/exceptions.h"
#include "tervik/multiview.h"

namespace tervik::math::numeric {

MultiArray<double, 2> transpose(const MultiArray<double, 2>& m) {
  const std::size_t cols = m.shape()[0], rows = m.shape()[1];
  MultiArray<double, 2> t(rows, cols);
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < cols; ++c) t[r][c] = m[c][r];
  }
  return t;
}

MultiArray<double, 1> product(const MultiArray<double, 2>& m, const MultiArray<double, 1>& v) {
  const std::size_t cols = m.shape()[0], rows = m.shape()[1];
  TERVIK_CHECK(v.num_elements() == cols, "matrix with " << cols << " columns times a vector of "
                                                        << v.num_elements() << " elements");
  MultiArray<double, 1> out(static_cast<int>(rows));
  for (std::size_t r = 0; r < rows; ++r) {
    double sum = 0.0;
    for (std::size_t c = 0; c < cols; ++c) sum += m[c][r] * v[c];
    out[r] = sum;
  }
  return out;
}

}  // namespace tervik::math::numeric

namespace tervik::multiview {
namespace {

// Truncates toward zero into the signed 64-bit range; NaN becomes 0.
std::int64_t truncate_size(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (value >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (value <= -kLimit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value);
}

}  // namespace

Camera scale_camera(const Camera& c, double s) {
  Camera out;
  out.im_width() = truncate_size(static_cast<double>(c.im_width()) * s);
  out.im_height() = truncate_size(static_cast<double>(c.im_height()) * s);
  out.rot() = c.rot();
  out.trans() = c.trans();

  const double* k = c.k().data();
  double* k_out = out.k().data();
  for (int i = 0; i < 9; ++i) k_out[i] = k[i] * s;
  k_out[8] = 1.0;  // row 2, column 2

  // Rows 0 and 1 of P scaled, row 2 (the depth row) kept.
  const double* p = c.p().data();
  double* p_out = out.p().data();
  for (int i = 0; i < 8; ++i) p_out[i] = p[i] * s;
  for (int i = 8; i < 12; ++i) p_out[i] = p[i];

  out.distortion() = c.distortion();
  return out;
}

Point3D camera_position(const Camera& c) {
  const MultiArray<double, 1> rt_t =
      math::numeric::product(math::numeric::transpose(c.rot()), c.trans());
  return {-rt_t[0], -rt_t[1], -rt_t[2]};
}

namespace {

// Clamps a sample coordinate to [0, last]; NaN goes to 0.
double clamp_coordinate(double v, double last) {
  if (!(v > 0.0)) return 0.0;
  return v < last ? v : last;
}

void check_not_empty(const MultiArray<unsigned char, 2>& img, const char* who) {
  TERVIK_CHECK(img.shape()[0] > 0 && img.shape()[1] > 0,
               who << ": empty image " << img.shape()[0] << " x " << img.shape()[1]);
}

// Resamples every channel of the image through the camera's distortion.
template <typename ImageT>
void undistort_channels(ImageT& image, const Camera& c, Sampling sampling) {
  const std::size_t w = image.width(), h = image.height();
  if (w == 0 || h == 0) return;
  const double* k = c.k().data();  // (fx, skew, cx, 0, fy, cy, 0, 0, 1)
  MultiArray<double, 1> focal(2);
  focal[0] = k[0];
  focal[1] = k[4];
  const Point2D principal(k[2], k[5]);
  // Where every output pixel samples the input, computed once for all channels.
  std::vector<Point2D> source(w * h);
  for (std::size_t y = 0; y < h; ++y)
    for (std::size_t x = 0; x < w; ++x)
      source[x + y * w] = multiview::distorter(Point2D(double(x) + 0.5, double(y) + 0.5),
                                               c.distortion(), principal, focal);
  for (std::size_t ch = 0; ch < image.n_channels(); ++ch) {
    const MultiArray<unsigned char, 2> input = image.channel(ch);
    unsigned char* out = image.channel(ch).data();
    for (std::size_t i = 0; i < w * h; ++i)
      out[i] = sampling == Sampling::bilinear ? bilinear_interpolation(source[i], input)
                                              : nearest_interpolation(source[i], input);
  }
}

}  // namespace

unsigned char bilinear_interpolation(const Point2D& pos, const MultiArray<unsigned char, 2>& img) {
  check_not_empty(img, "bilinear_interpolation");
  const std::size_t w = img.shape()[0], h = img.shape()[1];
  // Pixel (i, j) holds its value at (i + 0.5, j + 0.5).
  const double x = clamp_coordinate(pos.x - 0.5, double(w - 1));
  const double y = clamp_coordinate(pos.y - 0.5, double(h - 1));
  const std::size_t x0 = static_cast<std::size_t>(x), y0 = static_cast<std::size_t>(y);
  const std::size_t x1 = x0 + 1 < w ? x0 + 1 : x0, y1 = y0 + 1 < h ? y0 + 1 : y0;
  const double a = x - double(x0), b = y - double(y0);
  const unsigned char* p = img.data();
  const double top = (1.0 - a) * p[x0 + y0 * w] + a * p[x1 + y0 * w];
  const double bottom = (1.0 - a) * p[x0 + y1 * w] + a * p[x1 + y1 * w];
  return static_cast<unsigned char>((1.0 - b) * top + b * bottom + 0.5);
}

unsigned char nearest_interpolation(const Point2D& pos, const MultiArray<unsigned char, 2>& img) {
  check_not_empty(img, "nearest_interpolation");
  const std::size_t w = img.shape()[0], h = img.shape()[1];
  const std::size_t x = static_cast<std::size_t>(clamp_coordinate(std::floor(pos.x), double(w - 1)));
  const std::size_t y = static_cast<std::size_t>(clamp_coordinate(std::floor(pos.y), double(h - 1)));
  return img.data()[x + y * w];
}

void undistort_image(ImageGray<unsigned char>& image, Camera c, Sampling sampling) {
  undistort_channels(image, c, sampling);
}

void undistort_image(ImageRGB<unsigned char>& image, Camera c, Sampling sampling) {
  undistort_channels(image, c, sampling);
}

}  // namespace tervik::multiview
