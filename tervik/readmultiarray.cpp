#include "tervik/readmultiarray.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <limits>
#include <type_traits>

#include "tervik/exceptions.h"
#include "tervik/input_file.h"
#include "tervik/portablefloat.h"
#include "tervik/readbitstream.h"
#include "tervik/rle.h"

namespace tervik::io {

namespace {

using ull = unsigned long long;

// How each element type is stored.
template <typename T>
struct Coding;
template <>
struct Coding<unsigned char> {
  static constexpr DataType type = DATATYPE_UINT8;
  static constexpr const char* mismatch = "Datatype is not uint8 in file";
  static constexpr std::size_t bytes = 1;
};
template <>
struct Coding<unsigned int> {
  static constexpr DataType type = DATATYPE_UINT32;
  static constexpr const char* mismatch = "Datatype is not uint32 in file";
  static constexpr std::size_t bytes = 4;
};
template <>
struct Coding<long long> {
  static constexpr DataType type = DATATYPE_INT64;
  static constexpr const char* mismatch = "Datatype is not int64 in file";
  static constexpr std::size_t bytes = 8;
};
template <>
struct Coding<double> {
  static constexpr DataType type = DATATYPE_FLOAT64;
  static constexpr const char* mismatch = "Datatype is not float64 in file";
  static constexpr std::size_t bytes = PortableFloat::max_record_size;
};

ull little_endian(const unsigned char* p, std::size_t n) {
  ull v = 0;
  for (std::size_t i = n; i-- > 0;) v = (v << 8) | p[i];
  return v;
}

std::vector<unsigned char> load(const std::string& path) {
  // A missing file is "not found"; one that exists but cannot be read (a FIFO, a folder, no
  // permission) says why.
  const std::string problem = input_file_problem(path);
  if (problem == "not found") throw TervikFileNotFound(path);
  if (!problem.empty()) throw TervikFileError(path, "cannot read the file: " + problem);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw TervikFileNotFound(path);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>());
}

// Checks magic and file type; returns the number of dimensions.
ull check_prefix(const std::string& path, const std::vector<unsigned char>& file) {
  if (file.size() < 2 || little_endian(file.data(), 2) != 255)
    throw TervikError("Magic number does not exists in the file");
  if (file.size() < 3 || file[2] != 1) throw TervikError("File type is not multiarray");
  if (file.size() < multiarray_header_size)
    throw TervikError("Multiarray file '" + path + "' ends inside its header");
  return little_endian(file.data() + 5, 8);
}

std::vector<ull> read_extents_of(const std::string& path, const std::vector<unsigned char>& file,
                                 ull n) {
  if (n > (file.size() - multiarray_header_size) / 8)
    throw TervikError("Multiarray file '" + path + "' ends inside its " + std::to_string(n) +
                      " extents");
  std::vector<ull> extents(n);
  for (ull i = 0; i < n; ++i)
    extents[i] = little_endian(file.data() + multiarray_header_size + 8 * i, 8);
  return extents;
}

// The number of elements, or a TervikError if the product overflows.
ull element_count(const std::string& path, const std::vector<ull>& extents) {
  ull n = 1;
  for (ull e : extents) {
    if (e != 0 && n > std::numeric_limits<ull>::max() / e)
      throw TervikError("Multiarray file '" + path + "': the extents' product overflows");
    n *= e;
  }
  for (ull e : extents) if (e == 0) return 0;
  return n;
}

template <typename T>
T decode_element(const unsigned char* p, const PortableFloat& pf) {
  if constexpr (std::is_same_v<T, double>) {
    return pf.decode(p, PortableFloat::max_record_size);
  } else if constexpr (std::is_same_v<T, long long>) {
    return static_cast<long long>(little_endian(p, 8));
  } else {
    return static_cast<T>(little_endian(p, sizeof(T)));
  }
}

// Run-length payload at `pos`: byte count S, S bytes of stream, n elements of T.
template <typename T>
std::vector<T> read_rle_payload(const std::string& path, const std::vector<unsigned char>& file,
                                std::size_t pos, ull n) {
  if (file.size() - pos < 8)
    throw TervikError("Multiarray file '" + path + "' ends before its payload size");
  const ull s = little_endian(file.data() + pos, 8);
  pos += 8;
  if (s > file.size() - pos)
    throw TervikError("Multiarray file '" + path + "': the payload of " + std::to_string(s) +
                      " bytes runs past the end of the file");
  // One token of at most 4 bytes yields at most Rle::max_run bytes.
  const ull capacity = (s + 3) / 4 * compress::Rle::max_run;
  if (n > capacity / Coding<T>::bytes)
    throw TervikError("Multiarray file '" + path + "': a payload of " + std::to_string(s) +
                      " bytes cannot hold " + std::to_string(n) + " elements");
  const ull size = n * Coding<T>::bytes;
  std::vector<unsigned char> bytes(size);
  const ull got = compress::Rle::uncompress(file.data() + pos, bytes.data(), s, size);
  if (got != size)
    throw TervikError("Multiarray file '" + path + "': the run-length stream stops after " +
                      std::to_string(got) + " of " + std::to_string(size) + " bytes");
  const PortableFloat pf;
  std::vector<T> out(n);
  for (ull i = 0; i < n; ++i) out[i] = decode_element<T>(bytes.data() + i * Coding<T>::bytes, pf);
  return out;
}

// First bit of the partition bit stream: the 29-byte header of a 2-D file and the byte B.
constexpr ull partition_first_bit = 240;

// Partition payload of a W x H label image (W = extent 0), decoded from the bit stream.
std::vector<unsigned int> read_partition_payload(const std::string& path,
                                                 const std::vector<unsigned char>& file, ull w,
                                                 ull h) {
  const std::size_t b_pos = multiarray_header_size + 16;
  if (file.size() <= b_pos)
    throw TervikError("Multiarray file '" + path + "' ends before its label width");
  const unsigned b = file[b_pos];
  if (b > 32)
    throw TervikError("Multiarray file '" + path + "': explicit labels of " + std::to_string(b) +
                      " bits do not fit 32-bit labels");
  // A run gives at most 4 labels for 4 bits or 255 labels for 10 bits.
  const ull bits = (file.size() - b_pos - 1) * 8;
  const ull n = w * h;
  if (n / 255 > bits / 10 + 1)
    throw TervikError("Multiarray file '" + path + "': " + std::to_string(bits) +
                      " bits of partition code cannot hold " + std::to_string(n) + " labels");
  std::vector<unsigned int> labels(n);
  ReadBitStream in(path);
  in.seekg(partition_first_bit);
  ull max_label = 0;
  ull p = 0;
  while (p < n) {
    ull label;
    if (in.read(1) == 0) {  // the label directly above
      if (p < w)
        throw TervikError("Multiarray file '" + path + "': label " + std::to_string(p) +
                          " of the first row is taken from the row above");
      label = labels[p - w];
    } else if (in.read(1) == 0) {  // the first label, from above-right on, that differs
      if (p < w)
        throw TervikError("Multiarray file '" + path + "': label " + std::to_string(p) +
                          " of the first row is taken from the row above");
      const unsigned above = labels[p - w];
      ull q = p - w + 1;
      while (q < p && labels[q] == above) ++q;  // never past the labels decoded so far
      if (q == p)
        throw TervikError("Multiarray file '" + path + "': no label differs from the one above "
                          "label " + std::to_string(p));
      label = labels[q];
    } else if (in.read(1) == 1) {  // an explicit label
      label = in.read(static_cast<unsigned char>(b));
      if (label > max_label) max_label = label;
    } else {  // a new label
      if (max_label == std::numeric_limits<unsigned int>::max())
        throw TervikError("Multiarray file '" + path + "': more labels than 32 bits can hold");
      label = ++max_label;
    }
    const ull run = in.read(1) == 1 ? in.read(8) : in.read(2) + 1;
    if (run > n - p)
      throw TervikError("Multiarray file '" + path + "': a run of " + std::to_string(run) +
                        " labels at label " + std::to_string(p) + " goes past the last label " +
                        std::to_string(n - 1));
    std::fill_n(labels.begin() + p, run, static_cast<unsigned int>(label));
    p += run;
  }
  return labels;
}

}  // namespace

