// Camera construction shared by the importers, and the projection-matrix and Middlebury lists.
#include "tools/capture/import/camera_import.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "tervik/exceptions.h"
#include "tools/capture/import/import_util.h"

namespace tervik::calibration {

std::vector<std::string> split_words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

bool parse_real(const std::string& word, double& value) {
  if (word.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtod(word.c_str(), &end);
  return end == word.c_str() + word.size() && errno != ERANGE && std::isfinite(value);
}

bool parse_integer(const std::string& word, long& value) {
  if (word.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtol(word.c_str(), &end, 10);
  return end == word.c_str() + word.size() && errno != ERANGE;
}

void check_image_size(long width, long height, const std::string& source) {
  if (width < 1 || width > 32767 || height < 1 || height > 32767)
    throw TervikError(source + ": image size " + std::to_string(width) + " x " +
                      std::to_string(height) + " is not 1 to 32767 pixels on each side");
}

bool is_rotation(const double r[3][3]) {
  double worst = 0.0;
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) {
      const double d = r[a][0] * r[b][0] + r[a][1] * r[b][1] + r[a][2] * r[b][2];
      worst = std::max(worst, std::fabs(d - (a == b ? 1.0 : 0.0)));
    }
  const double det = r[0][0] * (r[1][1] * r[2][2] - r[1][2] * r[2][1]) -
                     r[0][1] * (r[1][0] * r[2][2] - r[1][2] * r[2][0]) +
                     r[0][2] * (r[1][0] * r[2][1] - r[1][1] * r[2][0]);
  return worst <= 1e-5 && det > 0.0;
}

std::string pixel_centres_name(PixelCentres centres) {
  return centres == PixelCentres::half ? "half" : "integer";
}

PixelCentres parse_pixel_centres(const std::string& name) {
  if (name == "half") return PixelCentres::half;
  if (name == "integer") return PixelCentres::integer;
  throw TervikError("unknown pixel centre convention '" + name +
                    "' (expected 'half': pixel i centred at i + 0.5, or 'integer': at i)");
}

namespace {

// Writes row-major K, R, t, P and the distortion into a camera.
Camera fill_camera(const double k[3][3], const double r[3][3], const double t[3],
                   const double p[3][4], const double distortion[4], long width, long height) {
  Camera c;
  c.im_width() = width;
  c.im_height() = height;
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      c.k()[col][row] = k[row][col];  // library matrices are indexed (column, row)
      c.rot()[col][row] = r[row][col];
    }
    c.trans()[row] = t[row];
    for (int col = 0; col < 4; ++col) c.p()[col][row] = p[row][col];
  }
  for (int i = 0; i < 4; ++i) c.distortion()[i] = distortion[i];
  return c;
}

void require_finite(const double* v, int n, const std::string& what, const std::string& source) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) throw TervikError(source + ": " + what + " holds a non-finite value");
}

}  // namespace

Camera camera_from_krt(const double k_in[3][3], const double r[3][3], const double t[3],
                       const double distortion[4], long width, long height,
                       PixelCentres centres, const std::string& source) {
  check_image_size(width, height, source);
  require_finite(&k_in[0][0], 9, "the intrinsic matrix K", source);
  require_finite(&r[0][0], 9, "the rotation R", source);
  require_finite(t, 3, "the translation t", source);
  require_finite(distortion, 4, "the distortion", source);
  if (k_in[1][0] != 0.0 || k_in[2][0] != 0.0 || k_in[2][1] != 0.0 || !(k_in[2][2] != 0.0))
    throw TervikError(source + ": K is not upper triangular with a non-zero K[2][2]");
  double k[3][3];
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) k[a][b] = k_in[a][b] / k_in[2][2];
  if (!(k[0][0] > 0.0 && k[1][1] > 0.0))
    throw TervikError(source + ": K's focal lengths must be positive");
  if (!is_rotation(r))
    throw TervikError(source + ": R is not a rotation matrix (rows not orthonormal or "
                      "determinant not +1)");
  if (centres == PixelCentres::integer) {
    k[0][2] += 0.5;
    k[1][2] += 0.5;
  }
  double p[3][4];
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col)
      p[row][col] = k[row][0] * r[0][col] + k[row][1] * r[1][col] + k[row][2] * r[2][col];
    p[row][3] = k[row][0] * t[0] + k[row][1] * t[1] + k[row][2] * t[2];
  }
  return fill_camera(k, r, t, p, distortion, width, height);
}

Camera camera_from_projection(const double p_in[3][4], long width, long height,
                              PixelCentres centres, const std::string& source) {
  check_image_size(width, height, source);
  require_finite(&p_in[0][0], 12, "the projection matrix", source);
  const double (*m)[4] = p_in;
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  double norms[3];
  for (int row = 0; row < 3; ++row)
    norms[row] = std::sqrt(m[row][0] * m[row][0] + m[row][1] * m[row][1] + m[row][2] * m[row][2]);
  const double norm3 = norms[2];
  if (!(std::fabs(det) > 1e-12 * norms[0] * norms[1] * norms[2]))
    throw TervikError(source + ": the projection matrix's left 3 x 3 block is singular");
  // Scale: unit depth direction, and positive determinant so that K R has a proper rotation.
  const double s = (det > 0.0 ? 1.0 : -1.0) / norm3;
  double p[3][4];
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 4; ++col) p[row][col] = p_in[row][col] * s;
  // RQ split of the left block M = K R, row by row from the bottom (Gram-Schmidt).
  auto dot3 = [](const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; };
  double k[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 1}};
  double r[3][3];
  for (int c = 0; c < 3; ++c) r[2][c] = p[2][c];
  for (int row = 1; row >= 0; --row) {
    double v[3] = {p[row][0], p[row][1], p[row][2]};
    for (int below = row + 1; below < 3; ++below) {
      k[row][below] = dot3(p[row], r[below]);
      for (int c = 0; c < 3; ++c) v[c] -= k[row][below] * r[below][c];
    }
    k[row][row] = std::sqrt(dot3(v, v));
    for (int c = 0; c < 3; ++c) r[row][c] = v[c] / k[row][row];
  }
  // t = K^-1 p4 by back substitution.
  double t[3];
  t[2] = p[2][3];
  t[1] = (p[1][3] - k[1][2] * t[2]) / k[1][1];
  t[0] = (p[0][3] - k[0][1] * t[1] - k[0][2] * t[2]) / k[0][0];
  if (centres == PixelCentres::integer) {
    for (int col = 0; col < 4; ++col) {
      p[0][col] += 0.5 * p[2][col];
      p[1][col] += 0.5 * p[2][col];
    }
    k[0][2] += 0.5;
    k[1][2] += 0.5;
  }
  const double no_distortion[4] = {0, 0, 0, 0};
  return fill_camera(k, r, t, p, no_distortion, width, height);
}

}  // namespace tervik::calibration
