// Global seam levelling: one sparse least-squares system over the copies of the mesh vertices.
#include "tools/texture/seam_levelling.h"

#include <algorithm>
#include <numeric>

#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>

namespace tervik::texture {

std::vector<std::array<float, 3>> level_seams(const std::vector<std::array<float, 3>>& colour,
                                              const std::vector<std::uint32_t>& source,
                                              const std::vector<std::uint32_t>& indices,
                                              const std::vector<char>& photo) {
  const std::size_t n = colour.size();
  std::vector<std::array<float, 3>> g(n, {0.0f, 0.0f, 0.0f});
  if (n == 0) return g;
  std::vector<Eigen::Triplet<double>> terms;
  terms.reserve(4 * (indices.size() + 2 * n));
  Eigen::MatrixXd rhs = Eigen::MatrixXd::Zero(static_cast<Eigen::Index>(n), 3);
  // (e_i - e_j)(e_i - e_j)^T with weight w.
  const auto couple = [&](std::uint32_t i, std::uint32_t j, double w) {
    terms.emplace_back(i, i, w);
    terms.emplace_back(j, j, w);
    terms.emplace_back(i, j, -w);
    terms.emplace_back(j, i, -w);
  };
  // Copies of one mesh vertex, grouped by sorting.
  std::vector<std::uint32_t> order(n);
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return source[a] < source[b]; });
  bool any_seam = false;
  for (std::size_t s = 0; s < n;) {
    std::size_t e = s + 1;
    while (e < n && source[order[e]] == source[order[s]]) ++e;
    for (std::size_t a = s; a < e; ++a)
      for (std::size_t b = a + 1; b < e; ++b) {
        const std::uint32_t i = order[a], j = order[b];
        if (!photo[i] || !photo[j]) continue;
        couple(i, j, 1.0);
        for (int c = 0; c < 3; ++c) {
          const double d = double(colour[i][c]) - double(colour[j][c]);
          rhs(i, c) -= d;
          rhs(j, c) += d;
        }
        any_seam = true;
      }
    s = e;
  }
  if (any_seam) {
    for (std::size_t f = 0; f + 2 < indices.size(); f += 3)
      if (photo[indices[f]])
        for (int k = 0; k < 3; ++k) couple(indices[f + k], indices[f + (k + 1) % 3], 1.0);
    for (std::size_t i = 0; i < n; ++i) terms.emplace_back(i, i, 1e-3);
    const auto size = static_cast<Eigen::Index>(n);
    Eigen::SparseMatrix<double> A(size, size);
    A.setFromTriplets(terms.begin(), terms.end());
    Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>> solver(A);
    if (solver.info() != Eigen::Success) throw TervikError("seam levelling: the factorisation failed");
    const Eigen::MatrixXd x = solver.solve(rhs);
    for (std::size_t i = 0; i < n; ++i)
      for (int c = 0; c < 3; ++c) g[i][c] = float(x(Eigen::Index(i), c));
  }
  // Copies outside the photos take the mean levelled photo colour of their mesh vertex.
  for (std::size_t s = 0; s < n;) {
    std::size_t e = s + 1;
    while (e < n && source[order[e]] == source[order[s]]) ++e;
    double sum[3] = {0, 0, 0};
    int count = 0;
    for (std::size_t a = s; a < e; ++a)
      if (photo[order[a]]) {
        ++count;
        for (int c = 0; c < 3; ++c) sum[c] += double(colour[order[a]][c]) + double(g[order[a]][c]);
      }
    if (count > 0)
      for (std::size_t a = s; a < e; ++a)
        if (!photo[order[a]])
          for (int c = 0; c < 3; ++c)
            g[order[a]][c] = float(sum[c] / count - double(colour[order[a]][c]));
    s = e;
  }
  return g;
}

}  // namespace tervik::texture
