#pragma once
// ImaVol<T,C,D>: C channels, each a D-dimensional MultiArray<T,D>; Image<T,C>: C 2-d channels.
// An image's width and height are the extents of channel 0; pixel (x, y) of channel c is
// channel(c)[x][y] (x = column, y = row), stored row after row.
#include <cstddef>
#include <vector>

#include "tervik/multiarray.h"

namespace tervik {

template <typename T, std::size_t C, std::size_t D>
class ImaVol {
 public:
  using channel_type = MultiArray<T, D>;

  ImaVol() : channels_(C) {}
  virtual ~ImaVol() = default;
  ImaVol(const ImaVol&) = default;
  ImaVol& operator=(const ImaVol&) = default;

  channel_type& channel(std::size_t c) { return channels_[c]; }
  const channel_type& channel(std::size_t c) const { return channels_[c]; }
  std::size_t n_channels() const { return C; }

  // The extents of every channel.
  std::vector<std::vector<unsigned long long>> dims() const {
    std::vector<std::vector<unsigned long long>> out(C);
    for (std::size_t c = 0; c < C; ++c)
      out[c].assign(channels_[c].shape(), channels_[c].shape() + D);
    return out;
  }

  // Sets every element of every channel to v.
  void fill(const T& v) {
    for (auto& ch : channels_) std::fill_n(ch.data(), ch.num_elements(), v);
  }

 protected:
  std::vector<channel_type> channels_;
};

template <typename T, std::size_t C>
class Image : public ImaVol<T, C, 2> {
 public:
  Image() = default;
  // C channels, each width x height, all 0.
  Image(unsigned long long width, unsigned long long height) {
    for (auto& ch : this->channels_) ch = MultiArray<T, 2>(width, height);
  }
  Image(const ImaVol<T, C, 2>& src) : ImaVol<T, C, 2>(src) {}

  // Extents of channel 0.
  std::size_t width() const { return this->channels_[0].shape()[0]; }
  std::size_t height() const { return this->channels_[0].shape()[1]; }
};

}  // namespace tervik
