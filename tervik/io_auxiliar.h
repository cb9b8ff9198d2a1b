#pragma once
// Helpers of the image and multiarray readers: the image format of a file name, and the
// JPEG/PNG/TIFF codecs behind ReadImage and write_png.
//
// The codecs work on interleaved sample buffers: width x height pixels of `channels` samples
// each, stored row after row, each row from left to right (x = column, y = row), so the sample
// of channel c at pixel (x, y) is samples[(y * width + x) * channels + c]. Every codec failure
// is a TervikFileError (or TervikFileNotFound) whose message names the file.
//
// This header is kept free of the image containers so that the codec source, which includes
// Boost.GIL's I/O extension, compiles on its own.
#include <cstddef>
#include <string>
#include <vector>

namespace tervik::io {

// The format of an image file, chosen from its name's extension.
enum ImageFormat {
  FORMAT_JPEG = 0,        // ".jpg", ".jpeg"
  FORMAT_PNG = 1,         // ".png"
  FORMAT_TIFF = 2,        // ".tiff", ".tif"
  FORMAT_MULTIARRAY = 5,  // ".mult", ".prl": the library's own multiarray files
  FORMAT_UNKNOWN = 6      // anything else, or no extension
};

// The extension of the last path component of `filename`, from its last "." to the end, the
// point included; empty if there is none ("a/b.JPG" -> ".JPG", "a.b/c" -> "").
std::string file_extension(const std::string& filename);

// The format of `filename` from its extension alone, compared case-sensitively; the file is not
// touched. ".JPG" or no extension gives FORMAT_UNKNOWN.
ImageFormat get_image_format(const std::string& filename);

// Images whose header declares more pixels than this are rejected before any pixel buffer is
// allocated (a corrupt header must not exhaust memory). 2^28 pixels is 16384 x 16384.
constexpr unsigned long long max_image_pixels = 1ull << 28;

// Decoded samples of an image file (layout at the top of this header).
template <typename E>
struct DecodedImage {
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t channels = 0;
  std::vector<E> samples;
};

// Decodes the JPEG, PNG or TIFF file `filename` (FORMAT_JPEG, FORMAT_PNG or FORMAT_TIFF) into `channels`
// (1: grey, 3: RGB) samples per pixel of 8 or 16 bits, with Boost.GIL's default colour and
// channel conversion. `out` is written only on success.
void decode_image_file(const std::string& filename, ImageFormat format, std::size_t channels,
                       DecodedImage<unsigned char>& out);
void decode_image_file(const std::string& filename, ImageFormat format, std::size_t channels,
                       DecodedImage<unsigned short>& out);

// Decodes a PNG file of any colour type into 8-bit red, green, blue and alpha samples (4 per
// pixel; grey becomes three equal channels, a file without alpha gets 255), through the same
// checks as decode_image_file: the file's structure, then the declared size against
// max_image_pixels before any pixel buffer is made. `has_alpha` tells whether the file has an
// alpha channel or a transparent colour. Both outputs are written only on success.
void decode_png_rgba(const std::string& filename, DecodedImage<unsigned char>& out,
                     bool& has_alpha);

// The (width, height) that the header of the JPEG, PNG or TIFF file declares; no pixel is read.
std::vector<unsigned long long> read_image_file_dimensions(const std::string& filename,
                                                           ImageFormat format);

// Checks the chunk structure of a PNG file without decoding it: the signature, an IHDR chunk
// first, every chunk inside the file, an IEND chunk. Throws TervikFileError naming the file
// and the offending byte offset (a truncated file fails here, before libpng sees it).
void check_png_file(const std::string& filename);

// Checks the marker segments of a JPEG file up to its first scan without decoding it: the
// start-of-image marker, every segment inside the file. Throws TervikFileError naming the file
// and the offending byte offset; damage to the scan data itself is found by the decoder.
void check_jpeg_file(const std::string& filename);

// Writes width x height pixels of `channels` (1 or 3) 8-bit samples as a PNG file.
void encode_png_file(const std::string& filename, std::size_t width, std::size_t height,
                     std::size_t channels, const unsigned char* samples);

}  // namespace tervik::io
