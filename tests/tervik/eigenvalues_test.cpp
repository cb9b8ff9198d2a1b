#include "tervik/eigenvalues.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tervik/exceptions.h"

namespace tervik::math::numeric {
namespace {

using Matrix = MultiArray<double, 2>;

// Textbook access: row r, column c of a library matrix (first index = column).
double tb(const Matrix& m, std::size_t r, std::size_t c) { return m[c][r]; }
void set_tb(Matrix& m, std::size_t r, std::size_t c, double v) { m[c][r] = v; }

Matrix random_symmetric(std::mt19937_64& rng, std::size_t n) {
  std::uniform_real_distribution<double> uni(-1.0, 1.0);
  Matrix a(n, n);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j <= i; ++j) a[i][j] = a[j][i] = uni(rng);
  }
  return a;
}

Matrix random_general(std::mt19937_64& rng, std::size_t n) {
  std::uniform_real_distribution<double> uni(-1.0, 1.0);
  Matrix a(n, n);
  for (std::size_t i = 0; i < n * n; ++i) a.data()[i] = uni(rng);
  return a;
}

// Checks A V = V D in textbook terms, where column k of V is eigenvector k (library row k) and
// D is getD(); this covers complex pairs, whose real and imaginary parts share a 2 x 2 block.
void expect_decomposes(const Matrix& a, const Eigenvalues<double>& eig, double tol) {
  const std::size_t n = a.shape()[0];
  const Matrix v = eig.eigenvectors();
  const Matrix d = eig.getD();
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t k = 0; k < n; ++k) {
      double av = 0.0, vd = 0.0;
      for (std::size_t j = 0; j < n; ++j) {
        av += tb(a, i, j) * v[k][j];
        vd += v[j][i] * tb(d, j, k);
      }
      EXPECT_NEAR(av, vd, tol) << "row " << i << ", eigenvector " << k;
    }
  }
}

void expect_orthonormal(const Matrix& v, double tol) {
  const std::size_t n = v.shape()[0];
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t b = 0; b < n; ++b) {
      double dotp = 0.0;
      for (std::size_t i = 0; i < n; ++i) dotp += v[a][i] * v[b][i];
      EXPECT_NEAR(dotp, a == b ? 1.0 : 0.0, tol) << "vectors " << a << ", " << b;
    }
  }
}

TEST(EigenvaluesSymmetric, DiagonalMatrixGivesSortedDiagonalAndUnitVectors) {
  const double diag[] = {3.0, -1.0, 2.0, 0.5, -7.25};
  Matrix a(5, 5);
  for (std::size_t i = 0; i < 5; ++i) a[i][i] = diag[i];
  const Eigenvalues<double> eig(a);
  EXPECT_TRUE(eig.is_symmetric());
  const MultiArray<double, 1> d = eig.real_eigenvalues();
  const std::vector<double> expected = {-7.25, -1.0, 0.5, 2.0, 3.0};
  const std::size_t index_of[] = {4, 1, 3, 2, 0};  // where each sorted value sits in diag
  const Matrix v = eig.eigenvectors();
  for (std::size_t k = 0; k < 5; ++k) {
    EXPECT_EQ(d[k], expected[k]);
    EXPECT_EQ(eig.imag_eigenvalues()[k], 0.0);
    for (std::size_t i = 0; i < 5; ++i) {
      EXPECT_EQ(std::abs(v[k][i]), i == index_of[k] ? 1.0 : 0.0) << k << ", " << i;
    }
  }
}

