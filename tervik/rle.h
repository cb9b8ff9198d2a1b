#pragma once
// Rle: the byte-level run-length coder of the library's multiarray files.
//
// Stream layout: the first byte is the escape byte E; then tokens until the input ends.
// A byte c != E is the literal c. E n with n <= 2 is n + 1 copies of E. E n v with 2 < n < 128
// is n + 1 copies of v; E n m v with n >= 128 is (((n & 0x7F) << 8) | m) + 1 copies of v.
// The compressor takes as E the least frequent byte value (the lowest of equally rare ones).
#include <vector>

namespace tervik::compress {

class Rle {
 public:
  // Decodes the srclen bytes of stream src into dst, which holds dstlen bytes; returns the
  // number of bytes written. Throws TervikError if the stream would write past dstlen or ends
  // inside a token; never reads or writes outside the two buffers.
  static unsigned long long uncompress(const unsigned char* src, unsigned char* dst,
                                       unsigned long long srclen, unsigned long long dstlen);

  // Encodes the len bytes of src into dst, which must hold max_compressed_size(len) bytes;
  // returns the compressed length.
  static unsigned long long compress(const unsigned char* src, unsigned char* dst,
                                     unsigned long long len);

  // The largest stream that compress can produce from len bytes.
  static unsigned long long max_compressed_size(unsigned long long len);

  // Vector forms of the two coders; uncompress throws unless the stream decodes to exactly
  // expected_size bytes.
  static std::vector<unsigned char> compress(const std::vector<unsigned char>& src);
  static std::vector<unsigned char> uncompress(const std::vector<unsigned char>& src,
                                               unsigned long long expected_size);

  // The longest run that one token holds (a 15-bit count, plus one).
  static constexpr unsigned long long max_run = 0x8000;

 private:
  // Emits a run of k > 3 equal bytes v (or of k <= 3 escape bytes) at dst; returns its length.
  static unsigned long long write_rep(unsigned char* dst, unsigned char escape, unsigned char v,
                                      unsigned long long k);
  // Emits k <= 3 copies of the non-escape byte v at dst; returns k.
  static unsigned long long write_non_rep(unsigned char* dst, unsigned char v,
                                          unsigned long long k);
};

}  // namespace tervik::compress
