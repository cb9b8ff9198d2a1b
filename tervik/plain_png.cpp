#include "tervik/plain_png.h"

#include <libdeflate.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tervik/io_auxiliar.h"

namespace tervik::io {

namespace {

// The largest width and height the PNG library accepts by default.
constexpr std::uint32_t kMaxSide = 1000000;

std::uint32_t be32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

// One decompressor per thread, made on first use.
libdeflate_decompressor* decompressor() {
  struct Free {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
  };
  thread_local std::unique_ptr<libdeflate_decompressor, Free> d(libdeflate_alloc_decompressor());
  return d.get();
}

// The Paeth predictor of the PNG filters: whichever of left, up and up-left is closest to
// left + up - up-left (ties to left, then up).
inline int paeth(int a, int b, int c) {
  const int pa = b > c ? b - c : c - b;
  const int pb = a > c ? a - c : c - a;
  const int pc = (a + b - 2 * c) < 0 ? 2 * c - a - b : a + b - 2 * c;
  const int bc = pb <= pc ? b : c;
  return pa <= pb && pa <= pc ? a : bc;
}

// Undoes filter `type` (1 to 4) on the `n` samples of `row` (BPP samples per pixel), whose
// previous row, already unfiltered, is `up` (zeros for the first row). The samples to the left
// are carried in registers: reading them back from the row just written stalls on every byte.
template <std::size_t BPP>
void unfilter(unsigned char type, unsigned char* __restrict row,
              const unsigned char* __restrict up, std::size_t n) {
  int left[BPP] = {}, upleft[BPP] = {};
  switch (type) {
    case 1:
      for (std::size_t i = 0; i < n; i += BPP)
        for (std::size_t k = 0; k < BPP; ++k)
          row[i + k] = static_cast<unsigned char>(left[k] = (row[i + k] + left[k]) & 0xff);
      break;
    case 2:
      for (std::size_t i = 0; i < n; ++i) row[i] = static_cast<unsigned char>(row[i] + up[i]);
      break;
    case 3:
      for (std::size_t i = 0; i < n; i += BPP)
        for (std::size_t k = 0; k < BPP; ++k)
          row[i + k] = static_cast<unsigned char>(
              left[k] = (row[i + k] + ((left[k] + up[i + k]) >> 1)) & 0xff);
      break;
    case 4:
      for (std::size_t i = 0; i < n; i += BPP) {
        for (std::size_t k = 0; k < BPP; ++k) {
          const int b = up[i + k];
          left[k] = (row[i + k] + paeth(left[k], b, upleft[k])) & 0xff;
          row[i + k] = static_cast<unsigned char>(left[k]);
          upleft[k] = b;
        }
      }
      break;
    default: break;  // 0: as stored
  }
}

}  // namespace

bool PlainPng::read(const std::string& filename, std::size_t channels) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(filename.c_str(), "rb"),
                                                    &std::fclose);
  if (!f || std::fseek(f.get(), 0, SEEK_END) != 0) return false;
  const long size = std::ftell(f.get());
  if (size <= 0 || std::fseek(f.get(), 0, SEEK_SET) != 0) return false;
  file_.resize(static_cast<std::size_t>(size));
  if (std::fread(file_.data(), 1, file_.size(), f.get()) != file_.size()) return false;
  return decode(file_.data(), file_.size(), channels);
}