TEST(EigenvaluesSymmetric, KnownSpectrumComesOutAscendingWithOrthonormalVectors) {
  // A = Q diag(3, 1, 2) Q^T for a rotation Q, made exactly symmetric.
  const double c = std::cos(0.7), s = std::sin(0.7), c2 = std::cos(-1.1), s2 = std::sin(-1.1);
  const double q[3][3] = {{c, -s * c2, s * s2}, {s, c * c2, -c * s2}, {0, s2, c2}};
  const double lambda[3] = {3.0, 1.0, 2.0};
  Matrix a(3, 3);
  for (int r = 0; r < 3; ++r) {
    for (int col = 0; col <= r; ++col) {
      double sum = 0.0;
      for (int k = 0; k < 3; ++k) sum += q[r][k] * lambda[k] * q[col][k];
      a[r][col] = a[col][r] = sum;
    }
  }
  const Eigenvalues<double> eig(a);
  ASSERT_TRUE(eig.is_symmetric());
  const MultiArray<double, 1> d = eig.real_eigenvalues();
  EXPECT_NEAR(d[0], 1.0, 1e-14);
  EXPECT_NEAR(d[1], 2.0, 1e-14);
  EXPECT_NEAR(d[2], 3.0, 1e-14);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(eig.imag_eigenvalues()[k], 0.0);
  expect_orthonormal(eig.eigenvectors(), 1e-14);
  // Eigenvector k is +-column of Q belonging to eigenvalue k + 1.
  const int column_of[3] = {1, 2, 0};
  const Matrix v = eig.eigenvectors();
  for (int k = 0; k < 3; ++k) {
    double dotp = 0.0;
    for (int i = 0; i < 3; ++i) dotp += v[k][i] * q[i][column_of[k]];
    EXPECT_NEAR(std::abs(dotp), 1.0, 1e-14);
  }
}

TEST(EigenvaluesSymmetric, RandomMatricesSatisfyTheEigenEquation) {
  std::mt19937_64 rng(2024);
  for (std::size_t n = 1; n <= 8; ++n) {
    for (int trial = 0; trial < 40; ++trial) {
      const Matrix a = random_symmetric(rng, n);
      const Eigenvalues<double> eig(a);
      ASSERT_TRUE(eig.is_symmetric());
      const MultiArray<double, 1> d = eig.real_eigenvalues();
      double trace = 0.0, sum = 0.0;
      for (std::size_t i = 0; i < n; ++i) {
        trace += a[i][i];
        sum += d[i];
        if (i > 0) {
          EXPECT_LE(d[i - 1], d[i]);
        }
        EXPECT_EQ(eig.imag_eigenvalues()[i], 0.0);
      }
      EXPECT_NEAR(trace, sum, 1e-12);
      expect_orthonormal(eig.eigenvectors(), 1e-13);
      expect_decomposes(a, eig, 1e-13);
    }
  }
}

// Two decompositions at a time give, bit for bit, what calculate() gives for each: on scatter
// matrices of flattened and stretched point sets, and on the degenerate ones (zero, diagonal with
// equal entries, rank one, a row and column of zeros) where the iteration takes its rare turns.
TEST(EigenvaluesSymmetric, PairsGiveTheBitsOfOneAtATime) {
  std::mt19937_64 rng(77);
  std::normal_distribution<double> gauss(0.0, 1.0);
  std::vector<std::array<double, 9>> mats;
  for (int m = 0; m < 3000; ++m) {
    std::array<double, 9> a{};
    const int points = 3 + m % 30;
    const double squash = m % 3 == 0 ? 1e-3 : (m % 3 == 1 ? 0.05 : 1.0);
    for (int p = 0; p < points; ++p) {
      const double v[3] = {gauss(rng), (m % 7 == 0 ? 1e-7 : 1.0) * gauss(rng), squash * gauss(rng)};
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) a[3 * i + j] += v[i] * v[j];
    }
    mats.push_back(a);
  }
  mats.push_back({});
  mats.push_back({2, 0, 0, 0, 2, 0, 0, 0, 2});
  mats.push_back({1, 0, 0, 0, 3, 0, 0, 0, 1});
  mats.push_back({4, 2, 6, 2, 1, 3, 6, 3, 9});  // rank one: (2, 1, 3) (2, 1, 3)^T
  mats.push_back({0, 0, 0, 0, 5, 1, 0, 1, 2});
  if (mats.size() % 2 == 1) mats.push_back(mats.front());
  Eigenvalues<double> eig(Matrix(3, 3));
  Matrix a(3, 3);
  const auto same_bits = [](const double* x, const double* y, int n) {
    for (int i = 0; i < n; ++i)
      if (std::bit_cast<std::uint64_t>(x[i]) != std::bit_cast<std::uint64_t>(y[i])) return false;
    return true;
  };
  for (std::size_t k = 0; k < mats.size(); k += 2) {
    Symmetric3Eigen x, y;
    double m0[9], m1[9];
    std::copy_n(mats[k].data(), 9, m0);
    std::copy_n(mats[k + 1].data(), 9, m1);
    symmetric3_eigen_pair(m0, m1, x, y);
    for (const auto& [mat, got] : {std::pair{&mats[k], &x}, std::pair{&mats[k + 1], &y}}) {
      std::copy_n(mat->data(), 9, a.data());
      eig.calculate(a);
      ASSERT_TRUE(same_bits(eig.real_eigenvalues().data(), got->values, 3)) << "matrix " << k;
      ASSERT_TRUE(same_bits(eig.eigenvector_matrix().data(), got->vectors, 9)) << "matrix " << k;
    }
  }
  // The eigenvector memory order: component i of eigenvector k at 3 i + k.
  const double diag[9] = {3, 0, 0, 0, 1, 0, 0, 0, 2};
  Symmetric3Eigen x, y;
  symmetric3_eigen_pair(diag, diag, x, y);
  EXPECT_EQ(x.values[0], 1.0);
  EXPECT_EQ(std::abs(x.vectors[3 * 1 + 0]), 1.0);  // eigenvector 0 is the y axis
}