template <std::size_t D, typename T>
void ReadMultiArray::_read_multiarray(const std::vector<unsigned char>& file,
                                      MultiArray<T, D>& array) const {
  const ull ndims = check_prefix(path_, file);
  const unsigned char compress = file[3];
  if (file[4] != Coding<T>::type) throw TervikError(Coding<T>::mismatch);
  if (ndims != D)
    throw TervikError("Dimensions in the file do not correspond to templated dimensions");
  constexpr bool has_partition = std::is_same_v<T, unsigned int>;
  if (compress != COMPRESS_RLE && !(has_partition && compress == COMPRESS_PARTITION))
    throw TervikError("Unknown compress type");
  const std::vector<ull> extents = read_extents_of(path_, file, D);
  const ull n = element_count(path_, extents);

  std::vector<T> elements;
  if (compress == COMPRESS_RLE) {
    elements = read_rle_payload<T>(path_, file, multiarray_header_size + 8 * D, n);
  } else if constexpr (has_partition) {
    if (D != 2)
      throw TervikError("Multiarray file '" + path_ + "': the partition code needs 2 dimensions");
    elements = read_partition_payload(path_, file, extents[0], extents[1]);
  }
  std::array<std::size_t, D> shape;
  for (std::size_t i = 0; i < D; ++i) shape[i] = static_cast<std::size_t>(extents[i]);
  MultiArray<T, D> result(shape);
  // Both orders have dimension 0 fastest.
  std::copy(elements.begin(), elements.end(), result.data());
  array = result;
}

template <typename T, std::size_t D>
ReadMultiArray& ReadMultiArray::operator>>(MultiArray<T, D>& array) {
  _read_multiarray<D, T>(load(path_), array);
  return *this;
}

std::vector<unsigned long long> ReadMultiArray::read_extents() const {
  const std::vector<unsigned char> file = load(path_);
  return read_extents_of(path_, file, check_prefix(path_, file));
}

template ReadMultiArray& ReadMultiArray::operator>>(MultiArray<unsigned char, 1>&);
template ReadMultiArray& ReadMultiArray::operator>>(MultiArray<unsigned char, 2>&);
template ReadMultiArray& ReadMultiArray::operator>>(MultiArray<unsigned char, 3>&);
template ReadMultiArray& ReadMultiArray::operator>>(MultiArray<unsigned int, 1>&);
template ReadMultiArray& ReadMultiArray::operator>>(MultiArray<unsigned int, 2>&);
template ReadMultiArray& ReadMultiArray::operator>>(MultiArray<unsigned int, 3>&);
template ReadMultiArray& ReadMultiArray::operator>>(MultiArray<double, 1>&);
template ReadMultiArray& ReadMultiArray::operator>>(MultiArray<double, 2>&);
template ReadMultiArray& ReadMultiArray::operator>>(MultiArray<double, 3>&);
template ReadMultiArray& ReadMultiArray::operator>>(MultiArray<long long, 1>&);
template ReadMultiArray& ReadMultiArray::operator>>(MultiArray<long long, 2>&);
template ReadMultiArray& ReadMultiArray::operator>>(MultiArray<long long, 3>&);

}  // namespace tervik::io
