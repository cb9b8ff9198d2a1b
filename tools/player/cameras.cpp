#include "tools/player/cameras.h"

#include <cmath>
#include <sstream>

#include "tervik/exceptions.h"
#include "tools/common/capture_files.h"

namespace tervik::player {

namespace {

double dot(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

}  // namespace

PlayerCamera player_camera(int index, const Camera& camera) {
  // Rows m0, m1, m2 of P's left 3 x 3 block M, and its last column p.
  const double* pm = camera.p().data();
  double m[3][3], p[3];
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) m[row][col] = pm[4 * row + col];
    p[row] = pm[4 * row + 3];
  }
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  const double norm2 = std::sqrt(dot(m[2], m[2]));
  TERVIK_CHECK(std::isfinite(det) && det != 0.0 && norm2 > 0.0,
               "camera " << index << ": the projection matrix's left 3 x 3 block is singular");
  // Scale P so that M's last row is a unit vector and det M > 0: then K(2,2) = 1 and R is a
  // rotation rather than a reflection.
  const double scale = (det > 0 ? 1.0 : -1.0) / norm2;
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) m[row][col] *= scale;
    p[row] *= scale;
  }
  // Gram-Schmidt from the last row up: m2 = r2, m1 = fy r1 + cy r2, m0 = fx r0 + s r1 + cx r2.
  PlayerCamera out;
  out.index = index;
  out.width = camera.im_width();
  out.height = camera.im_height();
  double r[3][3];
  for (int c = 0; c < 3; ++c) r[2][c] = m[2][c];
  const double cy = dot(m[1], r[2]);
  for (int c = 0; c < 3; ++c) r[1][c] = m[1][c] - cy * r[2][c];
  const double fy = std::sqrt(dot(r[1], r[1]));
  for (int c = 0; c < 3; ++c) r[1][c] /= fy;
  const double cx = dot(m[0], r[2]), skew = dot(m[0], r[1]);
  for (int c = 0; c < 3; ++c) r[0][c] = m[0][c] - skew * r[1][c] - cx * r[2][c];
  const double fx = std::sqrt(dot(r[0], r[0]));
  for (int c = 0; c < 3; ++c) r[0][c] /= fx;
  out.k = {fx, skew, cx, 0.0, fy, cy, 0.0, 0.0, 1.0};
  for (int row = 0; row < 3; ++row)
    for (int c = 0; c < 3; ++c) out.r[3 * row + c] = r[row][c];
  // t = K^-1 p, by back substitution.
  out.t[2] = p[2];
  out.t[1] = (p[1] - cy * out.t[2]) / fy;
  out.t[0] = (p[0] - skew * out.t[1] - cx * out.t[2]) / fx;
  return out;
}

std::string cameras_json(const std::vector<PlayerCamera>& cameras) {
  std::ostringstream js;
  auto list = [&js](const double* v, int n) {
    js << "[";
    for (int i = 0; i < n; ++i) js << (i ? "," : "") << capture::shortest(v[i]);
    js << "]";
  };
  js << "{\"cameras\":[";
  for (std::size_t i = 0; i < cameras.size(); ++i) {
    const PlayerCamera& c = cameras[i];
    js << (i ? ",\n" : "\n") << "{\"index\":" << c.index << ",\"width\":" << c.width
       << ",\"height\":" << c.height << ",\"K\":";
    list(c.k.data(), 9);
    js << ",\"R\":";
    list(c.r.data(), 9);
    js << ",\"t\":";
    list(c.t.data(), 3);
    js << "}";
  }
  js << "\n]}\n";
  return js.str();
}

}  // namespace tervik::player