bool PlainPng::decode(const unsigned char* bytes, std::size_t size, std::size_t channels) {
  width_ = height_ = channels_ = 0;
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if ((channels != 1 && channels != 3) || size < 8 || std::memcmp(bytes, kSignature, 8) != 0)
    return false;
  // The chunks: IHDR, then one or more IDAT, then IEND, each whole and with its checksum.
  std::size_t pos = 8;
  const unsigned char* header = nullptr;
  const unsigned char* first_idat = nullptr;
  std::size_t idat_chunks = 0, idat_size = 0;
  for (int index = 0;; ++index) {
    if (size - pos < 12) return false;
    const std::uint32_t length = be32(bytes + pos);
    if (length > 0x7fffffffu || length > size - pos - 12) return false;
    const unsigned char* type = bytes + pos + 4;
    const unsigned char* data = type + 4;
    if (be32(data + length) != libdeflate_crc32(0, type, length + 4)) return false;
    if (std::memcmp(type, "IHDR", 4) == 0) {
      if (index != 0 || length != 13) return false;
      header = data;
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      if (index == 0 || idat_chunks != static_cast<std::size_t>(index - 1)) return false;
      if (idat_chunks++ == 0) first_idat = data;
      idat_size += length;
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      if (length != 0 || idat_chunks == 0) return false;
      break;
    } else {
      return false;  // any other chunk may change the pixels or the errors
    }
    pos += 12 + static_cast<std::size_t>(length);
  }
  const std::uint32_t width = be32(header), height = be32(header + 4);
  const unsigned char depth = header[8], colour = header[9];
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide ||
      static_cast<unsigned long long>(width) * height > max_image_pixels || depth != 8 ||
      colour != (channels == 1 ? 0 : 2) || header[10] != 0 || header[11] != 0 || header[12] != 0)
    return false;
  // The image data, joined when it spans several chunks (the chunks follow one another).
  const unsigned char* z = first_idat;
  if (idat_chunks > 1) {
    idat_.resize(idat_size);
    const unsigned char* chunk = first_idat - 8;
    for (std::size_t k = 0, at = 0; k < idat_chunks; ++k) {
      const std::uint32_t length = be32(chunk);
      std::memcpy(idat_.data() + at, chunk + 8, length);
      at += length;
      chunk += 12 + static_cast<std::size_t>(length);
    }
    z = idat_.data();
  }
  // A zlib stream (deflate, a window of at most 32 KiB, no preset dictionary) inflating to
  // exactly one filter byte and width * channels samples per row, with nothing after it. Its
  // matches may reach back as far as the data inflated so far: a stream that reaches beyond the
  // (smaller) window its header declares, which no encoder writes, is inflated here where the
  // general reader would refuse it.
  if (idat_size < 2 || (z[0] & 0x0f) != 8 || (z[0] >> 4) > 7 || (z[1] & 0x20) != 0 ||
      (z[0] * 256 + z[1]) % 31 != 0)
    return false;
  const std::size_t stride = 1 + static_cast<std::size_t>(width) * channels;
  // Deflate expands by at most 1032 to 1: far less image data cannot fill the rows, and is not
  // worth the allocation.
  if (stride * height / 1032 > idat_size) return false;
  rows_.resize(stride * height);
  std::size_t used = 0;
  if (libdeflate_zlib_decompress_ex(decompressor(), z, idat_size, rows_.data(), rows_.size(),
                                    &used, nullptr) != LIBDEFLATE_SUCCESS ||
      used != idat_size)
    return false;
  for (std::size_t y = 0; y < height; ++y)
    if (rows_[y * stride] > 4) return false;
  width_ = width;
  height_ = height;
  channels_ = channels;
  return true;
}

void PlainPng::write_planes(unsigned char* const* planes) {
  const std::size_t n = width_ * channels_, stride = n + 1;
  const std::vector<unsigned char> zeros(n, 0);
  const unsigned char* up = zeros.data();
  for (std::size_t y = 0; y < height_; ++y) {
    unsigned char* row = rows_.data() + y * stride + 1;
    const std::size_t at = y * width_;
    if (channels_ == 1) {
      unfilter<1>(row[-1], row, up, n);
      up = row;
      std::memcpy(planes[0] + at, row, width_);
      continue;
    }
    unfilter<3>(row[-1], row, up, n);
    up = row;
    unsigned char* __restrict r = planes[0] + at;
    unsigned char* __restrict g = planes[1] + at;
    unsigned char* __restrict b = planes[2] + at;
    for (std::size_t x = 0; x < width_; ++x) {
      r[x] = row[3 * x];
      g[x] = row[3 * x + 1];
      b[x] = row[3 * x + 2];
    }
  }
}

}  // namespace tervik::io
