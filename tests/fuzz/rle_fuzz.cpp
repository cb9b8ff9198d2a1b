// libFuzzer entry for the rle parser; the body is tervik::fuzz::rle (fuzz_targets.h).
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tervik::fuzz::rle(data, size);
  return 0;
}
