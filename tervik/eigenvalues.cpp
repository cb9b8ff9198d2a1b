// Eigen-decomposition after the EISPACK procedures of Wilkinson and Reinsch: tred2/tql2 for
// symmetric matrices, orthes/hqr2 (with cdiv) otherwise. All work arrays are accessed in
// textbook (row, column) order through Mat, which maps onto the members' memory row after row.
#include "tervik/eigenvalues.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "tervik/exceptions.h"

namespace tervik::math::numeric {
namespace {

// Machine epsilon 2^-52, the convergence threshold of tql2 and hqr2.
constexpr double kEps = std::numeric_limits<double>::epsilon();

// An n x n view in textbook (row, column) order over a MultiArray's buffer.
struct Mat {
  double* a;
  int n;
  double& operator()(int row, int col) const { return a[row * n + col]; }
};

// Iterations allowed for one eigenvalue (or pair) before the decomposition gives up. Both
// algorithms converge in a handful of steps for finite input; the bound stops them on NaN or
// infinite input, where they would otherwise loop for ever. It lies far above the exceptional
// shifts of hqr2 (after 10 and 30 iterations).
int iteration_limit(int n) { return 30 * std::max(n, 10); }

[[noreturn]] void no_convergence(const char* step, int limit) {
  throw TervikError(std::string("Eigenvalues: ") + step + " did not converge within " +
                    std::to_string(limit) +
                    " iterations (does the matrix hold NaN or infinite values?)");
}


// Householder reduction of the symmetric n x n matrix in V to tridiagonal form: d receives the
// diagonal, e the sub-diagonal (e[0] = 0), V the accumulated orthogonal transformation. N > 0
// fixes n at compile time (n must equal it); N = 0 takes n as given.
template <int N>
void tred2(double* v, double* d, double* e, int n_given) {
  const int n = N > 0 ? N : n_given;
  const Mat V{v, n};

  for (int j = 0; j < n; j++) d[j] = V(n - 1, j);

  for (int i = n - 1; i > 0; i--) {
    // Scale to avoid under/overflow.
    double scale = 0.0;
    double h = 0.0;
    for (int k = 0; k < i; k++) scale = scale + std::abs(d[k]);
    if (scale == 0.0) {
      e[i] = d[i - 1];
      for (int j = 0; j < i; j++) {
        d[j] = V(i - 1, j);
        V(i, j) = 0.0;
        V(j, i) = 0.0;
      }
    } else {
      // Generate the Householder vector.
      for (int k = 0; k < i; k++) {
        d[k] /= scale;
        h += d[k] * d[k];
      }
      double f = d[i - 1];
      double g = std::sqrt(h);
      if (f > 0) g = -g;
      e[i] = scale * g;
      h = h - f * g;
      d[i - 1] = f - g;
      for (int j = 0; j < i; j++) e[j] = 0.0;

      // Apply the similarity transformation to the remaining columns.
      for (int j = 0; j < i; j++) {
        f = d[j];
        V(j, i) = f;
        g = e[j] + V(j, j) * f;
        for (int k = j + 1; k <= i - 1; k++) {
          g += V(k, j) * d[k];
          e[k] += V(k, j) * f;
        }
        e[j] = g;
      }
      f = 0.0;
      for (int j = 0; j < i; j++) {
        e[j] /= h;
        f += e[j] * d[j];
      }
      const double hh = f / (h + h);
      for (int j = 0; j < i; j++) e[j] -= hh * d[j];
      for (int j = 0; j < i; j++) {
        f = d[j];
        g = e[j];
        for (int k = j; k <= i - 1; k++) V(k, j) -= (f * e[k] + g * d[k]);
        d[j] = V(i - 1, j);
        V(i, j) = 0.0;
      }
    }
    d[i] = h;
  }

  // Accumulate the transformations.
  for (int i = 0; i < n - 1; i++) {
    V(n - 1, i) = V(i, i);
    V(i, i) = 1.0;
    const double h = d[i + 1];
    if (h != 0.0) {
      for (int k = 0; k <= i; k++) d[k] = V(k, i + 1) / h;
      for (int j = 0; j <= i; j++) {
        double g = 0.0;
        for (int k = 0; k <= i; k++) g += V(k, i + 1) * V(k, j);
        for (int k = 0; k <= i; k++) V(k, j) -= g * d[k];
      }
    }
    for (int k = 0; k <= i; k++) V(k, i + 1) = 0.0;
  }
  for (int j = 0; j < n; j++) {
    d[j] = V(n - 1, j);
    V(n - 1, j) = 0.0;
  }
  V(n - 1, n - 1) = 1.0;
  e[0] = 0.0;
}

// Implicit QL iteration on the tridiagonal (d, e) with accumulation into V, taken one square
// root of a sum of squares at a time: step() runs the iteration up to and including its next
// shift or rotation (each begins with a hypot, whose result the rest of it waits for) and
// returns false once the eigenvalues are final. The chain of dependent square roots and
// divisions is what a decomposition waits for; two iterations stepped in turn overlap their
// chains (symmetric3_eigen_pair). N as for tred2.
template <int N>
class QlIteration {
 public:
  QlIteration(double* v, double* d, double* e, int n_given)
      : V_{v, N > 0 ? N : n_given}, d_(d), e_(e), n_(N > 0 ? N : n_given),
        limit_(iteration_limit(n_)) {
    for (int i = 1; i < n_; i++) e_[i - 1] = e_[i];
    e_[n_ - 1] = 0.0;
  }

