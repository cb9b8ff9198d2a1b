// libFuzzer entry for the opencv parser; the body is tervik::fuzz::opencv (fuzz_targets.h).
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tervik::fuzz::opencv(data, size);
  return 0;
}