TEST(EigenvaluesGeneral, NonSymmetricMatricesTakeTheGeneralPath) {
  // Upper triangular: eigenvalues are the diagonal.
  Matrix a(3, 3);
  const double rows[3][3] = {{1, 2, 3}, {0, 4, 5}, {0, 0, 6}};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) set_tb(a, r, c, rows[r][c]);
  }
  const Eigenvalues<double> eig(a);
  EXPECT_FALSE(eig.is_symmetric());
  std::vector<double> d;
  for (int i = 0; i < 3; ++i) {
    d.push_back(eig.real_eigenvalues()[i]);
    EXPECT_EQ(eig.imag_eigenvalues()[i], 0.0);
  }
  std::sort(d.begin(), d.end());
  EXPECT_NEAR(d[0], 1.0, 1e-13);
  EXPECT_NEAR(d[1], 4.0, 1e-13);
  EXPECT_NEAR(d[2], 6.0, 1e-13);
  expect_decomposes(a, eig, 1e-12);

  // A symmetric matrix with one off-diagonal element moved by one unit in the last place.
  std::mt19937_64 rng(99);
  const Matrix s = random_symmetric(rng, 4);
  Matrix t = s;
  t[1][2] = std::nextafter(t[1][2], 10.0);
  const Eigenvalues<double> sym(s), gen(t);
  EXPECT_TRUE(sym.is_symmetric());
  EXPECT_FALSE(gen.is_symmetric());
  std::vector<double> ds, dg;
  for (int i = 0; i < 4; ++i) {
    ds.push_back(sym.real_eigenvalues()[i]);
    dg.push_back(gen.real_eigenvalues()[i]);
    EXPECT_NEAR(gen.imag_eigenvalues()[i], 0.0, 1e-7);
  }
  std::sort(dg.begin(), dg.end());
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(ds[i], dg[i], 1e-12);
  expect_decomposes(t, gen, 1e-12);
}

TEST(EigenvaluesGeneral, RotationByNinetyDegreesGivesPlusMinusI) {
  Matrix a(2, 2);
  set_tb(a, 0, 1, -1.0);
  set_tb(a, 1, 0, 1.0);
  const Eigenvalues<double> eig(a);
  EXPECT_FALSE(eig.is_symmetric());
  const MultiArray<double, 1> re = eig.real_eigenvalues(), im = eig.imag_eigenvalues();
  EXPECT_EQ(re[0], 0.0);
  EXPECT_EQ(re[1], 0.0);
  EXPECT_EQ(std::abs(im[0]), 1.0);
  EXPECT_EQ(im[1], -im[0]);
  // The pair's 2 x 2 block in D.
  const Matrix d = eig.getD();
  const std::size_t pos = im[0] > 0 ? 0 : 1;
  EXPECT_EQ(d[pos + 1][pos], im[pos]);
  EXPECT_EQ(d[pos][pos + 1], im[pos + 1]);
  // A (vr + i vi) = i (vr + i vi) for the eigenvector of +i: A vr = -vi and A vi = vr.
  const Matrix v = eig.eigenvectors();
  for (std::size_t r = 0; r < 2; ++r) {
    const double a_vr = tb(a, r, 0) * v[pos][0] + tb(a, r, 1) * v[pos][1];
    const double a_vi = tb(a, r, 0) * v[pos + 1][0] + tb(a, r, 1) * v[pos + 1][1];
    EXPECT_NEAR(a_vr, -im[pos] * v[pos + 1][r], 1e-15);
    EXPECT_NEAR(a_vi, im[pos] * v[pos][r], 1e-15);
  }
  EXPECT_GT(std::abs(v[pos][0]) + std::abs(v[pos][1]), 0.5);
  expect_decomposes(a, eig, 1e-15);
}

