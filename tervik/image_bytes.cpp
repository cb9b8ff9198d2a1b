// In-memory PNG (libpng) and JPEG (libjpeg) codecs. Both libraries report fatal errors through
// callbacks; these throw, so that an error unwinds through the library like any C++ exception
// (the Debian libraries carry unwind tables), as in the file readers of io_auxiliar.cpp.
#include "tervik/image_bytes.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <jpeglib.h>
#include <png.h>

#include "tervik/exceptions.h"

namespace tervik::io {

namespace {

[[noreturn]] void png_throw(png_structp, png_const_charp text) {
  throw std::runtime_error(std::string("libpng: ") + text);
}
void png_quiet(png_structp, png_const_charp) {}

void png_append(png_structp png, png_bytep data, png_size_t size) {
  auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + size);
}
void png_no_flush(png_structp) {}

// The image's pixels interleaved R, G, B, row after row.
std::vector<unsigned char> interleave(const ImageRGB<unsigned char>& image) {
  const std::size_t n = image.width() * image.height();
  std::vector<unsigned char> rgb(n * 3);
  for (std::size_t c = 0; c < 3; ++c) {
    const unsigned char* src = image.channel(c).data();
    for (std::size_t i = 0; i < n; ++i) rgb[i * 3 + c] = src[i];
  }
  return rgb;
}

[[noreturn]] void jpeg_throw(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX] = {};
  (*cinfo->err->format_message)(cinfo, text);
  throw std::runtime_error(std::string("libjpeg: ") + text);
}
void jpeg_quiet(j_common_ptr, int) {}

ImageRGB<unsigned char> from_interleaved(const unsigned char* rgb, std::size_t w, std::size_t h) {
  ImageRGB<unsigned char> image(w, h);
  for (std::size_t c = 0; c < 3; ++c) {
    unsigned char* dst = image.channel(c).data();
    for (std::size_t i = 0; i < w * h; ++i) dst[i] = rgb[i * 3 + c];
  }
  return image;
}

ImageRGB<unsigned char> decode_png(const unsigned char* bytes, std::size_t size) {
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&img, bytes, size))
    throw std::runtime_error(std::string("libpng: ") + img.message);
  img.format = PNG_FORMAT_RGB;
  if (img.width == 0 || img.height == 0 || img.width > 65536 || img.height > 65536) {
    png_image_free(&img);
    throw std::runtime_error("a PNG of " + std::to_string(img.width) + " x " +
                             std::to_string(img.height) + " pixels");
  }
  std::vector<unsigned char> rgb(std::size_t(img.width) * img.height * 3);
  if (!png_image_finish_read(&img, nullptr, rgb.data(), 0, nullptr))
    throw std::runtime_error(std::string("libpng: ") + img.message);
  return from_interleaved(rgb.data(), img.width, img.height);
}

ImageRGB<unsigned char> decode_jpeg(const unsigned char* bytes, std::size_t size) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jerr.error_exit = &jpeg_throw;
  jerr.emit_message = &jpeg_quiet;
  jpeg_create_decompress(&cinfo);
  std::unique_ptr<jpeg_decompress_struct, void (*)(jpeg_decompress_struct*)> guard(
      &cinfo, [](jpeg_decompress_struct* c) { jpeg_destroy_decompress(c); });
  jpeg_mem_src(&cinfo, bytes, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  if (cinfo.image_width == 0 || cinfo.image_height == 0 || cinfo.image_width > 65536 ||
      cinfo.image_height > 65536)
    throw std::runtime_error("a JPEG of " + std::to_string(cinfo.image_width) + " x " +
                             std::to_string(cinfo.image_height) + " pixels");
  jpeg_start_decompress(&cinfo);
  const std::size_t w = cinfo.output_width, h = cinfo.output_height;
  std::vector<unsigned char> rgb(w * h * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = rgb.data() + std::size_t(cinfo.output_scanline) * w * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  return from_interleaved(rgb.data(), w, h);
}

}  // namespace

std::vector<unsigned char> encode_png_bytes(const ImageRGB<unsigned char>& image, int level) {
  TERVIK_CHECK(image.width() > 0 && image.height() > 0 && level >= 0 && level <= 9,
               "encode_png_bytes: a " << image.width() << " x " << image.height()
                                      << " image at level " << level);
  std::vector<unsigned char> out;
  std::vector<unsigned char> row(image.width() * 3);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, &png_throw, &png_quiet);
  if (!png) throw TervikError("encode_png_bytes: libpng cannot start");
  png_infop info = png_create_info_struct(png);
  try {
    if (!info) throw std::runtime_error("libpng cannot start");
    png_set_write_fn(png, &out, &png_append, &png_no_flush);
    png_set_compression_level(png, level);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
                 PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    // One row interleaved at a time: a large atlas is not copied whole.
    const std::size_t w = image.width();
    for (std::size_t y = 0; y < image.height(); ++y) {
      for (std::size_t c = 0; c < 3; ++c) {
        const unsigned char* src = image.channel(c).data() + y * w;
        for (std::size_t x = 0; x < w; ++x) row[x * 3 + c] = src[x];
      }
      png_write_row(png, row.data());
    }
    png_write_end(png, info);
  } catch (const std::exception& e) {
    png_destroy_write_struct(&png, &info);
    throw TervikError(std::string("encode_png_bytes: ") + e.what());
  }
  png_destroy_write_struct(&png, &info);
  return out;
}

std::vector<unsigned char> encode_jpeg_bytes(const ImageRGB<unsigned char>& image, int quality) {
  TERVIK_CHECK(image.width() > 0 && image.height() > 0 && quality >= 1 && quality <= 100,
               "encode_jpeg_bytes: a " << image.width() << " x " << image.height()
                                       << " image at quality " << quality);
  const std::vector<unsigned char> rgb = interleave(image);
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jerr.error_exit = &jpeg_throw;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  try {
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(image.width());
    cinfo.image_height = JDIMENSION(image.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
      JSAMPROW row = const_cast<unsigned char*>(rgb.data()) +
                     std::size_t(cinfo.next_scanline) * image.width() * 3;
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
  } catch (const std::exception& e) {
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    throw TervikError(std::string("encode_jpeg_bytes: ") + e.what());
  }
  std::vector<unsigned char> out(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return out;
}

ImageRGB<unsigned char> decode_image_bytes(const unsigned char* bytes, std::size_t size,
                                           const std::string& what) {
  static const unsigned char png_sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  try {
    if (size >= 8 && std::memcmp(bytes, png_sig, 8) == 0) return decode_png(bytes, size);
    if (size >= 3 && bytes[0] == 0xff && bytes[1] == 0xd8 && bytes[2] == 0xff)
      return decode_jpeg(bytes, size);
  } catch (const std::exception& e) {
    throw TervikError(what + ": cannot decode the image: " + e.what());
  }
  throw TervikError(what + ": the image is neither PNG nor JPEG");
}

}  // namespace tervik::io
