#include "tervik/imagergb.h"

namespace tervik {

namespace {

// Position of red, green and blue in an interleaved pixel, and the pixel's element count.
struct Layout {
  int r, g, b, stride;
};

Layout layout_of(ColorBufferMode mode) {
  switch (mode) {
    case 0: return {0, 1, 2, 3};
    case 1: return {2, 1, 0, 3};
    case 2: return {0, 1, 2, 4};
    default: throw TervikError(" Buffer Color Mode not implemented");
  }
}

}  // namespace

template <typename T>
void ImageRGB<T>::check_size_rgb(const ImaVol<T, 3, 2>& img) {
  const auto& c0 = img.channel(0);
  const auto& c1 = img.channel(1);
  const auto& c2 = img.channel(2);
  if (c0.shape()[0] != c1.shape()[0] || c0.shape()[0] != c2.shape()[0])
    throw TervikError("All channel widths must be equal for RGB");
  if (c0.shape()[1] != c1.shape()[1] || c0.shape()[1] != c2.shape()[1])
    throw TervikError("All channel heights must be equal for RGB");
}

template <typename T>
void ImageRGB<T>::export_to(T* buf, unsigned long, unsigned long, ColorBufferMode mode) const {
  const Layout l = layout_of(mode);
  const T* r = this->channel(0).data();
  const T* g = this->channel(1).data();
  const T* b = this->channel(2).data();
  const std::size_t n = this->channel(0).num_elements();
  for (std::size_t i = 0; i < n; ++i, buf += l.stride) {
    buf[l.r] = r[i];
    buf[l.g] = g[i];
    buf[l.b] = b[i];
    if (l.stride == 4) buf[3] = T(1);
  }
}

template <typename T>
void ImageRGB<T>::import_from(const T* buf, unsigned long, unsigned long, ColorBufferMode mode) {
  const Layout l = layout_of(mode);
  T* r = this->channel(0).data();
  T* g = this->channel(1).data();
  T* b = this->channel(2).data();
  const std::size_t n = this->channel(0).num_elements();
  for (std::size_t i = 0; i < n; ++i, buf += l.stride) {
    r[i] = buf[l.r];
    g[i] = buf[l.g];
    b[i] = buf[l.b];
  }
}

template <typename T>
void ImageRGB<T>::import_buffer(T* buf, unsigned long width, unsigned long height,
                                ColorBufferMode mode) {
  if (width != this->width() || height != this->height())
    throw TervikError(" Buffer size does not match image size");
  import_from(buf, width, height, mode);
}

template <typename T>
MultiArray<T, 3> ImageRGB<T>::export_buffer(ColorBufferMode mode) const {
  const Layout l = layout_of(mode);
  const std::size_t w = this->width(), h = this->height();
  MultiArray<T, 3> out(std::array<std::size_t, 3>{std::size_t(l.stride), w, h});
  for (std::size_t y = 0; y < h; ++y)
    for (std::size_t x = 0; x < w; ++x) {
      out[l.r][x][y] = this->channel(0)[x][y];
      out[l.g][x][y] = this->channel(1)[x][y];
      out[l.b][x][y] = this->channel(2)[x][y];
      if (l.stride == 4) out[3][x][y] = T(1);
    }
  return out;
}

#define TERVIK_INSTANTIATE_RGB(T) \
  template class ImaVol<T, 3, 2>; \
  template class Image<T, 3>;     \
  template class ImageRGB<T>;

// The pixel types the library reads and writes: 8- and 16-bit images. Other types are
// not instantiated: a new pixel type needs its line here.
TERVIK_INSTANTIATE_RGB(unsigned char)
TERVIK_INSTANTIATE_RGB(unsigned short)

}  // namespace tervik