TEST(EigenvaluesGeneral, RandomMatricesSatisfyTheEigenEquation) {
  std::mt19937_64 rng(31337);
  int complex_pairs = 0;
  for (std::size_t n = 1; n <= 7; ++n) {
    for (int trial = 0; trial < 40; ++trial) {
      const Matrix a = random_general(rng, n);
      const Eigenvalues<double> eig(a);
      const MultiArray<double, 1> d = eig.real_eigenvalues(), e = eig.imag_eigenvalues();
      double trace = 0.0, sum = 0.0;
      for (std::size_t i = 0; i < n; ++i) {
        trace += a[i][i];
        sum += d[i];
        if (e[i] > 0) {
          ++complex_pairs;
          ASSERT_LT(i + 1, n);
          EXPECT_EQ(e[i + 1], -e[i]);
          EXPECT_EQ(d[i + 1], d[i]);
        }
      }
      EXPECT_NEAR(trace, sum, 1e-12);
      expect_decomposes(a, eig, 1e-10);
    }
  }
  EXPECT_GT(complex_pairs, 50);  // the sample does exercise the complex back-substitution
}

TEST(Eigenvalues, CalculateReusesTheObjectAcrossSizes) {
  std::mt19937_64 rng(5);
  const Matrix a = random_general(rng, 5), b = random_symmetric(rng, 3);
  Eigenvalues<double> eig(a);
  eig.calculate(b);
  const Eigenvalues<double> fresh(b);
  auto bits = [](const auto& arr) {
    std::vector<std::uint64_t> out;
    for (std::size_t i = 0; i < arr.num_elements(); ++i) {
      out.push_back(std::bit_cast<std::uint64_t>(arr.data()[i]));
    }
    return out;
  };
  EXPECT_EQ(bits(eig.real_eigenvalues()), bits(fresh.real_eigenvalues()));
  EXPECT_EQ(bits(eig.imag_eigenvalues()), bits(fresh.imag_eigenvalues()));
  EXPECT_EQ(bits(eig.eigenvectors()), bits(fresh.eigenvectors()));
  EXPECT_EQ(eig.getD().shape()[0], 3u);
  eig.calculate(Matrix(0, 0));
  EXPECT_EQ(eig.real_eigenvalues().num_elements(), 0u);
}

TEST(Eigenvalues, BadInputFailsWithAMessage) {
  try {
    Eigenvalues<double> eig(Matrix(3, 2));
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_STREQ(e.what(), "Eigenvalues: the matrix must be square, got 3 x 2");
  }
  // NaN makes a matrix unequal to its transpose, and the QR iteration never deflates it.
  std::mt19937_64 rng(1);
  for (const double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
    Matrix a = random_general(rng, 3);
    a[0][1] = bad;
    try {
      Eigenvalues<double> eig(a);
      // Infinite input may come out as non-finite values instead; it must not hang.
      if (std::isnan(bad)) ADD_FAILURE() << "no exception for NaN input";
    } catch (const TervikError& e) {
      EXPECT_STREQ(e.what(),
                   "Eigenvalues: the QR iteration did not converge within 300 iterations "
                   "(does the matrix hold NaN or infinite values?)");
    }
  }
}

}  // namespace
}  // namespace tervik::math::numeric
