// Depth maps, colouring and smoothing of a frame's points: a sphere of points seen by a ring of
// cameras, at the studio sizes of the sculptor benchmark (8 x 640 x 480, 16 x 1280 x 960).
// Run by hand: build with -DTERVIK_BENCH=ON, then ./build/bench/postprocess_bench.
#include <cmath>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "common/patch.h"
#include "sculptor/colors.h"
#include "sculptor/depth_maps.h"
#include "sculptor/smoothing.h"
#include "tervik/imagergb.h"
#include "tervik/multiview.h"

namespace {

using namespace tervik;

Camera ring_camera(int i, int n, long width, long height) {
  const double a = 2 * M_PI * i / n;
  const Point3D centre(4 * std::cos(a), 4 * std::sin(a), i % 2 == 0 ? 1.0 : -1.0);
  const Point3D forward = -centre / norm(centre);
  Point3D right = cross(forward, Point3D(0, 0, 1));
  right = right / norm(right);
  const Point3D down = cross(forward, right);
  const Point3D rows[3] = {right, down, forward};
  const double f = 1.25 * width, k[3][3] = {{f, 0, width / 2.0}, {0, f, height / 2.0}, {0, 0, 1}};
  Camera cam;
  cam.im_width() = width;
  cam.im_height() = height;
  for (int r = 0; r < 3; ++r) {
    const double t = -dot(rows[r], centre);
    cam.trans().data()[r] = t;
    for (int c = 0; c < 3; ++c) cam.rot().data()[3 * r + c] = rows[r][c];
    for (int c = 0; c < 4; ++c) {
      double v = 0;
      for (int m = 0; m < 3; ++m) v += k[r][m] * (c < 3 ? rows[m][c] : -dot(rows[m], centre));
      cam.p().data()[4 * r + c] = v;
    }
  }
  return cam;
}

struct Frame {
  multiview::MultiView<ImageRGB<unsigned char>> views;
  multiview::MultiView<> cameras;
  std::vector<Patch> patches;
};

// range(0): cameras, range(1): image width (height = 3/4 width), range(2): points.
Frame make_frame(const benchmark::State& state) {
  Frame fr;
  const int n = static_cast<int>(state.range(0));
  const long w = state.range(1), h = 3 * w / 4;
  for (int i = 0; i < n; ++i) {
    Camera cam = ring_camera(i, n, w, h);
    ImageRGB<unsigned char> image(w, h);
    image = static_cast<unsigned char>(40 + 20 * i % 200);
    fr.views.emplace_back(cam, image);
    fr.cameras.emplace_back(cam);
  }
  std::mt19937 rng(3);
  std::normal_distribution<double> g(0, 1);
  for (long i = 0; i < state.range(2); ++i) {
    Point3D nrm(g(rng), g(rng), g(rng));
    nrm = nrm / norm(nrm);
    Patch p;
    p.pos = nrm * 0.8;
    p.normal = nrm;
    fr.patches.push_back(p);
  }
  return fr;
}

// Maps kept from call to call, as the frame loop keeps them.
void BM_DepthMapsReused(benchmark::State& state) {
  const Frame fr = make_frame(state);
  std::vector<DepthMap> maps;
  for (auto _ : state) {
    depth_maps_pixel(maps, fr.patches, fr.cameras);
    benchmark::DoNotOptimize(maps.data());
  }
}

// A fresh vector of maps every call: every map allocated and released again.
void BM_DepthMapsFresh(benchmark::State& state) {
  const Frame fr = make_frame(state);
  for (auto _ : state) {
    std::vector<DepthMap> maps;
    depth_maps_pixel(maps, fr.patches, fr.cameras);
    benchmark::DoNotOptimize(maps.data());
  }
}

void BM_AddColors(benchmark::State& state) {
  Frame fr = make_frame(state);
  std::vector<DepthMap> maps;
  depth_maps_pixel(maps, fr.patches, fr.cameras);
  for (auto _ : state) {
    add_colors(fr.patches, maps, fr.views, 0.02);
    benchmark::DoNotOptimize(fr.patches.data());
  }
}

// The colouring as the frame loop runs it: the maps and the colours in one pass per camera
// (compare with BM_DepthMapsReused plus BM_AddColors).
void BM_ColourPoints(benchmark::State& state) {
  Frame fr = make_frame(state);
  std::vector<DepthMap> maps;
  for (auto _ : state) {
    colour_points(fr.patches, maps, fr.views, 0.02);
    benchmark::DoNotOptimize(fr.patches.data());
  }
}

void studio_sizes(benchmark::internal::Benchmark* b) {
  b->Args({8, 640, 10000})->Args({16, 1280, 100000})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_DepthMapsReused)->Apply(studio_sizes);
BENCHMARK(BM_DepthMapsFresh)->Apply(studio_sizes);
BENCHMARK(BM_AddColors)->Apply(studio_sizes);
BENCHMARK(BM_ColourPoints)->Apply(studio_sizes);

}  // namespace
