#include "tervik/readimage.h"

#include <boost/filesystem.hpp>

#include "tervik/exceptions.h"
#include "tervik/readmultiarray.h"

namespace tervik::io {

void ReadImage::open(const std::string& filename) {
  const boost::filesystem::path path(filename);
  if (!boost::filesystem::is_regular_file(path)) {
    if (boost::filesystem::is_directory(path))
      throw TervikFileError(filename, " Not a valid file, is a directory.");
    throw TervikFileNotFound(filename);
  }
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

// Decodes into a temporary C-channel image, then assigns it, so that a failure leaves the
// destination untouched.
template <typename E, std::size_t C, typename Dest>
void read_pixels(const std::string& filename, ImageFormat format, Dest& image) {
  if (!has_pixel_decoder(format))
    throw TervikError("Reading unsupported image type (unknown extension)");
  DecodedImage<E> decoded;
  decode_image_file(filename, format, C, decoded);
  Image<E, C> result(decoded.width, decoded.height);
  // Both buffers hold the pixels row after row, each row from left to right.
  const std::size_t n = decoded.width * decoded.height;
  for (std::size_t c = 0; c < C; ++c) {
    E* dst = result.channel(c).data();
    const E* src = decoded.samples.data() + c;
    for (std::size_t i = 0; i < n; ++i) dst[i] = src[i * C];
  }
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
