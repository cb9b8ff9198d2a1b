#pragma once
// ImageRGB<T>: a three-channel colour image; channel 0 is red, 1 green, 2 blue.
#include "tervik/image.h"

namespace tervik {

// Layout of an interleaved colour buffer: 0 R,G,B; 1 B,G,R; 2 R,G,B plus a fourth element.
using ColorBufferMode = int;

template <typename T>
class ImageRGB : public Image<T, 3> {
 public:
  // Three channels of extents 0 x 0.
  ImageRGB() = default;
  ImageRGB(unsigned long long width, unsigned long long height) : Image<T, 3>(width, height) {}
  ImageRGB(const ImageRGB&) = default;
  // Copies the channels, then checks that all three have the same extents.
  ImageRGB(const Image<T, 3>& src) : Image<T, 3>(src) { check_size_rgb(*this); }
  ImageRGB(const ImaVol<T, 3, 2>& src) : Image<T, 3>(src) { check_size_rgb(*this); }

  ImageRGB& operator=(const ImageRGB&) = default;
  // Checks the source's channel sizes before anything is copied.
  ImageRGB& operator=(const Image<T, 3>& src) { return assign(src); }
  ImageRGB& operator=(const ImaVol<T, 3, 2>& src) { return assign(src); }
  // Sets every element of all three channels to v.
  ImageRGB& operator=(const T& v) {
    this->fill(v);
    return *this;
  }

  // Interleaved buffers, pixel after pixel in memory order, in the given mode.
  void export_to(T* buf, unsigned long width, unsigned long height, ColorBufferMode mode) const;
  void import_from(const T* buf, unsigned long width, unsigned long height, ColorBufferMode mode);
  // As import_from, after checking that width and height are the image's extents.
  void import_buffer(T* buf, unsigned long width, unsigned long height, ColorBufferMode mode);
  // A new (channels x width x height) array in the mode's channel layout.
  MultiArray<T, 3> export_buffer(ColorBufferMode mode) const;

  // Throws TervikError unless the three channels' widths, then heights, are equal.
  static void check_size_rgb(const ImaVol<T, 3, 2>& img);

 private:
  ImageRGB& assign(const ImaVol<T, 3, 2>& src) {
    check_size_rgb(src);
    ImaVol<T, 3, 2>::operator=(src);
    return *this;
  }
};

}  // namespace tervik
