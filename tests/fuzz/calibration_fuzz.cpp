// libFuzzer entry for the calibration parser; the body is tervik::fuzz::calibration (fuzz_targets.h).
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tervik::fuzz::calibration(data, size);
  return 0;
}
