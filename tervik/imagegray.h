#pragma once
// ImageGray<T>: a one-channel image (the grey value). img[x][y] is the pixel at column x, row y.
#include "tervik/image.h"

namespace tervik {

template <typename T>
class ImageGray : public Image<T, 1> {
 public:
  // One channel of extents 0 x 0.
  ImageGray() = default;
  // width x height, all 0.
  ImageGray(unsigned long long width, unsigned long long height) : Image<T, 1>(width, height) {}
  ImageGray(const ImageGray&) = default;
  ImageGray(const Image<T, 1>& src) : Image<T, 1>(src) {}
  ImageGray(const ImaVol<T, 1, 2>& src) : Image<T, 1>(src) {}

  ImageGray& operator=(const ImageGray&) = default;
  ImageGray& operator=(const Image<T, 1>& src) { return assign(src); }
  ImageGray& operator=(const ImaVol<T, 1, 2>& src) { return assign(src); }
  // Sets every pixel to v.
  ImageGray& operator=(const T& v) {
    this->fill(v);
    return *this;
  }

  // Column x of the channel, a 1-d view indexed by y.
  auto operator[](unsigned long x) { return this->channels_[0][x]; }
  auto operator[](unsigned long x) const { return this->channels_[0][x]; }

  // Copies the channel in memory order (row after row) to or from buf; the sizes are not read.
  void export_to(T* buf, unsigned long width, unsigned long height) const;
  void import_from(const T* buf, unsigned long width, unsigned long height);

 private:
  ImageGray& assign(const ImaVol<T, 1, 2>& src) {
    ImaVol<T, 1, 2>::operator=(src);
    return *this;
  }
};

}  // namespace tervik