  [[gnu::always_inline]] bool step() {
    double* const d = d_;
    double* const e = e_;
    for (;;) {
      switch (phase_) {
        case Phase::kFind: {
          if (l_ == n_) {
            phase_ = Phase::kDone;
            return false;
          }
          tst1_ = std::max(tst1_, std::abs(d[l_]) + std::abs(e[l_]));
          m_ = l_;
          while (m_ < n_ - 1 && !(std::abs(e[m_]) <= kEps * tst1_)) m_++;
          if (m_ > l_) {
            iter_ = 0;
            phase_ = Phase::kShift;
          } else {
            finish_eigenvalue();
          }
          break;
        }
        case Phase::kShift: {
          if (++iter_ > limit_) no_convergence("the QL iteration", limit_);
          const int l = l_;
          g_ = d[l];
          p_ = (d[l + 1] - g_) / (2.0 * e[l]);
          r_ = std::hypot(p_, 1.0);
          if (p_ < 0) r_ = -r_;
          d[l] = e[l] / (p_ + r_);
          d[l + 1] = e[l] * (p_ + r_);
          dl1_ = d[l + 1];
          h_ = g_ - d[l];
          for (int i = l + 2; i < n_; i++) d[i] -= h_;
          f_ = f_ + h_;
          p_ = d[m_];
          c_ = 1.0;
          c2_ = c_;
          c3_ = c_;
          el1_ = e[l + 1];
          s_ = 0.0;
          s2_ = 0.0;
          i_ = m_ - 1;
          phase_ = Phase::kRotate;
          return true;
        }
        case Phase::kRotate: {
          const int i = i_;
          c3_ = c2_;
          c2_ = c_;
          s2_ = s_;
          g_ = c_ * e[i];
          h_ = c_ * p_;
          r_ = std::hypot(p_, e[i]);
          e[i + 1] = s_ * r_;
          s_ = e[i] / r_;
          c_ = p_ / r_;
          p_ = c_ * d[i] - s_ * g_;
          d[i + 1] = h_ + s_ * (c_ * g_ + s_ * d[i]);
          for (int k = 0; k < n_; k++) {
            h_ = V_(k, i + 1);
            V_(k, i + 1) = s_ * V_(k, i) + c_ * h_;
            V_(k, i) = c_ * V_(k, i) - s_ * h_;
          }
          if (--i_ < l_) phase_ = Phase::kEndSweep;
          return true;
        }
        case Phase::kEndSweep: {
          const int l = l_;
          p_ = -s_ * s2_ * c3_ * el1_ * e[l] / dl1_;
          e[l] = s_ * p_;
          d[l] = c_ * p_;
          if (std::abs(e[l]) > kEps * tst1_) {
            phase_ = Phase::kShift;
          } else {
            finish_eigenvalue();
          }
          break;
        }
        case Phase::kDone:
          return false;
      }
    }
  }

 private:
  enum class Phase { kFind, kShift, kRotate, kEndSweep, kDone };

