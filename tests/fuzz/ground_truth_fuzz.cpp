// libFuzzer entry for the ground truth parser; the body is tervik::fuzz::ground_truth (fuzz_targets.h).
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tervik::fuzz::ground_truth(data, size);
  return 0;
}
