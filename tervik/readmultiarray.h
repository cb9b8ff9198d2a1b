#pragma once
// ReadMultiArray: reads the library's multiarray files (".mult", ".prl") into MultiArray.
//
// File layout (integers little-endian): magic 255 as 2 bytes (FF 00); file type 1 byte (1 =
// multiarray); compress type 1 byte (CompressType); data type 1 byte (DataType); number of
// dimensions n, 8 bytes; n extents of 8 bytes, dimension 0 first; then the payload.
// Elements are stored with dimension 0 varying fastest (for an image: x, then rows).
//
// Payload of COMPRESS_RLE: a byte count S (8 bytes), then S bytes of Rle stream that decode to
// the elements' bytes: one per 8-bit element, 4 or 8 little-endian bytes per 32/64-bit integer,
// one 11-byte PortableFloat record per double.
// Payload of COMPRESS_PARTITION (2-D unsigned 32-bit labels only): one byte B, the width of an
// explicit label, then a bit stream from bit 240 of the file (see decode_partition).
#include <cstddef>
#include <string>
#include <vector>

#include "tervik/multiarray.h"

namespace tervik::io {

enum CompressType : unsigned char { COMPRESS_RLE = 0, COMPRESS_PARTITION = 1 };

enum DataType : unsigned char {
  DATATYPE_UINT8 = 0,
  DATATYPE_UINT32 = 4,
  DATATYPE_INT64 = 7,
  DATATYPE_FLOAT64 = 9
};

// Size of the fixed part of the header, before the extents.
constexpr std::size_t multiarray_header_size = 13;

class ReadMultiArray {
 public:
  ReadMultiArray() = default;
  // Remembers the path; the file is opened by each read.
  explicit ReadMultiArray(const std::string& path) : path_(path) {}
  void open(const std::string& path) { path_ = path; }

  // Reads the file into `array`, which takes the file's extents. Instances: unsigned char,
  // unsigned int, long long and double for D = 1, 2, 3. Throws
  // TervikFileNotFound for a missing file and TervikError for a header that does not match
  // the array's type or a malformed payload; `array` is unchanged after a failure.
  template <typename T, std::size_t D>
  ReadMultiArray& operator>>(MultiArray<T, D>& array);

  // The extents stored in the file's header, dimension 0 first (the payload is not read).
  std::vector<unsigned long long> read_extents() const;

  const std::string& path() const { return path_; }

 private:
  template <std::size_t D, typename T>
  void _read_multiarray(const std::vector<unsigned char>& file, MultiArray<T, D>& array) const;

  std::string path_;
};

}  // namespace tervik::io
