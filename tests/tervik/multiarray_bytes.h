#pragma once
// Test helpers that build multiarray files byte by byte.
#include <string>
#include <vector>

#include "test_util.h"

namespace tervik::testing::multiarray_bytes {

using Bytes = std::vector<unsigned char>;

inline void put_le(Bytes& out, unsigned long long v, int n) {
  for (int i = 0; i < n; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// The header of a multiarray file with the given fields.
inline Bytes header(int compress, int data_type, const std::vector<unsigned long long>& extents,
             int file_type = 1) {
  Bytes out{0xFF, 0x00, static_cast<unsigned char>(file_type), static_cast<unsigned char>(compress),
            static_cast<unsigned char>(data_type)};
  put_le(out, extents.size(), 8);
  for (auto e : extents) put_le(out, e, 8);
  return out;
}

// A run-length payload: byte count, then the stream.
inline Bytes rle_payload(const Bytes& stream) {
  Bytes out;
  put_le(out, stream.size(), 8);
  out.insert(out.end(), stream.begin(), stream.end());
  return out;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline void write_bytes(const std::string& name, const Bytes& b) {
  tervik::testing::write_file(name, std::string(b.begin(), b.end()));
}

// Bits written most significant first, from a string of '0' and '1' (other characters are
// ignored), padded with zeros to whole bytes.
inline Bytes bits(const std::string& s) {
  Bytes out;
  int used = 0;
  for (char c : s) {
    if (c != '0' && c != '1') continue;
    if (used == 0) out.push_back(0);
    if (c == '1') out.back() |= static_cast<unsigned char>(0x80 >> used);
    used = (used + 1) % 8;
  }
  return out;
}

}  // namespace tervik::testing::multiarray_bytes
