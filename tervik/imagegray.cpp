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

// MultiArray itself is not instantiated explicitly: clang instantiates every constructor of an
// explicitly instantiated class, also those whose requires-clause excludes the dimension.
#define TERVIK_INSTANTIATE_GRAY(T) \
  template class ImaVol<T, 1, 2>;  \
  template class Image<T, 1>;      \
  template class ImageGray<T>;

TERVIK_INSTANTIATE_GRAY(char)
TERVIK_INSTANTIATE_GRAY(unsigned char)
TERVIK_INSTANTIATE_GRAY(short)
TERVIK_INSTANTIATE_GRAY(unsigned short)
TERVIK_INSTANTIATE_GRAY(int)
TERVIK_INSTANTIATE_GRAY(unsigned int)
TERVIK_INSTANTIATE_GRAY(long long)
TERVIK_INSTANTIATE_GRAY(unsigned long long)
TERVIK_INSTANTIATE_GRAY(double)

}  // namespace tervik
