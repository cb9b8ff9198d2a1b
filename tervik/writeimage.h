#pragma once
// PNG writing of 8-bit grey and colour images (the inverse of ReadImage for PNG files).
// Pixel (x, y) of the image (column x, row y) becomes pixel (x, y) of the file.
#include <string>

#include "tervik/imagegray.h"
#include "tervik/imagergb.h"

namespace tervik::io {

// Writes the image as an 8-bit grey PNG file. Throws TervikFileError naming the file when the
// image is empty or the file cannot be encoded or written.
void write_png(const std::string& name, const ImageGray<unsigned char>& image);

// Writes the image as an 8-bit RGB PNG file (channel 0 red, 1 green, 2 blue); errors as above.
void write_png(const std::string& name, const ImageRGB<unsigned char>& image);

}  // namespace tervik::io
