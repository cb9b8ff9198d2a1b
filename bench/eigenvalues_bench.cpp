// Eigen-decomposition throughput: 10^5 symmetric 3 x 3 scatter matrices, the workload of
// normal estimation.
#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "tervik/eigenvalues.h"

namespace {

using Matrix = tervik::MultiArray<double, 2>;
using tervik::math::numeric::Eigenvalues;

constexpr int kMatrices = 100000;

// Scatter matrices of 10 random points around a flattened patch (positive semi-definite).
std::vector<Matrix> scatter_matrices() {
  std::mt19937_64 rng(42);
  std::normal_distribution<double> gauss(0.0, 1.0);
  std::vector<Matrix> out;
  out.reserve(kMatrices);
  for (int m = 0; m < kMatrices; ++m) {
    Matrix a(3, 3);
    for (int p = 0; p < 10; ++p) {
      const double v[3] = {gauss(rng), gauss(rng), 0.05 * gauss(rng)};
      for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) a[i][j] += v[i] * v[j];
      }
    }
    out.push_back(a);
  }
  return out;
}

// A fresh decomposition object per matrix.
void BM_Symmetric3x3Construct(benchmark::State& state) {
  const std::vector<Matrix> mats = scatter_matrices();
  for (auto _ : state) {
    double sum = 0.0;
    for (const Matrix& a : mats) {
      const Eigenvalues<double> eig(a);
      sum += eig.real_eigenvalues()[0];
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kMatrices);
}
BENCHMARK(BM_Symmetric3x3Construct)->Unit(benchmark::kMillisecond);

// One object reused through calculate().
void BM_Symmetric3x3Calculate(benchmark::State& state) {
  const std::vector<Matrix> mats = scatter_matrices();
  Eigenvalues<double> eig(mats[0]);
  for (auto _ : state) {
    double sum = 0.0;
    for (const Matrix& a : mats) {
      eig.calculate(a);
      sum += eig.real_eigenvalues()[0];
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kMatrices);
}
BENCHMARK(BM_Symmetric3x3Calculate)->Unit(benchmark::kMillisecond);

// Two matrices at a time through symmetric3_eigen_pair.
void BM_Symmetric3x3Pairs(benchmark::State& state) {
  const std::vector<Matrix> mats = scatter_matrices();
  std::vector<std::array<double, 9>> flat(mats.size());
  for (std::size_t k = 0; k < mats.size(); ++k) std::copy_n(mats[k].data(), 9, flat[k].data());
  tervik::math::numeric::Symmetric3Eigen x, y;
  for (auto _ : state) {
    double sum = 0.0;
    for (std::size_t k = 0; k + 1 < flat.size(); k += 2) {
      tervik::math::numeric::symmetric3_eigen_pair(
          *reinterpret_cast<const double(*)[9]>(flat[k].data()),
          *reinterpret_cast<const double(*)[9]>(flat[k + 1].data()), x, y);
      sum += x.values[0] + y.values[0];
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kMatrices);
}
BENCHMARK(BM_Symmetric3x3Pairs)->Unit(benchmark::kMillisecond);

}  // namespace
