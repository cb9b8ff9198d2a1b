#include "tervik/writemultiarray.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

#include "tervik/exceptions.h"
#include "tervik/portablefloat.h"
#include "tervik/rle.h"

namespace tervik::io {

namespace {

using ull = unsigned long long;

template <typename T>
constexpr DataType data_type() {
  if constexpr (std::is_same_v<T, unsigned char>) return DATATYPE_UINT8;
  if constexpr (std::is_same_v<T, unsigned int>) return DATATYPE_UINT32;
  if constexpr (std::is_same_v<T, long long>) return DATATYPE_INT64;
  return DATATYPE_FLOAT64;
}

void put_le(std::vector<unsigned char>& out, ull v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// Appends bits most significant first.
class BitWriter {
 public:
  void put(ull value, unsigned nbits) {
    for (unsigned i = nbits; i-- > 0;) {
      if (used_ == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() |= static_cast<unsigned char>(0x80 >> used_);
      used_ = (used_ + 1) & 7;
    }
  }
  std::vector<unsigned char> take() { return std::move(bytes_); }

 private:
  std::vector<unsigned char> bytes_;
  unsigned used_ = 0;  // bits used in the last byte
};

}  // namespace

std::vector<unsigned char> encode_partition(const unsigned int* labels, ull w, ull h,
                                            unsigned label_bits) {
  BitWriter bits;
  const ull n = w * h;
  ull max_label = 0;
  for (ull p = 0; p < n;) {
    const unsigned label = labels[p];
    ull run = 1;
    while (p + run < n && run < 255 && labels[p + run] == label) ++run;
    // The label, by the cheapest code the decoder resolves to it.
    bool coded = false;
    if (p >= w) {
      const unsigned above = labels[p - w];
      if (label == above) {
        bits.put(0, 1);
        coded = true;
      } else {
        ull q = p - w + 1;
        while (q < p && labels[q] == above) ++q;
        if (q < p && labels[q] == label) {
          bits.put(0b10, 2);
          coded = true;
        }
      }
    }
    if (!coded) {
      if (label == max_label + 1) {
        bits.put(0b110, 3);
        max_label = label;
      } else {
        bits.put(0b111, 3);
        bits.put(label, label_bits);
        if (label > max_label) max_label = label;
      }
    }
    if (run <= 4) {
      bits.put(0, 1);
      bits.put(run - 1, 2);
    } else {
      bits.put(1, 1);
      bits.put(run, 8);
    }
    p += run;
  }
  return bits.take();
}

template <typename T, std::size_t D>
void write_multiarray(const std::string& path, const MultiArray<T, D>& array,
                      CompressType compress) {
  constexpr bool has_partition = std::is_same_v<T, unsigned int> && D == 2;
  if (compress != COMPRESS_RLE && !(has_partition && compress == COMPRESS_PARTITION))
    throw TervikError("write_multiarray: compress type " + std::to_string(int(compress)) +
                      " is not available for this array type");
  std::vector<unsigned char> out;
  put_le(out, 255, 2);
  out.push_back(1);
  out.push_back(compress);
  out.push_back(data_type<T>());
  put_le(out, D, 8);
  for (std::size_t i = 0; i < D; ++i) put_le(out, array.shape()[i], 8);

  const T* data = array.data();
  const ull n = array.num_elements();
  if (compress == COMPRESS_PARTITION) {
    ull max_label = 0;
    for (ull i = 0; i < n; ++i) max_label = std::max<ull>(max_label, data[i]);
    unsigned label_bits = 1;
    while (label_bits < 32 && (max_label >> label_bits) != 0) ++label_bits;
    out.push_back(static_cast<unsigned char>(label_bits));
    const std::vector<unsigned char> code =
        encode_partition(reinterpret_cast<const unsigned int*>(data), array.shape()[0],
                         D == 2 ? array.shape()[D - 1] : 1, label_bits);
    out.insert(out.end(), code.begin(), code.end());
  } else {
    // The elements' bytes, dimension 0 fastest (the array's own order).
    std::vector<unsigned char> raw;
    if constexpr (std::is_same_v<T, double>) {
      const PortableFloat pf;
      raw.resize(n * PortableFloat::max_record_size);
      for (ull i = 0; i < n; ++i) pf.encode(data[i], raw.data() + i * PortableFloat::max_record_size);
    } else {
      raw.reserve(n * sizeof(T));
      for (ull i = 0; i < n; ++i) put_le(raw, static_cast<ull>(data[i]), sizeof(T));
    }
    const std::vector<unsigned char> stream = compress::Rle::compress(raw);
    put_le(out, stream.size(), 8);
    out.insert(out.end(), stream.begin(), stream.end());
  }

  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw TervikFileError(path, "cannot open the file for writing");
  const bool written = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) throw TervikFileError(path, "write failed (disk full?)");
}

template void write_multiarray(const std::string&, const MultiArray<unsigned char, 1>&, CompressType);
template void write_multiarray(const std::string&, const MultiArray<unsigned char, 2>&, CompressType);
template void write_multiarray(const std::string&, const MultiArray<unsigned char, 3>&, CompressType);
template void write_multiarray(const std::string&, const MultiArray<unsigned int, 1>&, CompressType);
template void write_multiarray(const std::string&, const MultiArray<unsigned int, 2>&, CompressType);
template void write_multiarray(const std::string&, const MultiArray<unsigned int, 3>&, CompressType);
template void write_multiarray(const std::string&, const MultiArray<long long, 1>&, CompressType);
template void write_multiarray(const std::string&, const MultiArray<long long, 2>&, CompressType);
template void write_multiarray(const std::string&, const MultiArray<long long, 3>&, CompressType);
template void write_multiarray(const std::string&, const MultiArray<double, 1>&, CompressType);
template void write_multiarray(const std::string&, const MultiArray<double, 2>&, CompressType);
template void write_multiarray(const std::string&, const MultiArray<double, 3>&, CompressType);

}  // namespace tervik::io
