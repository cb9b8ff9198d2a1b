#pragma once
// PNG and JPEG images held in memory: encoding 8-bit RGB pixels into file bytes (for images
// embedded in other files, such as a glTF texture) and decoding such bytes back into an image.
// Pixel (x, y) is column x, row y, as everywhere in tervik.
#include <string>
#include <vector>

#include "tervik/imagergb.h"

namespace tervik::io {

// The image as 8-bit RGB PNG file bytes, every row filtered "up". `level` is the zlib
// compression level, 0 (none) to 9 (smallest, slowest). The rows are compressed in bands of 64
// on `threads` threads; the bytes do not depend on the thread count. Throws TervikError when
// the image is empty or larger than 2^24 - 1 on a side, or zlib fails.
std::vector<unsigned char> encode_png_bytes(const ImageRGB<unsigned char>& image, int level = 6,
                                            int threads = 1);

// The image as baseline JPEG file bytes (4:2:0 chroma), quality 1 to 100. Throws TervikError
// when the image is empty, the quality is out of range or libjpeg fails.
std::vector<unsigned char> encode_jpeg_bytes(const ImageRGB<unsigned char>& image, int quality);

// Decodes PNG or JPEG file bytes (told apart by their signature) into an RGB image; grey
// images get three equal channels and an alpha channel is dropped. Throws TervikError naming
// `what` (a file or an element of one) and the problem when the bytes are neither or damaged.
ImageRGB<unsigned char> decode_image_bytes(const unsigned char* bytes, std::size_t size,
                                           const std::string& what);

}  // namespace tervik::io
