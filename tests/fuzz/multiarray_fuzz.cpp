// libFuzzer entry for the multiarray parser; the body is tervik::fuzz::multiarray (fuzz_targets.h).
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tervik::fuzz::multiarray(data, size);
  return 0;
}
