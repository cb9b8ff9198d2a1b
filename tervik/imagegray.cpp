#include "tervik/imagegray.h"

#include <algorithm>

namespace tervik {

template <typename T>
void ImageGray<T>::export_to(T* buf, unsigned long, unsigned long) const {
  const auto& ch = this->channel(0);
  std::copy_n(ch.data(), ch.num_elements(), buf);
}

template <typename T>
void ImageGray<T>::import_from(const T* buf, unsigned long, unsigned long) {
  auto& ch = this->channel(0);
  std::copy_n(buf, ch.num_elements(), ch.data());
}

#define TERVIK_INSTANTIATE_GRAY(T) \
  template class ImaVol<T, 1, 2>;  \
  template class Image<T, 1>;      \
  template class ImageGray<T>;     \
  template class MultiArray<T, 2>;

// The pixel types the library reads and writes: 8- and 16-bit images. Other types are
// not instantiated: a new pixel type needs its line here (export_to and import_from live here).
TERVIK_INSTANTIATE_GRAY(unsigned char)
TERVIK_INSTANTIATE_GRAY(unsigned short)

}  // namespace tervik
