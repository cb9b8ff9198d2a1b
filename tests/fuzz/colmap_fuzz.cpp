// libFuzzer entry for the colmap parser; the body is tervik::fuzz::colmap (fuzz_targets.h).
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tervik::fuzz::colmap(data, size);
  return 0;
}
