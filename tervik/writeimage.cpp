#include "tervik/writeimage.h"

#include <vector>

#include "tervik/io_auxiliar.h"

namespace tervik::io {

void write_png(const std::string& name, const ImageGray<unsigned char>& image) {
  // The channel already holds the pixels row after row.
  encode_png_file(name, image.width(), image.height(), 1, image.channel(0).data());
}

void write_png(const std::string& name, const ImageRGB<unsigned char>& image) {
  ImageRGB<unsigned char>::check_size_rgb(image);
  const std::size_t n = image.width() * image.height();
  std::vector<unsigned char> samples(n * 3);
  for (std::size_t c = 0; c < 3; ++c) {
    const unsigned char* src = image.channel(c).data();
    for (std::size_t i = 0; i < n; ++i) samples[i * 3 + c] = src[i];
  }
  encode_png_file(name, image.width(), image.height(), 3, samples.data());
}

}  // namespace tervik::io
