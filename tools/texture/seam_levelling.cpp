// Global seam levelling: one sparse least-squares system over the copies of the mesh vertices.
#include "tools/texture/seam_levelling.h"

#include <algorithm>
#include <cstdint>
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
  Eigen::MatrixXd rhs = Eigen::MatrixXd::Zero(static_cast<Eigen::Index>(n), 3);
  // The couplings (e_i - e_j)(e_i - e_j)^T, all of weight 1, as pairs i != j (a pair with i = j
  // adds nothing): the matrix is their graph's Laplacian plus 1e-3 on the diagonal, built
  // column by column (a sparse matrix of triplets would take five times the memory).
  std::vector<std::array<std::uint32_t, 2>> pairs;
  pairs.reserve(indices.size() + n);
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
        pairs.push_back({i, j});
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
        for (int k = 0; k < 3; ++k) pairs.push_back({indices[f + k], indices[f + (k + 1) % 3]});
    // Each vertex's coupled vertices, with repeats.
    std::vector<std::uint32_t> start(n + 1, 0), coupled;
    for (const auto& [i, j] : pairs)
      if (i != j) ++start[i + 1], ++start[j + 1];
    for (std::size_t i = 0; i < n; ++i) start[i + 1] += start[i];
    coupled.resize(start[n]);
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
    for (const auto& [i, j] : pairs)
      if (i != j) coupled[fill[i]++] = j, coupled[fill[j]++] = i;
    pairs = {};
    // Column c: minus the number of couplings at each coupled row, their total plus 1e-3 on the
    // diagonal (whole numbers summed first: exact), rows ascending.
    std::size_t nonzeros = n;
    for (std::size_t c = 0; c < n; ++c) {
      const auto from = coupled.begin() + start[c], to = coupled.begin() + start[c + 1];
      std::sort(from, to);
      for (auto it = from; it != to; ++it) nonzeros += it == from || *it != *(it - 1);
    }
    TERVIK_CHECK(nonzeros < std::size_t(1) << 31, "seam levelling: " << nonzeros << " couplings");
    const auto size = static_cast<Eigen::Index>(n);
    Eigen::SparseMatrix<double> A(size, size);
    A.resizeNonZeros(static_cast<Eigen::Index>(nonzeros));
    int* outer = A.outerIndexPtr();
    int* inner = A.innerIndexPtr();
    double* value = A.valuePtr();
    std::size_t at = 0;
    for (std::size_t c = 0; c < n; ++c) {
      outer[c] = int(at);
      const auto from = coupled.begin() + start[c], to = coupled.begin() + start[c + 1];
      bool diagonal = false;
      for (auto it = from; it != to || !diagonal;) {
        if (!diagonal && (it == to || *it > c)) {
          inner[at] = int(c);
          value[at++] = double(start[c + 1] - start[c]) + 1e-3;
          diagonal = true;
          continue;
        }
        const auto run = std::find_if(it, to, [&](std::uint32_t r) { return r != *it; });
        inner[at] = int(*it);
        value[at++] = -double(run - it);
        it = run;
      }
    }
    outer[n] = int(at);
    coupled = {};
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
