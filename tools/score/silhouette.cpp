// Distance transforms of silhouettes and silhouette residuals.
#include <algorithm>
#include <cmath>
#include <limits>

#include "tools/scene/render.h"
#include "tools/score/silhouette.h"

namespace tervik::scene {
namespace {

constexpr double far_away = 1e20;

// One-dimensional squared distance transform of the sampled function f (lower envelope of
// parabolas), written to d. v and z are scratch of sizes n and n + 1.
void transform_1d(const double* f, long n, double* d, std::vector<long>& v, std::vector<double>& z) {
  const double inf = std::numeric_limits<double>::infinity();
  long k = 0;
  v[0] = 0;
  z[0] = -inf;
  z[1] = inf;
  for (long q = 1; q < n; ++q) {
    // z[0] is -inf, so the search stops at k = 0 at the latest.
    double s = 0.0;
    for (;;) {
      const long r = v[k];
      s = ((f[q] + double(q) * double(q)) - (f[r] + double(r) * double(r))) / (2.0 * double(q - r));
      if (s > z[k]) break;
      --k;
    }
    ++k;
    v[k] = q;
    z[k] = s;
    z[k + 1] = inf;
  }
  k = 0;
  for (long q = 0; q < n; ++q) {
    while (z[k + 1] < double(q)) ++k;
    const double dq = double(q - v[k]);
    d[q] = dq * dq + f[v[k]];
  }
}

}  // namespace

std::vector<double> squared_distance_transform(const std::vector<unsigned char>& target, long w,
                                               long h) {
  std::vector<double> out(std::size_t(w * h));
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = target[i] ? 0.0 : far_away;
  const long n = std::max(w, h);
  std::vector<double> f(n), d(n), z(n + 1);
  std::vector<long> v(n);
  for (long x = 0; x < w; ++x) {  // columns
    for (long y = 0; y < h; ++y) f[y] = out[x + y * w];
    transform_1d(f.data(), h, d.data(), v, z);
    for (long y = 0; y < h; ++y) out[x + y * w] = d[y];
  }
  for (long y = 0; y < h; ++y) {  // rows
    transform_1d(out.data() + y * w, w, d.data(), v, z);
    std::copy_n(d.data(), w, out.data() + y * w);
  }
  return out;
}

SilhouetteSet::SilhouetteSet(const Solid& object, const std::vector<ViewCamera>& cameras) {
  for (const ViewCamera& cam : cameras) {
    View view;
    view.camera = &cam;
    const ImageGray<unsigned char> sil = render_silhouette(object, cam);
    const std::size_t n = std::size_t(cam.width * cam.height);
    const unsigned char* data = sil.channel(0).data();
    view.foreground.resize(n);
    std::vector<unsigned char> background(n);
    for (std::size_t i = 0; i < n; ++i) {
      view.foreground[i] = data[i] >= 128 ? 1 : 0;  // the foreground threshold of sculptor
      background[i] = 1 - view.foreground[i];
    }
    view.to_foreground = squared_distance_transform(view.foreground, cam.width, cam.height);
    view.to_background = squared_distance_transform(background, cam.width, cam.height);
    views_.push_back(std::move(view));
  }
}

bool SilhouetteSet::residual(const Point3D& x, double& value) const {
  bool seen = false, outside = false;
  double out = 0.0;
  double in = std::numeric_limits<double>::infinity();
  for (const View& view : views_) {
    long px = 0, py = 0;
    if (!view.camera->pixel_of(x, px, py)) continue;
    seen = true;
    const std::size_t at = std::size_t(px + py * view.camera->width);
    if (!view.foreground[at]) {
      outside = true;
      if (view.to_foreground[at] < far_away) out = std::max(out, std::sqrt(view.to_foreground[at]));
    } else if (view.to_background[at] < far_away) {
      // A foreground pixel with a background 4-neighbour lies on the outline: distance 1.
      in = std::min(in, std::sqrt(view.to_background[at]) - 1.0);
    }
  }
  if (!seen) return false;
  value = outside ? out : (std::isfinite(in) ? in : 0.0);
  return true;
}

double silhouette_iou(const ImageGray<unsigned char>& silhouette, const ViewCamera& cam,
                      const std::vector<Point3D>& vertices,
                      const std::vector<Coord3D<long long>>& faces) {
  const long w = cam.width, h = cam.height;
  std::vector<unsigned char> covered(std::size_t(w * h), 0);
  for (const auto& f : faces) {
    Point2D q[3];
    bool in_front = true;
    for (int k = 0; k < 3; ++k) {
      const Point3D& x = vertices[std::size_t(f[k])];
      in_front = in_front && cam.depth(x) > 0.0;
      q[k] = cam.project(x);
    }
    if (!in_front) continue;
    const double area = (q[1].x - q[0].x) * (q[2].y - q[0].y) - (q[2].x - q[0].x) * (q[1].y - q[0].y);
    if (area == 0.0 || !std::isfinite(area)) continue;
    const double lo_x = std::min({q[0].x, q[1].x, q[2].x}), hi_x = std::max({q[0].x, q[1].x, q[2].x});
    const double lo_y = std::min({q[0].y, q[1].y, q[2].y}), hi_y = std::max({q[0].y, q[1].y, q[2].y});
    // Clamped as doubles: a corner next to the camera's plane projects beyond what a long holds.
    const auto pixel = [](double v, long size) { return long(std::clamp(v, -1.0, double(size) + 1.0)); };
    const long x0 = std::max(0L, pixel(std::ceil(lo_x - 0.5), w)), x1 = std::min(w - 1, pixel(std::floor(hi_x - 0.5), w));
    const long y0 = std::max(0L, pixel(std::ceil(lo_y - 0.5), h)), y1 = std::min(h - 1, pixel(std::floor(hi_y - 0.5), h));
    for (long y = y0; y <= y1; ++y)
      for (long x = x0; x <= x1; ++x) {
        const double px = double(x) + 0.5, py = double(y) + 0.5;
        bool inside = true;
        for (int k = 0; k < 3 && inside; ++k) {
          const Point2D& a = q[k];
          const Point2D& b = q[(k + 1) % 3];
          const double e = (b.x - a.x) * (py - a.y) - (px - a.x) * (b.y - a.y);
          inside = area > 0.0 ? e >= 0.0 : e <= 0.0;
        }
        if (inside) covered[std::size_t(y * w + x)] = 1;
      }
  }
  long both = 0, either = 0;
  const unsigned char* sil = silhouette.channel(0).data();
  for (std::size_t i = 0; i < covered.size(); ++i) {
    const bool fg = sil[i] >= 128;
    both += fg && covered[i];
    either += fg || covered[i];
  }
  return either == 0 ? 1.0 : double(both) / double(either);
}

}  // namespace tervik::scene
