#include "tervik/multiview_auxiliar.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "tervik/exceptions.h"

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

}  // namespace tervik::multiview
