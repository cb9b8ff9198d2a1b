// KD-tree build and query throughput over uniformly random patches in the unit cube.
// Run by hand: build with -DTERVIK_BENCH=ON, then ./build/bench/kdtree_bench.
#include <cmath>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "common/kdtree.h"
#include "common/patch.h"

namespace {

using tervik::KDTree;
using tervik::Patch;
using tervik::Point3D;

// The same random set for every benchmark of a given size.
const std::vector<Patch>& patches(size_t n) {
  static std::vector<Patch> cache;
  if (cache.size() != n) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    cache.resize(n);
    for (Patch& p : cache) p.pos = Point3D(u(rng), u(rng), u(rng));
  }
  return cache;
}

std::vector<Point3D> queries(size_t count) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<Point3D> q(count);
  for (Point3D& p : q) p = Point3D(u(rng), u(rng), u(rng));
  return q;
}

void BM_Build(benchmark::State& state) {
  const auto& pts = patches(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    KDTree<Patch> tree(pts);
    benchmark::DoNotOptimize(tree.size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Nearest10(benchmark::State& state) {
  const auto& pts = patches(static_cast<size_t>(state.range(0)));
  KDTree<Patch> tree(pts);
  const std::vector<Point3D> q = queries(4096);
  std::vector<unsigned int> out;
  size_t i = 0;
  for (auto _ : state) {
    tree.nearest_neighbors(q[i++ & 4095], pts, out, 10);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}

// Radius chosen so that a query finds about 30 patches on average.
void BM_Radius30(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  const auto& pts = patches(n);
  KDTree<Patch> tree(pts);
  const std::vector<Point3D> q = queries(4096);
  const double r = std::cbrt(30.0 / (n * 4.0 / 3.0 * M_PI));
  std::vector<unsigned int> out;
  size_t i = 0, found = 0;
  for (auto _ : state) {
    tree.neighbors(q[i++ & 4095], pts, r * r, out);
    found += out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["found"] = static_cast<double>(found) / state.iterations();
}

BENCHMARK(BM_Build)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Nearest10)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_Radius30)->Arg(100000)->Arg(1000000);

}  // namespace
