// Fuzzes the multiarray reader: the input is written to a file and read into every array type
// that the reader has. Any exception of the library's family is an accepted rejection.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "tervik/exceptions.h"
#include "tervik/portablefloat.h"
#include "tervik/readmultiarray.h"

namespace {

template <typename T, std::size_t D>
void try_read(const std::string& path) {
  tervik::MultiArray<T, D> a;
  try {
    tervik::io::ReadMultiArray(path) >> a;
  } catch (const tervik::BacktracedTervikException&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/dev/shm/tervik_fuzz_" + std::to_string(getpid()) + ".mult";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  try_read<unsigned char, 1>(path);
  try_read<unsigned char, 2>(path);
  try_read<unsigned char, 3>(path);
  try_read<unsigned int, 1>(path);
  try_read<unsigned int, 2>(path);
  try_read<unsigned int, 3>(path);
  try_read<long long, 3>(path);
  try_read<double, 1>(path);
  try_read<double, 2>(path);
  try {
    tervik::io::ReadMultiArray(path).read_extents();
  } catch (const tervik::BacktracedTervikException&) {
  }
  // The float record decoder on the raw bytes, with the bytes there as its limit.
  if (size > 0) {
    try {
      tervik::io::PortableFloat().decode(data, size < 11 ? int(size) : 11);
    } catch (const tervik::BacktracedTervikException&) {
    }
  }
  return 0;
}
