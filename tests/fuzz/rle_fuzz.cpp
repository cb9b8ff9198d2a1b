// Fuzzes the run-length decoder with a bounded destination, and checks that compressing any
// input and decoding it again gives the input back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tervik/exceptions.h"
#include "tervik/rle.h"

using tervik::compress::Rle;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose the destination size; the rest is the stream.
  const std::size_t dstlen = data[0] | (std::size_t(data[1]) << 8);
  std::vector<unsigned char> dst(dstlen);
  try {
    const auto n = Rle::uncompress(data + 2, dst.data(), size - 2, dstlen);
    if (n > dstlen) std::abort();
  } catch (const tervik::TervikError&) {
  }
  const std::vector<unsigned char> input(data, data + size);
  const std::vector<unsigned char> packed = Rle::compress(input);
  if (packed.size() > Rle::max_compressed_size(size)) std::abort();
  if (Rle::uncompress(packed, size) != input) std::abort();
  return 0;
}
