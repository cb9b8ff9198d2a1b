#pragma once
// Direct decoding of the PNG files that image sequences are usually made of (8-bit grey or 8-bit
// RGB, not interlaced, holding no chunk but IHDR, IDAT and IEND) into separate channel planes,
// in one pass over the inflated rows. Any other file, and any file with the least irregularity
// (a checksum that does not match, image data that is short, long or damaged, a header value out
// of range), is declined without a message, for the general reader (io_auxiliar.h) to decode or
// to reject with its own error.
#include <cstddef>
#include <string>
#include <vector>

namespace tervik::io {

class PlainPng {
 public:
  // Reads `filename` whole and checks and inflates its image data. True when the file is a plain
  // PNG with `channels` channels (1: grey, 3: RGB) and decoded without any irregularity; its
  // pixels can then be written by write_planes(). False otherwise, also when the file cannot be
  // read.
  bool read(const std::string& filename, std::size_t channels);

  // Checks and inflates the PNG file held in `bytes` (the whole file), as read() does.
  bool decode(const unsigned char* bytes, std::size_t size, std::size_t channels);

  // The image size of the last successful read() or decode().
  std::size_t width() const { return width_; }
  std::size_t height() const { return height_; }

  // Writes the pixels of the last successful read() or decode() into planes[0 .. channels - 1]:
  // width() * height() samples each, row after row, each row from left to right (plane c holds
  // channel c: grey, or red, green and blue). Once per decode: the rows are unfiltered in place.
  void write_planes(unsigned char* const* planes);

 private:
  std::vector<unsigned char> file_;  // the file's bytes (reused from one read to the next)
  std::vector<unsigned char> rows_;  // per row: its filter type, then its filtered samples
  std::vector<unsigned char> idat_;  // the image data, when it spans more than one chunk
  std::size_t width_ = 0;
  std::size_t height_ = 0;
  std::size_t channels_ = 0;
};

}  // namespace tervik::io
