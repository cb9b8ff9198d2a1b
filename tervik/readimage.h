#pragma once
// ReadImage: loads an image file into an image container, choosing the decoder by the file
// name's extension (see ImageFormat in io_auxiliar.h): JPEG, PNG and TIFF files into grey or
// colour images through Boost.GIL, multiarray files (".mult", ".prl") into label images.
//
// Grey and colour reads use Boost.GIL's default colour conversion: a colour file read as grey
// becomes its luminance, a grey file read as colour gets three equal channels, and 8/16-bit
// samples are rescaled by GIL's channel conversion. After a successful read the destination has
// the file's width and height, pixel (x, y) = column x, row y of the file; after a failed read
// it is unchanged.
#include <string>
#include <vector>

#include "tervik/image.h"
#include "tervik/imagegray.h"
#include "tervik/imagergb.h"
#include "tervik/io_auxiliar.h"

namespace tervik::io {

class ReadImage {
 public:
  // An empty reader; open() must be called before reading.
  ReadImage() = default;
  // Calls open(filename).
  explicit ReadImage(const std::string& filename) { open(filename); }

  // Checks that `filename` is a regular file with a known extension and records its name and
  // format. Throws TervikFileNotFound for a missing file, TervikFileError for a directory, for
  // a name that exists but cannot be read (with the reason: permission, not a regular file) or an
  // unknown extension.
  void open(const std::string& filename);

  // Decodes the file into the image, whatever its type; forwards to _read.
  template <typename ImageType>
  void read(ImageType& image) const {
    _read(image);
  }

  // Decodes a JPEG, PNG or TIFF file into a one-channel image of the file's size.
  void _read(ImageGray<unsigned char>& image) const;
  void _read(ImageGray<unsigned short>& image) const;
  // Decodes a JPEG, PNG or TIFF file into a three-channel (R, G, B) image of the file's size.
  void _read(ImageRGB<unsigned char>& image) const;
  void _read(ImageRGB<unsigned short>& image) const;
  // Reads a label image from a multiarray file into channel 0.
  void _read(ImaVol<unsigned int, 1, 2>& image) const;

  const std::string& filename() const { return filename_; }
  ImageFormat format() const { return format_; }

 private:
  void check_opened() const;

  std::string filename_;
  ImageFormat format_ = FORMAT_UNKNOWN;
};

// The extents of an image file, read from its header alone: (width, height) of a JPEG, PNG or
// TIFF file, every extent of a multiarray file. Throws TervikError "Image type not supported"
// for any other format.
std::vector<unsigned long long> get_image_dimensions(const std::string& filename,
                                                     ImageFormat format);

}  // namespace tervik::io
