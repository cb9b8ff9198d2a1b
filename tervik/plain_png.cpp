#include "tervik/plain_png.h"

#include <libdeflate.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <tmmintrin.h>
#endif

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

// Rows are followed by this many spare bytes, so that a pixel's samples can be read as one
// 4-byte word.
constexpr std::size_t kRowPadding = 4;

#if defined(__SSE2__)
// Four samples from p, in the low 16-bit lanes.
inline __m128i load4(const unsigned char* p) {
  std::int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_unpacklo_epi8(_mm_cvtsi32_si128(v), _mm_setzero_si128());
}

// x where the lanes of `mask` are set, y elsewhere.
inline __m128i select(__m128i mask, __m128i x, __m128i y) {
  return _mm_or_si128(_mm_and_si128(mask, x), _mm_andnot_si128(mask, y));
}

inline __m128i abs16(__m128i x) { return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x)); }

// unfilter<3> for the Paeth filter, a pixel's three samples side by side in 16-bit lanes: the
// scalar loop goes sample by sample, each waiting for the one three places before it, and is
// slowed further by the predictor's branches. The same arithmetic, cut to 8 bits per pixel. The
// next pixel is read before this one is stored over its first sample, so that the stores can be
// whole words; `row` and `up` must have kRowPadding readable bytes after their n samples, and
// the last pixel is stored byte by byte (the next row's filter type follows it).
void unpaeth_rgb_sse2(unsigned char* row, const unsigned char* up, std::size_t n) {
  const __m128i low_byte = _mm_set1_epi16(0xff);
  __m128i left = _mm_setzero_si128(), upleft = _mm_setzero_si128();
  __m128i filtered = load4(row);
  for (std::size_t i = 0; i < n; i += 3) {
    const __m128i next = load4(row + i + 3);
    // paeth(): pa = |b - c|, pb = |a - c|, pc = |a + b - 2 c|; a when pa is the smallest, else b
    // when pb is, else c.
    const __m128i b = load4(up + i);
    const __m128i bc = _mm_sub_epi16(b, upleft), ac = _mm_sub_epi16(left, upleft);
    const __m128i pa = abs16(bc), pb = abs16(ac), pc = abs16(_mm_add_epi16(bc, ac));
    const __m128i least = _mm_min_epi16(pa, _mm_min_epi16(pb, pc));
    const __m128i predicted =
        select(_mm_cmpeq_epi16(pa, least), left, select(_mm_cmpeq_epi16(pb, least), b, upleft));
    left = _mm_and_si128(_mm_add_epi16(filtered, predicted), low_byte);
    upleft = b;
    const std::int32_t word = _mm_cvtsi128_si32(_mm_packus_epi16(left, left));
    if (i + 3 < n) {
      std::memcpy(row + i, &word, 4);
    } else {
      std::memcpy(row + i, &word, 3);
    }
    filtered = next;
  }
}
#endif

// Splits `width` interleaved RGB pixels into three planes.
void split_rgb(const unsigned char* __restrict rgb, unsigned char* __restrict r,
               unsigned char* __restrict g, unsigned char* __restrict b, std::size_t width) {
  for (std::size_t x = 0; x < width; ++x) {
    r[x] = rgb[3 * x];
    g[x] = rgb[3 * x + 1];
    b[x] = rgb[3 * x + 2];
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
// The bytes of three 16-byte thirds picked by one shuffle each, merged.
__attribute__((target("ssse3"))) inline __m128i gather_thirds(__m128i a, __m128i m, __m128i z,
                                                               __m128i s0, __m128i s1,
                                                               __m128i s2) {
  return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, s0), _mm_shuffle_epi8(m, s1)),
                      _mm_shuffle_epi8(z, s2));
}

// split_rgb 16 pixels at a time with byte shuffles (the compiler keeps the stride-3 loop
// scalar): each plane's 16 bytes gather from the three 16-byte thirds of 48 input bytes.
__attribute__((target("ssse3"))) void split_rgb_ssse3(const unsigned char* __restrict rgb,
                                                       unsigned char* __restrict r,
                                                       unsigned char* __restrict g,
                                                       unsigned char* __restrict b,
                                                       std::size_t width) {
  // Shuffle k of plane c takes from third k the bytes 3 j + c - 16 k that fall in it, into
  // position j; -1 (a set top bit) leaves a zero.
  const __m128i r0 = _mm_setr_epi8(0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i r1 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14, -1, -1, -1, -1, -1);
  const __m128i r2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 4, 7, 10, 13);
  const __m128i g0 = _mm_setr_epi8(1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i g1 = _mm_setr_epi8(-1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1);
  const __m128i g2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14);
  const __m128i b0 = _mm_setr_epi8(2, 5, 8, 11, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i b1 = _mm_setr_epi8(-1, -1, -1, -1, -1, 1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1);
  const __m128i b2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15);
  std::size_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const unsigned char* in = rgb + 3 * x;
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16));
    const __m128i z = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(r + x), gather_thirds(a, m, z, r0, r1, r2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(g + x), gather_thirds(a, m, z, g0, g1, g2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(b + x), gather_thirds(a, m, z, b0, b1, b2));
  }
  split_rgb(rgb + 3 * x, r + x, g + x, b + x, width - x);
}
#endif

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
  rows_.resize(stride * height + kRowPadding);
  std::size_t used = 0;
  if (libdeflate_zlib_decompress_ex(decompressor(), z, idat_size, rows_.data(), stride * height,
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
  // The sizes are copied: a store through a byte pointer may alias the members, which would
  // make the compiler reload them on every byte and keep the loops scalar.
  const std::size_t width = width_, height = height_, channels = channels_;
  const std::size_t n = width * channels, stride = n + 1;
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
#endif
  const std::vector<unsigned char> zeros(n + kRowPadding, 0);
  const unsigned char* up = zeros.data();
  for (std::size_t y = 0; y < height; ++y) {
    unsigned char* row = rows_.data() + y * stride + 1;
    const std::size_t at = y * width;
    if (channels == 1) {
      unfilter<1>(row[-1], row, up, n);
      up = row;
      std::memcpy(planes[0] + at, row, width);
      continue;
    }
#if defined(__SSE2__)
    if (row[-1] == 4) {
      unpaeth_rgb_sse2(row, up, n);
    } else {
      unfilter<3>(row[-1], row, up, n);
    }
#else
    unfilter<3>(row[-1], row, up, n);
#endif
    up = row;
#if defined(__x86_64__) && defined(__GNUC__)
    if (ssse3) {
      split_rgb_ssse3(row, planes[0] + at, planes[1] + at, planes[2] + at, width);
      continue;
    }
#endif
    split_rgb(row, planes[0] + at, planes[1] + at, planes[2] + at, width);
  }
}

}  // namespace tervik::io
