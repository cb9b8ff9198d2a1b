#pragma once
// Test helpers that write JPEG and TIFF files straight through libjpeg and libtiff, so that the
// readers are checked against files that the library's own writer did not make.
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "tervik/imagergb.h"

namespace tervik::testing {

// Whether two colour images have the same size and the same pixels.
inline bool same_pixels(const ImageRGB<unsigned char>& a, const ImageRGB<unsigned char>& b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  for (std::size_t c = 0; c < 3; ++c)
    if (!std::equal(a.channel(c).data(), a.channel(c).data() + a.width() * a.height(),
                    b.channel(c).data()))
      return false;
  return true;
}

// Writes width x height pixels of `channels` (1 or 3) interleaved 8-bit samples, row after row.
inline void write_jpeg(const std::string& name, int width, int height, int channels,
                       const std::vector<unsigned char>& samples, int quality = 95) {
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + name);
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, f);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = channels;
  cinfo.in_color_space = channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(samples.data() +
                                        std::size_t(cinfo.next_scanline) * width * channels);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(f);
}

// Writes width x height pixels of `channels` (1 or 3) interleaved samples of 8 or 16 bits.
template <typename E>
void write_tiff(const std::string& name, int width, int height, int channels,
                const std::vector<E>& samples) {
  TIFF* tif = TIFFOpen(name.c_str(), "w");
  if (!tif) throw std::runtime_error("cannot create " + name);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, channels);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, int(8 * sizeof(E)));
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
  // Boost.GIL's TIFF reader insists on the resolution tags (baseline TIFF requires them).
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, 72.0f);
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, 72.0f);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  for (int y = 0; y < height; ++y) {
    E* row = const_cast<E*>(samples.data() + std::size_t(y) * width * channels);
    if (TIFFWriteScanline(tif, row, y, 0) < 0) throw std::runtime_error("TIFF write failed");
  }
  TIFFClose(tif);
}

// Writes a PNG of any libpng colour type and bit depth from `rows` (each row's packed bytes,
// 16-bit samples big-endian as the file stores them).
inline void write_png_raw(const std::string& name, int width, int height, int color_type,
                          int bit_depth, const std::vector<std::vector<unsigned char>>& rows) {
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + name);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, width, height, bit_depth, color_type, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (const auto& row : rows) png_write_row(png, row.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

}  // namespace tervik::testing
