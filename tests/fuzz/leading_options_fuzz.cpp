// libFuzzer entry for the leading options parser; the body is tervik::fuzz::leading_options (fuzz_targets.h).
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tervik::fuzz::leading_options(data, size);
  return 0;
}
