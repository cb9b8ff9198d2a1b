// libFuzzer entry for the points parser; the body is tervik::fuzz::points (fuzz_targets.h).
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tervik::fuzz::points(data, size);
  return 0;
}
