#pragma once
// Writing of the library's multiarray files (layout in readmultiarray.h), for arrays of
// unsigned char, unsigned int, long long and double of 1, 2 or 3 dimensions.
#include <string>

#include "tervik/multiarray.h"
#include "tervik/readmultiarray.h"

namespace tervik::io {

// Writes `array` to `path` as a multiarray file with the given payload coding. The partition
// code is accepted only for 2-D unsigned int arrays. Throws TervikFileError naming the file if
// it cannot be written, TervikError for a coding the element type does not have.
template <typename T, std::size_t D>
void write_multiarray(const std::string& path, const MultiArray<T, D>& array,
                      CompressType compress = COMPRESS_RLE);

// The partition bit code of a W x H label image (labels row after row, W = extent 0), with
// explicit labels of `label_bits` bits, as it follows the label-width byte in a file: padded
// with zero bits to whole bytes.
std::vector<unsigned char> encode_partition(const unsigned int* labels, unsigned long long w,
                                            unsigned long long h, unsigned label_bits);

}  // namespace tervik::io
