#pragma once
// MultiArray<T,D>: a D-dimensional array of T that owns its elements.
//
// Storage order: the first index varies fastest, the last slowest, every index base 0. For an
// image the first index is x (column) and the second y (row), extents (width, height), so memory
// holds the image row after row. Matrices follow the same rule with (column, row).
#include <algorithm>
#include <array>
#include <cstddef>

#include <boost/multi_array.hpp>

#include "tervik/exceptions.h"

namespace tervik {

template <typename T, std::size_t D>
class MultiArray : public boost::multi_array<T, D> {
 public:
  using base_type = boost::multi_array<T, D>;

  // The storage order of every MultiArray: first index fastest, all dimensions ascending.
  static boost::general_storage_order<D> storage() {
    std::array<typename base_type::size_type, D> ordering;
    std::array<bool, D> ascending;
    for (std::size_t i = 0; i < D; ++i) {
      ordering[i] = i;
      ascending[i] = true;
    }
    return boost::general_storage_order<D>(ordering.begin(), ascending.begin());
  }

  // Every extent 0, no elements.
  MultiArray() : base_type(zero_extents(), storage()) {}

  // D = 1: n elements, all 0.
  explicit MultiArray(int n)
    requires(D == 1)
      : base_type(boost::extents[n < 0 ? 0 : n], storage()) {
    zero();
  }

  // D = 2: extents (a, b), all elements 0.
  MultiArray(unsigned long long a, unsigned long long b)
    requires(D == 2)
      : base_type(boost::extents[a][b], storage()) {
    zero();
  }

  // Any D: the given extents, all elements 0.
  explicit MultiArray(const std::array<std::size_t, D>& extents) : base_type(extents, storage()) {
    zero();
  }

  MultiArray(const MultiArray& other) : base_type(zero_extents(), storage()) { assign(other); }

  // Copies the source's extents and elements; assigning an array to itself is a caller's error
  // and throws.
  MultiArray& operator=(const MultiArray& src) {
    if (&src == this) throw TervikError("MultiArray<T,D>::operator=: Self Assignment");
    assign(src);
    return *this;
  }

  ~MultiArray() = default;

 private:
  static std::array<std::size_t, D> zero_extents() {
    std::array<std::size_t, D> e{};
    return e;
  }

  void zero() { std::fill_n(this->data(), this->num_elements(), T()); }

  void assign(const MultiArray& src) {
    bool same = true;
    for (std::size_t i = 0; i < D; ++i) same = same && this->shape()[i] == src.shape()[i];
    if (!same) {
      std::array<std::size_t, D> e;
      for (std::size_t i = 0; i < D; ++i) e[i] = src.shape()[i];
      this->resize(e);
    }
    // Both arrays share the storage order, so element-by-element copy is a flat copy.
    std::copy_n(src.data(), src.num_elements(), this->data());
  }
};

}  // namespace tervik
