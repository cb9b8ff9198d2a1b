#pragma once
// TIFF decoding straight through libtiff, into the samples the file stores (before any colour
// conversion). Every tag that decides the sample layout (photometric interpretation, samples
// per pixel, bits per sample, planar configuration, sample format) is checked against the
// layout it is decoded into before a pixel is read, so a file whose tags contradict each other
// is refused instead of overrunning a row buffer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tervik::io {

// The decoded pixels of a TIFF file: width x height pixels of `channels` interleaved samples,
// row after row, each row from left to right. channels is 1 (grey), 3 (RGB) or 4 (RGB and
// alpha, as the file stores it); bits is 8 or 16 and bounds the sample values.
struct TiffPixels {
  std::size_t width = 0;
  std::size_t height = 0;
  int channels = 0;
  int bits = 0;
  std::vector<std::uint16_t> samples;
};

// Decodes the first image of the TIFF file `filename`. Grey (min-is-black, min-is-white, with
// an optional alpha that is dropped) of 1, 2, 4, 8 or 16 bits, RGB of 8 or 16 bits (with an
// optional alpha kept as channel 3), palette images (as 16-bit RGB from the colour map) and
// whatever else libtiff's RGBA interface decodes (YCbCr, CMYK, ...: as 8-bit RGB). Tiles and
// separate planes are read. Throws TervikFileError naming the file and the reason otherwise;
// images of more than `max_pixels` pixels are refused before any pixel buffer is allocated.
void decode_tiff(const std::string& filename, unsigned long long max_pixels, TiffPixels& out);

// The (width, height) of the first image of the TIFF file; no pixel is read.
std::vector<unsigned long long> read_tiff_dimensions(const std::string& filename);

}  // namespace tervik::io