  void finish_eigenvalue() {
    d_[l_] = d_[l_] + f_;
    e_[l_] = 0.0;
    ++l_;
    phase_ = Phase::kFind;
  }

  Mat V_;
  double* d_;
  double* e_;
  int n_;
  int limit_;
  Phase phase_ = Phase::kFind;
  int l_ = 0, m_ = 0, i_ = 0, iter_ = 0;
  double f_ = 0.0, tst1_ = 0.0;
  double p_ = 0.0, g_ = 0.0, h_ = 0.0, r_ = 0.0, c_ = 0.0, c2_ = 0.0, c3_ = 0.0, s_ = 0.0,
         s2_ = 0.0, el1_ = 0.0, dl1_ = 0.0;
};

// Sorts the eigenvalues d ascending, with their vectors in V; ties keep the first.
template <int N>
void sort_eigenvalues(double* v, double* d, int n_given) {
  const int n = N > 0 ? N : n_given;
  const Mat V{v, n};
  for (int i = 0; i < n - 1; i++) {
    int k = i;
    double p = d[i];
    for (int j = i + 1; j < n; j++) {
      if (d[j] < p) {
        k = j;
        p = d[j];
      }
    }
    if (k != i) {
      d[k] = d[i];
      d[i] = p;
      for (int j = 0; j < n; j++) std::swap(V(j, i), V(j, k));
    }
  }
}

// The QL iteration on (d, e) with accumulation into V, then the sort.
template <int N>
void tql2(double* v, double* d, double* e, int n_given) {
  QlIteration<N> ql(v, d, e, n_given);
  while (ql.step()) {
  }
  sort_eigenvalues<N>(v, d, n_given);
}

}  // namespace

void symmetric3_eigen_pair(const double (&a)[9], const double (&b)[9], Symmetric3Eigen& x,
                           Symmetric3Eigen& y) {
  // Local copies and iterations, so that the compiler keeps their state out of memory it
  // cannot see through.
  double va[9], vb[9], da[3] = {0.0, 0.0, 0.0}, db[3] = {0.0, 0.0, 0.0};
  double ea[3] = {0.0, 0.0, 0.0}, eb[3] = {0.0, 0.0, 0.0};
  std::copy_n(a, 9, va);
  std::copy_n(b, 9, vb);
  tred2<3>(va, da, ea, 3);
  tred2<3>(vb, db, eb, 3);
  QlIteration<3> qa(va, da, ea, 3), qb(vb, db, eb, 3);
  bool ra = true, rb = true;
  while (ra && rb) {
    ra = qa.step();
    rb = qb.step();
  }
  while (ra) ra = qa.step();
  while (rb) rb = qb.step();
  sort_eigenvalues<3>(va, da, 3);
  sort_eigenvalues<3>(vb, db, 3);
  std::copy_n(va, 9, x.vectors);
  std::copy_n(da, 3, x.values);
  std::copy_n(vb, 9, y.vectors);
  std::copy_n(db, 3, y.values);
}

template <typename T>
Eigenvalues<T>::Eigenvalues(const MultiArray<T, 2>& A) {
  calculate(A);
}

template <typename T>
void Eigenvalues<T>::_resize(std::uint64_t n) {
  n_ = n;
  d_.resize(boost::extents[n]);
  e_.resize(boost::extents[n]);
  V_.resize(boost::extents[n][n]);
}

template <typename T>
void Eigenvalues<T>::calculate(const MultiArray<T, 2>& A) {
  const std::uint64_t n = A.shape()[0];
  if (A.shape()[1] != n) {
    throw TervikError("Eigenvalues: the matrix must be square, got " + std::to_string(n) + " x " +
                      std::to_string(A.shape()[1]));
  }
  if (n > static_cast<std::uint64_t>(std::numeric_limits<int>::max() / 2)) {
    throw TervikError("Eigenvalues: matrix too large (" + std::to_string(n) + ")");
  }
  if (n != n_ || d_.num_elements() != n || V_.num_elements() != n * n) _resize(n);
  std::fill_n(d_.data(), n, 0.0);
  std::fill_n(e_.data(), n, 0.0);

  issymmetric_ = true;
  for (std::uint64_t j = 0; j < n && issymmetric_; ++j) {
    for (std::uint64_t i = 0; i < n && issymmetric_; ++i) issymmetric_ = A[i][j] == A[j][i];
  }
  if (n == 0) return;

  if (issymmetric_) {
    std::copy_n(A.data(), n * n, V_.data());
    _tred2();
    _tql2();
  } else {
    // The Hessenberg work space is only needed here; symmetric input never allocates it.
    if (H_.num_elements() != n * n) {
      H_.resize(boost::extents[n][n]);
      ort_.resize(boost::extents[n]);
    }
    std::fill_n(ort_.data(), n, 0.0);
    std::copy_n(A.data(), n * n, H_.data());
    _orthes();
    _hqr2();
  }
}

template <typename T>
MultiArray<T, 2> Eigenvalues<T>::getD() const {
  MultiArray<T, 2> D(n_, n_);
  for (std::uint64_t i = 0; i < n_; ++i) {
    D[i][i] = d_[i];
    if (e_[i] > 0 && i + 1 < n_) {
      D[i + 1][i] = e_[i];
    } else if (e_[i] < 0 && i > 0) {
      D[i - 1][i] = e_[i];
    }
  }
  return D;
}

template <typename T>
void Eigenvalues<T>::_cdiv(T xr, T xi, T yr, T yi) {
  T r, d;
  if (std::abs(yr) > std::abs(yi)) {
    r = yi / yr;
    d = yr + r * yi;
    cdivr_ = (xr + r * xi) / d;
    cdivi_ = (xi - r * xr) / d;
  } else {
    r = yr / yi;
    d = yi + r * yr;
    cdivr_ = (r * xr + xi) / d;
    cdivi_ = (r * xi - xr) / d;
  }
}

// Householder reduction of the symmetric matrix in V to tridiagonal form: d receives the
// diagonal, e the sub-diagonal (e[0] = 0), V the accumulated orthogonal transformation.
template <typename T>
void Eigenvalues<T>::_tred2() {
  // The 3 x 3 scatter matrices of the normal estimation take the path with a fixed size (the
  // same operations in the same order, unrolled by the compiler).
  if (n_ == 3) {
    tred2<3>(V_.data(), d_.data(), e_.data(), 3);
  } else {
    tred2<0>(V_.data(), d_.data(), e_.data(), static_cast<int>(n_));
  }
}

// Implicit QL iteration on the tridiagonal (d, e) with accumulation into V, then the ascending
// sort of the eigenvalues with their eigenvectors.
template <typename T>
void Eigenvalues<T>::_tql2() {
  if (n_ == 3) {
    tql2<3>(V_.data(), d_.data(), e_.data(), 3);
  } else {
    tql2<0>(V_.data(), d_.data(), e_.data(), static_cast<int>(n_));
  }
}

// Reduction of the general matrix in H to upper Hessenberg form by orthogonal similarity
// transformations; V receives the accumulated transformation, ort is work space.
template <typename T>
void Eigenvalues<T>::_orthes() {
  const int n = static_cast<int>(n_);
  const Mat H{H_.data(), n};
  const Mat V{V_.data(), n};
  double* ort = ort_.data();
  const int low = 0;
  const int high = n - 1;

  for (int m = low + 1; m <= high - 1; m++) {
    // Scale the column.
    double scale = 0.0;
    for (int i = m; i <= high; i++) scale = scale + std::abs(H(i, m - 1));
    if (scale != 0.0) {
      // Compute the Householder transformation.
      double h = 0.0;
      for (int i = high; i >= m; i--) {
        ort[i] = H(i, m - 1) / scale;
        h += ort[i] * ort[i];
      }
      double g = std::sqrt(h);
      if (ort[m] > 0) g = -g;
      h = h - ort[m] * g;
      ort[m] = ort[m] - g;

      // Apply the Householder similarity transformation H = (I - u u'/h) H (I - u u'/h).
      for (int j = m; j < n; j++) {
        double f = 0.0;
        for (int i = high; i >= m; i--) f += ort[i] * H(i, j);
        f = f / h;
        for (int i = m; i <= high; i++) H(i, j) -= f * ort[i];
      }
      for (int i = 0; i <= high; i++) {
        double f = 0.0;
        for (int j = high; j >= m; j--) f += ort[j] * H(i, j);
        f = f / h;
        for (int j = m; j <= high; j++) H(i, j) -= f * ort[j];
      }
      ort[m] = scale * ort[m];
      H(m, m - 1) = scale * g;
    }
  }

  // Accumulate the transformations, starting from the identity.
  for (int i = 0; i < n; i++) {
    for (int j = 0; j < n; j++) V(i, j) = (i == j ? 1.0 : 0.0);
  }
  for (int m = high - 1; m >= low + 1; m--) {
    if (H(m, m - 1) != 0.0) {
      for (int i = m + 1; i <= high; i++) ort[i] = H(i, m - 1);
      for (int j = m; j <= high; j++) {
        double g = 0.0;
        for (int i = m; i <= high; i++) g += ort[i] * V(i, j);
        // Double division avoids possible underflow.
        g = (g / ort[m]) / H(m, m - 1);
        for (int i = m; i <= high; i++) V(i, j) += g * ort[i];
      }
    }
  }
}

// Shifted QR iteration of the Hessenberg matrix H to real Schur form, then back-substitution
// for the eigenvectors, which are transformed back with V.
template <typename T>
void Eigenvalues<T>::_hqr2() {
  const int nn = static_cast<int>(n_);
  const Mat H{H_.data(), nn};
  const Mat V{V_.data(), nn};
  double* d = d_.data();
  double* e = e_.data();
  const int limit = iteration_limit(nn);

  int n = nn - 1;
  const int low = 0;
  const int high = nn - 1;
  double exshift = 0.0;
  double p = 0, q = 0, r = 0, s = 0, z = 0, t, w, x, y;

  // Matrix norm (no balancing, so no isolated roots).
  double norm = 0.0;
  for (int i = 0; i < nn; i++) {
    for (int j = std::max(i - 1, 0); j < nn; j++) norm = norm + std::abs(H(i, j));
  }

  // Outer loop over the eigenvalue index.
  int iter = 0;
  while (n >= low) {
    // Look for a single small sub-diagonal element.
    int l = n;
    while (l > low) {
      s = std::abs(H(l - 1, l - 1)) + std::abs(H(l, l));
      if (s == 0.0) s = norm;
      if (std::abs(H(l, l - 1)) < kEps * s) break;
      l--;
    }

    if (l == n) {
      // One root found.
      H(n, n) = H(n, n) + exshift;
      d[n] = H(n, n);
      e[n] = 0.0;
      n--;
      iter = 0;
    } else if (l == n - 1) {
      // Two roots found.
      w = H(n, n - 1) * H(n - 1, n);
      p = (H(n - 1, n - 1) - H(n, n)) / 2.0;
      q = p * p + w;
      z = std::sqrt(std::abs(q));
      H(n, n) = H(n, n) + exshift;
      H(n - 1, n - 1) = H(n - 1, n - 1) + exshift;
      x = H(n, n);

      if (q >= 0) {
        // Real pair.
        z = p >= 0 ? p + z : p - z;
        d[n - 1] = x + z;
        d[n] = d[n - 1];
        if (z != 0.0) d[n] = x - w / z;
        e[n - 1] = 0.0;
        e[n] = 0.0;
        x = H(n, n - 1);
        s = std::abs(x) + std::abs(z);
        p = x / s;
        q = z / s;
        r = std::sqrt(p * p + q * q);
        p = p / r;
        q = q / r;
        // Row modification.
        for (int j = n - 1; j < nn; j++) {
          z = H(n - 1, j);
          H(n - 1, j) = q * z + p * H(n, j);
          H(n, j) = q * H(n, j) - p * z;
        }
        // Column modification.
        for (int i = 0; i <= n; i++) {
          z = H(i, n - 1);
          H(i, n - 1) = q * z + p * H(i, n);
          H(i, n) = q * H(i, n) - p * z;
        }
        // Accumulate the transformations.
        for (int i = low; i <= high; i++) {
          z = V(i, n - 1);
          V(i, n - 1) = q * z + p * V(i, n);
          V(i, n) = q * V(i, n) - p * z;
        }
      } else {
        // Complex pair.
        d[n - 1] = x + p;
        d[n] = x + p;
        e[n - 1] = z;
        e[n] = -z;
      }
      n = n - 2;
      iter = 0;
    } else {
      // No convergence yet.
      if (iter >= limit) no_convergence("the QR iteration", limit);

      // Form the shift.
      x = H(n, n);
      y = 0.0;
      w = 0.0;
      if (l < n) {
        y = H(n - 1, n - 1);
        w = H(n, n - 1) * H(n - 1, n);
      }
      // Wilkinson's original ad hoc shift.
      if (iter == 10) {
        exshift += x;
        for (int i = low; i <= n; i++) H(i, i) -= x;
        s = std::abs(H(n, n - 1)) + std::abs(H(n - 1, n - 2));
        x = y = 0.75 * s;
        w = -0.4375 * s * s;
      }
      // A second ad hoc shift after 30 iterations.
      if (iter == 30) {
        s = (y - x) / 2.0;
        s = s * s + w;
        if (s > 0) {
          s = std::sqrt(s);
          if (y < x) s = -s;
          s = x - w / ((y - x) / 2.0 + s);
          for (int i = low; i <= n; i++) H(i, i) -= s;
          exshift += s;
          x = y = w = 0.964;
        }
      }
      iter = iter + 1;

      // Look for two consecutive small sub-diagonal elements.
      int m = n - 2;
      while (m >= l) {
        z = H(m, m);
        r = x - z;
        s = y - z;
        p = (r * s - w) / H(m + 1, m) + H(m, m + 1);
        q = H(m + 1, m + 1) - z - r - s;
        r = H(m + 2, m + 1);
        s = std::abs(p) + std::abs(q) + std::abs(r);
        p = p / s;
        q = q / s;
        r = r / s;
        if (m == l) break;
        if (std::abs(H(m, m - 1)) * (std::abs(q) + std::abs(r)) <
            kEps * (std::abs(p) *
                    (std::abs(H(m - 1, m - 1)) + std::abs(z) + std::abs(H(m + 1, m + 1))))) {
          break;
        }
        m--;
      }
      for (int i = m + 2; i <= n; i++) {
        H(i, i - 2) = 0.0;
        if (i > m + 2) H(i, i - 3) = 0.0;
      }

      // Double QR step involving rows l:n and columns m:n.
      for (int k = m; k <= n - 1; k++) {
        const bool notlast = (k != n - 1);
        if (k != m) {
          p = H(k, k - 1);
          q = H(k + 1, k - 1);
          r = notlast ? H(k + 2, k - 1) : 0.0;
          x = std::abs(p) + std::abs(q) + std::abs(r);
          if (x == 0.0) continue;
          p = p / x;
          q = q / x;
          r = r / x;
        }
        s = std::sqrt(p * p + q * q + r * r);
        if (p < 0) s = -s;
        if (s != 0) {
          if (k != m) {
            H(k, k - 1) = -s * x;
          } else if (l != m) {
            H(k, k - 1) = -H(k, k - 1);
          }
          p = p + s;
          x = p / s;
          y = q / s;
          z = r / s;
          q = q / p;
          r = r / p;
          // Row modification.
          for (int j = k; j < nn; j++) {
            p = H(k, j) + q * H(k + 1, j);
            if (notlast) {
              p = p + r * H(k + 2, j);
              H(k + 2, j) = H(k + 2, j) - p * z;
            }
            H(k, j) = H(k, j) - p * x;
            H(k + 1, j) = H(k + 1, j) - p * y;
          }
          // Column modification.
          for (int i = 0; i <= std::min(n, k + 3); i++) {
            p = x * H(i, k) + y * H(i, k + 1);
            if (notlast) {
              p = p + z * H(i, k + 2);
              H(i, k + 2) = H(i, k + 2) - p * r;
            }
            H(i, k) = H(i, k) - p;
            H(i, k + 1) = H(i, k + 1) - p * q;
          }
          // Accumulate the transformations.
          for (int i = low; i <= high; i++) {
            p = x * V(i, k) + y * V(i, k + 1);
            if (notlast) {
              p = p + z * V(i, k + 2);
              V(i, k + 2) = V(i, k + 2) - p * r;
            }
            V(i, k) = V(i, k) - p;
            V(i, k + 1) = V(i, k + 1) - p * q;
          }
        }
      }
    }
  }

  // Back-substitute to find the vectors of the upper triangular form.
  if (norm == 0.0) return;
  for (n = nn - 1; n >= 0; n--) {
    p = d[n];
    q = e[n];
    if (q == 0) {
      // Real vector.
      int l = n;
      H(n, n) = 1.0;
      for (int i = n - 1; i >= 0; i--) {
        w = H(i, i) - p;
        r = 0.0;
        for (int j = l; j <= n; j++) r = r + H(i, j) * H(j, n);
        if (e[i] < 0.0) {
          z = w;
          s = r;
        } else {
          l = i;
          if (e[i] == 0.0) {
            H(i, n) = w != 0.0 ? -r / w : -r / (kEps * norm);
          } else {
            // Solve the real equations.
            x = H(i, i + 1);
            y = H(i + 1, i);
            q = (d[i] - p) * (d[i] - p) + e[i] * e[i];
            t = (x * s - z * r) / q;
            H(i, n) = t;
            if (std::abs(x) > std::abs(z)) {
              H(i + 1, n) = (-r - w * t) / x;
            } else {
              H(i + 1, n) = (-s - y * t) / z;
            }
          }
          // Overflow control.
          t = std::abs(H(i, n));
          if ((kEps * t) * t > 1) {
            for (int j = i; j <= n; j++) H(j, n) = H(j, n) / t;
          }
        }
      }
    } else if (q < 0) {
      // Complex vector; the last component is imaginary, so the matrix is triangular.
      int l = n - 1;
      if (std::abs(H(n, n - 1)) > std::abs(H(n - 1, n))) {
        H(n - 1, n - 1) = q / H(n, n - 1);
        H(n - 1, n) = -(H(n, n) - p) / H(n, n - 1);
      } else {
        _cdiv(0.0, -H(n - 1, n), H(n - 1, n - 1) - p, q);
        H(n - 1, n - 1) = cdivr_;
        H(n - 1, n) = cdivi_;
      }
      H(n, n - 1) = 0.0;
      H(n, n) = 1.0;
      for (int i = n - 2; i >= 0; i--) {
        double ra = 0.0;
        double sa = 0.0;
        for (int j = l; j <= n; j++) {
          ra = ra + H(i, j) * H(j, n - 1);
          sa = sa + H(i, j) * H(j, n);
        }
        w = H(i, i) - p;
        if (e[i] < 0.0) {
          z = w;
          r = ra;
          s = sa;
        } else {
          l = i;
          if (e[i] == 0) {
            _cdiv(-ra, -sa, w, q);
            H(i, n - 1) = cdivr_;
            H(i, n) = cdivi_;
          } else {
            // Solve the complex equations.
            x = H(i, i + 1);
            y = H(i + 1, i);
            double vr = (d[i] - p) * (d[i] - p) + e[i] * e[i] - q * q;
            const double vi = (d[i] - p) * 2.0 * q;
            if (vr == 0.0 && vi == 0.0) {
              vr = kEps * norm *
                   (std::abs(w) + std::abs(q) + std::abs(x) + std::abs(y) + std::abs(z));
            }
            _cdiv(x * r - z * ra + q * sa, x * s - z * sa - q * ra, vr, vi);
            H(i, n - 1) = cdivr_;
            H(i, n) = cdivi_;
            if (std::abs(x) > (std::abs(z) + std::abs(q))) {
              H(i + 1, n - 1) = (-ra - w * H(i, n - 1) + q * H(i, n)) / x;
              H(i + 1, n) = (-sa - w * H(i, n) - q * H(i, n - 1)) / x;
            } else {
              _cdiv(-r - y * H(i, n - 1), -s - y * H(i, n), z, q);
              H(i + 1, n - 1) = cdivr_;
              H(i + 1, n) = cdivi_;
            }
          }
          // Overflow control.
          t = std::max(std::abs(H(i, n - 1)), std::abs(H(i, n)));
          if ((kEps * t) * t > 1) {
            for (int j = i; j <= n; j++) {
              H(j, n - 1) = H(j, n - 1) / t;
              H(j, n) = H(j, n) / t;
            }
          }
        }
      }
    }
  }

  // Back transformation to the eigenvectors of the original matrix.
  for (int j = nn - 1; j >= low; j--) {
    for (int i = low; i <= high; i++) {
      z = 0.0;
      for (int k = low; k <= std::min(j, high); k++) z = z + V(i, k) * H(k, j);
      V(i, j) = z;
    }
  }
}

template class Eigenvalues<double>;

}  // namespace tervik::math::numeric
