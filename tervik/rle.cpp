#include "tervik/rle.h"

#include <algorithm>
#include <array>
#include <string>

#include "tervik/exceptions.h"

namespace tervik::compress {

namespace {

[[noreturn]] void fail_overflow(unsigned long long dstlen) {
  throw TervikError("Run-length stream decodes to more than the " + std::to_string(dstlen) +
                    " bytes of the array");
}

[[noreturn]] void fail_truncated(unsigned long long pos) {
  throw TervikError("Run-length stream ends inside a token at byte " + std::to_string(pos));
}

}  // namespace

unsigned long long Rle::uncompress(const unsigned char* src, unsigned char* dst,
                                   unsigned long long srclen, unsigned long long dstlen) {
  if (srclen == 0) return 0;
  const unsigned char escape = src[0];
  unsigned long long in = 1, out = 0;
  while (in < srclen) {
    const unsigned char c = src[in++];
    if (c != escape) {
      if (out == dstlen) fail_overflow(dstlen);
      dst[out++] = c;
      continue;
    }
    if (in == srclen) fail_truncated(in - 1);
    const unsigned char n = src[in++];
    unsigned long long count;
    unsigned char value = escape;
    if (n <= 2) {
      count = n + 1ull;
    } else {
      unsigned long long length = n;
      if (n & 0x80) {
        if (in == srclen) fail_truncated(in - 2);
        length = (static_cast<unsigned long long>(n & 0x7F) << 8) | src[in++];
      }
      if (in == srclen) fail_truncated(in - 2);
      value = src[in++];
      count = length + 1;
    }
    if (count > dstlen - out) fail_overflow(dstlen);
    std::fill_n(dst + out, count, value);
    out += count;
  }
  return out;
}

unsigned long long Rle::write_rep(unsigned char* dst, unsigned char escape, unsigned char v,
                                  unsigned long long k) {
  unsigned long long n = 0;
  dst[n++] = escape;
  if (k <= 3) {  // a short run of the escape byte itself
    dst[n++] = static_cast<unsigned char>(k - 1);
    return n;
  }
  const unsigned long long length = k - 1;
  if (length <= 127) {
    dst[n++] = static_cast<unsigned char>(length);
  } else {
    dst[n++] = static_cast<unsigned char>(0x80 | (length >> 8));
    dst[n++] = static_cast<unsigned char>(length & 0xFF);
  }
  dst[n++] = v;
  return n;
}

unsigned long long Rle::write_non_rep(unsigned char* dst, unsigned char v, unsigned long long k) {
  std::fill_n(dst, k, v);
  return k;
}

unsigned long long Rle::compress(const unsigned char* src, unsigned char* dst,
                                 unsigned long long len) {
  std::array<unsigned long long, 256> freq{};
  for (unsigned long long i = 0; i < len; ++i) ++freq[src[i]];
  const auto escape = static_cast<unsigned char>(
      std::min_element(freq.begin(), freq.end()) - freq.begin());  // lowest of the rarest
  unsigned long long out = 0;
  dst[out++] = escape;
  unsigned long long i = 0;
  while (i < len) {
    const unsigned char v = src[i];
    unsigned long long k = 1;
    while (i + k < len && src[i + k] == v && k < max_run) ++k;
    if (k > 3 || v == escape)
      out += write_rep(dst + out, escape, v, k);
    else
      out += write_non_rep(dst + out, v, k);
    i += k;
  }
  return out;
}

unsigned long long Rle::max_compressed_size(unsigned long long len) {
  // Only a lone escape byte grows (to two bytes), and the escape is the rarest value, so it
  // makes at most len / 256 of the input; the escape byte itself comes first.
  return len + len / 256 + 1;
}

std::vector<unsigned char> Rle::compress(const std::vector<unsigned char>& src) {
  std::vector<unsigned char> out(max_compressed_size(src.size()));
  out.resize(compress(src.data(), out.data(), src.size()));
  return out;
}

std::vector<unsigned char> Rle::uncompress(const std::vector<unsigned char>& src,
                                           unsigned long long expected_size) {
  std::vector<unsigned char> out(expected_size);
  const unsigned long long n = uncompress(src.data(), out.data(), src.size(), expected_size);
  if (n != expected_size)
    throw TervikError("Run-length stream stops after " + std::to_string(n) + " of " +
                      std::to_string(expected_size) + " bytes");
  return out;
}

}  // namespace tervik::compress
