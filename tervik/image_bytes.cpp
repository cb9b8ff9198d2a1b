// In-memory PNG and JPEG codecs: PNG written with zlib in parallel bands and read with libpng's
// simplified interface; JPEG through libjpeg, whose fatal errors reach a callback that throws,
// so that an error unwinds through the library like any C++ exception (the Debian libraries
// carry unwind tables), as in the file readers of io_auxiliar.cpp.
#include "tervik/image_bytes.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include "tervik/exceptions.h"

namespace tervik::io {

namespace {



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

namespace {

void put32(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

// Appends a PNG chunk: length, type, data, CRC of type and data.
void put_chunk(std::vector<unsigned char>& out, const char* type, const unsigned char* data,
               std::size_t size) {
  put32(out, static_cast<std::uint32_t>(size));
  const std::size_t at = out.size();
  out.insert(out.end(), type, type + 4);
  if (size > 0) out.insert(out.end(), data, data + size);
  put32(out, static_cast<std::uint32_t>(crc32(0L, out.data() + at, static_cast<uInt>(size + 4))));
}

constexpr std::size_t kBandRows = 64;

// Rows [y0, y1) filtered ("up": each byte minus the one above; the first image row as it is),
// each after its filter-type byte, as the image data stream holds them, written to `rows`.
void filter_rows(const ImageRGB<unsigned char>& image, std::size_t y0, std::size_t y1,
                 unsigned char* rows) {
  const std::size_t w = image.width(), stride = 1 + 3 * w;
  for (std::size_t y = y0; y < y1; ++y) {
    unsigned char* row = rows + (y - y0) * stride;
    row[0] = 2;
    for (std::size_t c = 0; c < 3; ++c) {
      const unsigned char* src = image.channel(c).data() + y * w;
      const unsigned char* above = y > 0 ? src - w : nullptr;
      for (std::size_t x = 0; x < w; ++x)
        row[1 + x * 3 + c] = static_cast<unsigned char>(src[x] - (above ? above[x] : 0));
    }
  }
}

// True when every row of [y0, y1) (y0 > 0) repeats the row above it: the band filters to zeros
// after the filter-type bytes, whatever the pixels.
bool repeats_above(const ImageRGB<unsigned char>& image, std::size_t y0, std::size_t y1) {
  const std::size_t w = image.width();
  for (std::size_t c = 0; c < 3; ++c) {
    const unsigned char* p = image.channel(c).data();
    if (std::memcmp(p + y0 * w, p + (y0 - 1) * w, (y1 - y0) * w) != 0) return false;
  }
  return true;
}

// One band's filtered rows as a raw deflate stream, ended by a full flush (byte-aligned, no
// reference to earlier bands) or, for the last band, finished. `scratch` is reused between
// calls. Returns an error message, empty on success.
std::string deflate_band(const unsigned char* rows, std::size_t size, int level, bool last,
                         std::vector<unsigned char>& scratch, std::vector<unsigned char>& out) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return "zlib cannot start";
  const std::size_t bound = deflateBound(&z, static_cast<uLong>(size)) + 16;
  if (scratch.size() < bound) scratch.resize(bound);
  z.next_in = const_cast<unsigned char*>(rows);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = scratch.data();
  z.avail_out = static_cast<uInt>(bound);
  const int status = deflate(&z, last ? Z_FINISH : Z_FULL_FLUSH);
  const bool ok = status == (last ? Z_STREAM_END : Z_OK) && z.avail_in == 0;
  out.assign(scratch.data(), scratch.data() + (bound - z.avail_out));
  deflateEnd(&z);
  return ok ? std::string() : "zlib failed";
}

}  // namespace

std::vector<unsigned char> encode_png_bytes(const ImageRGB<unsigned char>& image, int level,
                                            int threads) {
  TERVIK_CHECK(image.width() > 0 && image.height() > 0 && level >= 0 && level <= 9 &&
                   image.width() < (1u << 24) && image.height() < (1u << 24),
               "encode_png_bytes: a " << image.width() << " x " << image.height()
                                      << " image at level " << level);
  // The image data is one zlib stream made of independent bands of rows: each band is a raw
  // deflate stream ended by a full flush, the last one finished, so the bands compress in
  // parallel and the bytes do not depend on the threads. A band that only repeats the row
  // above it (the flat background of a texture atlas, say) compresses to the same bytes
  // wherever it lies, so those are made once.
  const std::size_t w = image.width(), h = image.height(), stride = 1 + 3 * w;
  const std::size_t bands = (h + kBandRows - 1) / kBandRows;
  std::vector<std::vector<unsigned char>> packed(bands);
  std::vector<uLong> adlers(bands), lengths(bands);
  std::vector<std::string> errors(bands);
  std::vector<char> repeat(bands, 0);
  const std::size_t workers = std::max<std::size_t>(1, std::min<std::size_t>(std::size_t(std::max(threads, 1)), bands));
  const auto on_workers = [&](const auto& body) {  // body(band, worker) for every band
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < workers; ++t)
      pool.emplace_back([&, t] {
        for (std::size_t b = t; b < bands; b += workers) body(b, t);
      });
    for (std::size_t b = 0; b < bands; b += workers) body(b, 0);
    for (auto& th : pool) th.join();
  };
  on_workers([&](std::size_t b, std::size_t) {
    const std::size_t y0 = b * kBandRows, y1 = std::min(h, y0 + kBandRows);
    repeat[b] = b > 0 && repeats_above(image, y0, y1);
  });
  // The repeated bands: a full one, and the last one if it repeats (it is finished, and may be
  // shorter).
  std::vector<unsigned char> scratch, rows;
  std::vector<unsigned char> repeat_bytes[2];
  uLong repeat_adler[2] = {1L, 1L};
  for (std::size_t b = 0; b < bands; ++b) {
    const bool last = b + 1 == bands;
    if (!repeat[b] || (!last && !repeat_bytes[0].empty())) continue;
    const std::size_t n = std::min(h, (b + 1) * kBandRows) - b * kBandRows;
    rows.assign(n * stride, 0);
    for (std::size_t r = 0; r < n; ++r) rows[r * stride] = 2;
    const std::string e = deflate_band(rows.data(), rows.size(), level, last, scratch, repeat_bytes[last]);
    if (!e.empty()) throw TervikError("encode_png_bytes: " + e + " on rows that repeat");
    repeat_adler[last] = adler32(1L, rows.data(), static_cast<uInt>(rows.size()));
    if (last) break;
  }
  std::vector<std::vector<unsigned char>> scratches(workers), row_buffers(workers);
  on_workers([&](std::size_t b, std::size_t t) {
    const std::size_t y0 = b * kBandRows, y1 = std::min(h, y0 + kBandRows);
    const bool last = b + 1 == bands;
    lengths[b] = static_cast<uLong>((y1 - y0) * stride);
    if (repeat[b]) {
      adlers[b] = repeat_adler[last];
      return;
    }
    std::vector<unsigned char>& rows_of_band = row_buffers[t];
    rows_of_band.resize((y1 - y0) * stride);
    filter_rows(image, y0, y1, rows_of_band.data());
    adlers[b] = adler32(1L, rows_of_band.data(), static_cast<uInt>(rows_of_band.size()));
    const std::string e = deflate_band(rows_of_band.data(), rows_of_band.size(), level, last,
                                       scratches[t], packed[b]);
    if (!e.empty()) errors[b] = e + " on rows " + std::to_string(y0) + " to " + std::to_string(y1 - 1);
  });
  for (const std::string& e : errors)
    if (!e.empty()) throw TervikError("encode_png_bytes: " + e);

  std::vector<unsigned char> stream = {0x78, 0x01};  // zlib header: deflate, 32 KiB window
  uLong adler = 1L;
  for (std::size_t b = 0; b < bands; ++b) {
    const std::vector<unsigned char>& bytes = repeat[b] ? repeat_bytes[b + 1 == bands] : packed[b];
    stream.insert(stream.end(), bytes.begin(), bytes.end());
    adler = adler32_combine(adler, adlers[b], static_cast<z_off_t>(lengths[b]));
  }
  put32(stream, static_cast<std::uint32_t>(adler));
  std::vector<unsigned char> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  std::vector<unsigned char> header;
  put32(header, static_cast<std::uint32_t>(image.width()));
  put32(header, static_cast<std::uint32_t>(image.height()));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, deflate, adaptive filters, no interlace
  put_chunk(out, "IHDR", header.data(), header.size());
  for (std::size_t at = 0; at < stream.size(); at += (1u << 24))
    put_chunk(out, "IDAT", stream.data() + at, std::min<std::size_t>(1u << 24, stream.size() - at));
  put_chunk(out, "IEND", nullptr, 0);
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
