// The silhouette test on the standard figure, plain (pixels and neighbours read per camera, list
// order) against classified (one class byte per camera, rejecting camera first), per call.
#include <optional>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "sculptor/silhouette.h"
#include "tools/scene/scene.h"

namespace {

using namespace tervik;

struct Setup {
  SilhouetteViews views;
  std::vector<Point3D> candidates;
};

Setup make_setup(int cameras, long width, long height) {
  scene::SceneOptions so;
  so.cameras = cameras;
  so.width = width;
  so.height = height;
  so.frames = 1;
  const scene::GroundTruth truth = scene::build_scene(so);
  const scene::Solid& solid = truth.solid(truth.first_frame);
  Setup s;
  s.views = SilhouetteViews(cameras);
  for (int i = 0; i < cameras; ++i) {
    s.views[i].get<0>() = scene::to_camera(truth.cameras[i]);
    s.views[i].get<1>() = scene::render_silhouette(solid, truth.cameras[i]);
  }
  const double step = truth.sampling_length();
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> unit(0.0, 1.0), sym(-1.0, 1.0);
  const auto surface = solid.sample_surface(20000, 9);
  // Runs of 16 candidates, as the samplers draw them: around one surface point within one
  // sampling length (the growth), or uniformly in the box (the seed search), alternately.
  for (std::size_t k = 0; k < surface.size(); ++k) {
    for (int j = 0; j < 16; ++j) {
      if (k % 2 == 0) {
        const Point3D& a = truth.box_min;
        const Point3D& b = truth.box_max;
        s.candidates.push_back({a.x + unit(rng) * (b.x - a.x), a.y + unit(rng) * (b.y - a.y),
                                a.z + unit(rng) * (b.z - a.z)});
      } else {
        s.candidates.push_back(surface[k].position + Point3D(sym(rng), sym(rng), sym(rng)) * step);
      }
    }
  }
  return s;
}

void run(benchmark::State& state, bool classified) {
  static const Setup small = make_setup(8, 640, 480);
  static const Setup large = make_setup(16, 1280, 960);
  const Setup& s = state.range(0) == 8 ? small : large;
  std::optional<SilhouetteClasses> classes;
  if (classified) classes.emplace(s.views);
  std::size_t i = 0;
  long admissible = 0;
  for (auto _ : state) {
    short inside = 0, outside = 0;
    const Point3D& p = s.candidates[i];
    const bool outline = classified ? classes->test(p, inside, outside, 0)
                                    : projection_test(s.views, p, inside, outside, 0);
    admissible += outline && inside >= 5 && outside == 0;
    if (++i == s.candidates.size()) i = 0;
  }
  benchmark::DoNotOptimize(admissible);
  state.SetItemsProcessed(state.iterations());
}

void BM_ProjectionTestPlain(benchmark::State& state) { run(state, false); }
void BM_ProjectionTestClassified(benchmark::State& state) { run(state, true); }

BENCHMARK(BM_ProjectionTestPlain)->Arg(8)->Arg(16);
BENCHMARK(BM_ProjectionTestClassified)->Arg(8)->Arg(16);

}  // namespace
