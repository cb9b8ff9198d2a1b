// Projection throughput: 10^6 world points into 8 cameras, as the samplers do for every
// candidate point (world_to_image_undistorted followed by point_depth).
#include <cmath>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "tervik/camera.h"
#include "tervik/multiview.h"

namespace {

using tervik::Camera;
using tervik::Point2D;
using tervik::Point3D;

constexpr int kPoints = 1000000;
constexpr int kCameras = 8;

// A 1024 x 768 camera on a circle of radius 5 around the origin, looking at the origin.
Camera ring_camera(int i) {
  const double a = 2.0 * M_PI * i / kCameras;
  const Point3D centre(5.0 * std::cos(a), 5.0 * std::sin(a), 1.0);
  const Point3D z = (Point3D() - centre) / tervik::norm(centre);  // optical axis
  const Point3D up(0, 0, 1);
  Point3D x = tervik::cross(z, up);
  x = x / tervik::norm(x);
  const Point3D y = tervik::cross(z, x);
  const Point3D rows[3] = {x, y, z};
  const double K[3][3] = {{900, 0, 512}, {0, 900, 384}, {0, 0, 1}};
  Camera c;
  c.im_width() = 1024;
  c.im_height() = 768;
  for (int r = 0; r < 3; ++r) {
    c.trans()[r] = -tervik::dot(rows[r], centre);
    for (int col = 0; col < 3; ++col) {
      c.rot()[col][r] = rows[r][col];
      c.k()[col][r] = K[r][col];
    }
  }
  for (int r = 0; r < 3; ++r) {
    for (int col = 0; col < 4; ++col) {
      double sum = 0.0;
      for (int i2 = 0; i2 < 3; ++i2) sum += K[r][i2] * (col < 3 ? rows[i2][col] : c.trans()[i2]);
      c.p()[col][r] = sum;
    }
  }
  return c;
}

std::vector<Point3D> random_points() {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> uni(-1.0, 1.0);
  std::vector<Point3D> pts(kPoints);
  for (Point3D& p : pts) p = Point3D(uni(rng), uni(rng), uni(rng));
  return pts;
}

void BM_ProjectUndistortedWithDepth(benchmark::State& state) {
  std::vector<Camera> cams;
  for (int i = 0; i < kCameras; ++i) cams.push_back(ring_camera(i));
  const std::vector<Point3D> pts = random_points();
  for (auto _ : state) {
    long inside = 0;
    double depth_sum = 0.0;
    for (const Point3D& X : pts) {
      for (const Camera& c : cams) {
        Point2D x;
        tervik::multiview::world_to_image_undistorted(X, c, x);
        depth_sum += tervik::multiview::point_depth(X, c);
        const int col = static_cast<int>(x.x), row = static_cast<int>(x.y);
        inside += col >= 0 && col < 1024 && row >= 0 && row < 768;
      }
    }
    benchmark::DoNotOptimize(inside);
    benchmark::DoNotOptimize(depth_sum);
  }
  state.SetItemsProcessed(state.iterations() * kPoints * kCameras);
}
BENCHMARK(BM_ProjectUndistortedWithDepth)->Unit(benchmark::kMillisecond);

// For comparison: the projection that divides twice and applies the lens distortion.
void BM_ProjectDistorted(benchmark::State& state) {
  std::vector<Camera> cams;
  for (int i = 0; i < kCameras; ++i) {
    cams.push_back(ring_camera(i));
    cams.back().distortion()[0] = -0.1;
    cams.back().distortion()[2] = 0.001;
  }
  const std::vector<Point3D> pts = random_points();
  for (auto _ : state) {
    double sum = 0.0;
    for (const Point3D& X : pts) {
      for (const Camera& c : cams) {
        Point2D x;
        tervik::multiview::fast_world2image(X, c, x);
        sum += x.x + x.y;
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kPoints * kCameras);
}
BENCHMARK(BM_ProjectDistorted)->Unit(benchmark::kMillisecond);

}  // namespace
