#include "tervik/readimage.h"

#include <array>
#include <type_traits>

#include "tervik/exceptions.h"
#include "tervik/input_file.h"
#include "tervik/plain_png.h"
#include "tervik/readmultiarray.h"

namespace tervik::io {

void ReadImage::open(const std::string& filename) {
  // A missing file and a folder keep their long-standing messages; every other reason why the
  // name cannot be read (permission, a FIFO or device, a name too long) is given as it is.
  const std::string problem = input_file_problem(filename);
  if (problem == "not found") throw TervikFileNotFound(filename);
  if (problem == "it is a folder")
    throw TervikFileError(filename, " Not a valid file, is a directory.");
  if (!problem.empty()) throw TervikFileError(filename, "cannot read the file: " + problem);
  filename_ = filename;
  format_ = get_image_format(filename);
  if (format_ == FORMAT_UNKNOWN)
    throw TervikFileError(filename,
                          "Image format not supported (" + file_extension(filename) + ")");
}

void ReadImage::check_opened() const {
  if (filename_.empty()) throw TervikError("ReadImage: call 'open' before reading an image");
}

namespace {

bool has_pixel_decoder(ImageFormat format) {
  return format == FORMAT_JPEG || format == FORMAT_PNG || format == FORMAT_TIFF;
}

// Copies the interleaved samples of `decoded` into the channels of `image`, which has its size.
// Both hold the pixels row after row, each row from left to right.
template <typename E, std::size_t C, typename Dest>
void split_channels(const DecodedImage<E>& decoded, Dest& image) {
  const std::size_t n = decoded.width * decoded.height;
  // One pass over the samples, all channels together.
  E* __restrict dst[C];
  for (std::size_t c = 0; c < C; ++c) dst[c] = image.channel(c).data();
  const E* __restrict src = decoded.samples.data();
  for (std::size_t i = 0; i < n; ++i, src += C)
    for (std::size_t c = 0; c < C; ++c) dst[c][i] = src[c];
}

// Decodes `filename` straight into the channels of `image` when it is a plain 8-bit PNG file of
// C channels (see plain_png.h); false, with `image` untouched, for any other file. A destination
// of the image's size is written in place, any other gets a new image of that size.
template <std::size_t C, typename Dest>
bool read_plain_png(const std::string& filename, Dest& image) {
  thread_local PlainPng png;
  if (!png.read(filename, C)) return false;
  unsigned char* planes[C];
  for (std::size_t c = 0; c < C; ++c) {
    if (image.width() != png.width() || image.height() != png.height() ||
        image.channel(c).shape()[0] != png.width() || image.channel(c).shape()[1] != png.height())
      image.channel(c).resize(std::array<std::size_t, 2>{png.width(), png.height()});
    planes[c] = image.channel(c).data();
  }
  png.write_planes(planes);
  return true;
}

// Decodes the file first, so that a failure leaves the destination untouched. A destination of
// the image's size (a sequence's next frame, say) is then written in place; any other gets a
// new image of that size. Plain 8-bit PNG files take the direct way; every other file, and any
// that it declines, goes through the general decoder (which gives the same pixels, and the
// errors).
template <typename E, std::size_t C, typename Dest>
void read_pixels(const std::string& filename, ImageFormat format, Dest& image) {
  if (!has_pixel_decoder(format))
    throw TervikError("Reading unsupported image type (unknown extension)");
  if constexpr (std::is_same_v<E, unsigned char>) {
    if (format == FORMAT_PNG && read_plain_png<C>(filename, image)) return;
  }
  DecodedImage<E> decoded;
  decode_image_file(filename, format, C, decoded);
  if (image.width() == decoded.width && image.height() == decoded.height) {
    split_channels<E, C>(decoded, image);
    return;
  }
  Image<E, C> result(decoded.width, decoded.height);
  split_channels<E, C>(decoded, result);
  image = result;
}

}  // namespace

void ReadImage::_read(ImageGray<unsigned char>& image) const {
  check_opened();
  read_pixels<unsigned char, 1>(filename_, format_, image);
}

void ReadImage::_read(ImageGray<unsigned short>& image) const {
  check_opened();
  read_pixels<unsigned short, 1>(filename_, format_, image);
}

void ReadImage::_read(ImageRGB<unsigned char>& image) const {
  check_opened();
  read_pixels<unsigned char, 3>(filename_, format_, image);
}

void ReadImage::_read(ImageRGB<unsigned short>& image) const {
  check_opened();
  read_pixels<unsigned short, 3>(filename_, format_, image);
}

void ReadImage::_read(ImaVol<unsigned int, 1, 2>& image) const {
  check_opened();
  if (format_ != FORMAT_MULTIARRAY)
    throw TervikError("Reading unsupported image type (unknown extension) for partitions");
  // The reader assigns only a fully decoded array, so a failure leaves the image unchanged.
  ReadMultiArray reader(filename_);
  reader >> image.channel(0);
}

std::vector<unsigned long long> get_image_dimensions(const std::string& filename,
                                                     ImageFormat format) {
  if (format == FORMAT_MULTIARRAY) return ReadMultiArray(filename).read_extents();
  if (!has_pixel_decoder(format)) throw TervikError("Image type not supported");
  return read_image_file_dimensions(filename, format);
}

}  // namespace tervik::io
