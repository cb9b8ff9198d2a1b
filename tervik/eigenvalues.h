#pragma once
// Eigenvalues and eigenvectors of a real square matrix.
//
// Index convention: a matrix is a MultiArray<double,2> addressed (first, second); A(i, j) stands
// where a textbook writes row j, column i, so the memory holds the textbook matrix row after
// row. In the eigenvector matrix the first index selects the eigenvector: (k, 0), ..., (k, n-1)
// are the components of the eigenvector of eigenvalue k.
#include <cstdint>

#include "tervik/multiarray.h"

namespace tervik::math::numeric {

// Eigen-decomposition of a real n x n matrix A. A matrix equal to its transpose (exact floating-
// point equality) is reduced by Householder tridiagonalisation and the implicit QL algorithm:
// real eigenvalues in ascending order with orthonormal eigenvectors. Any other matrix is reduced
// to Hessenberg form and real Schur form by the shifted QR algorithm: eigenvalues in the order
// found, a complex pair in two consecutive places with the real and imaginary parts of its
// eigenvector in the two corresponding eigenvector slots. Instantiated for double.
template <typename T>
class Eigenvalues {
 public:
  // Decomposes A at once. Throws TervikError when A is not square, or when the iteration does
  // not converge (which happens for matrices holding NaN or infinite values).
  explicit Eigenvalues(const MultiArray<T, 2>& A);

  // Decomposes A again, reusing the members (resized when A's size differs); throws as above.
  void calculate(const MultiArray<T, 2>& A);

  // Real parts of the eigenvalues, n elements.
  MultiArray<T, 1> real_eigenvalues() const { return d_; }
  // Imaginary parts of the eigenvalues, n elements (all 0 for symmetric input).
  MultiArray<T, 1> imag_eigenvalues() const { return e_; }
  // The eigenvectors, n x n; (k, i) is component i of eigenvector k.
  MultiArray<T, 2> eigenvectors() const { return V_; }
  // The same matrix without a copy; valid until the next calculate().
  const MultiArray<T, 2>& eigenvector_matrix() const { return V_; }
  // The block-diagonal eigenvalue matrix, n x n: (i, i) = d[i]; (i + 1, i) = e[i] where e[i] > 0
  // and (i - 1, i) = e[i] where e[i] < 0; zero elsewhere. A V^T = V^T D in textbook terms.
  MultiArray<T, 2> getD() const;
  // Whether the last decomposed matrix equalled its transpose exactly (the symmetric path).
  bool is_symmetric() const { return issymmetric_; }

 private:
  void _resize(std::uint64_t n);
  void _tred2();
  void _tql2();
  void _orthes();
  void _hqr2();
  // (xr + i xi) / (yr + i yi) into cdivr_, cdivi_, by Smith's scaled division.
  void _cdiv(T xr, T xi, T yr, T yi);

  T cdivr_ = 0;
  T cdivi_ = 0;
  std::uint64_t n_ = 0;
  bool issymmetric_ = true;
  MultiArray<T, 1> d_;
  MultiArray<T, 1> e_;
  MultiArray<T, 2> V_;
  MultiArray<T, 2> H_;    // Hessenberg work matrix, sized on the first general input
  MultiArray<T, 1> ort_;  // work vector of the Hessenberg reduction, likewise
};

extern template class Eigenvalues<double>;

// The decomposition of a symmetric 3 x 3 matrix: the eigenvalues ascending and the eigenvectors
// in the memory order of eigenvector_matrix(), vectors[3 i + k] being component i of
// eigenvector k.
struct Symmetric3Eigen {
  double values[3];
  double vectors[9];
};

// Eigenvalues::calculate for two 3 x 3 matrices a and b (9 entries each, in the memory order of
// a MultiArray, each exactly equal to its transpose), bit for bit, into x and y. The two iterations run in turn, a
// rotation at a time, so that the processor overlaps their chains of square roots and divisions:
// about 1.4 times the throughput of one at a time. Throws as calculate() does when an iteration
// does not converge.
void symmetric3_eigen_pair(const double (&a)[9], const double (&b)[9], Symmetric3Eigen& x,
                           Symmetric3Eigen& y);

}  // namespace tervik::math::numeric
