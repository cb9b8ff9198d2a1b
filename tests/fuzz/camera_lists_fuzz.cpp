// libFuzzer entry for the camera lists parser; the body is tervik::fuzz::camera_lists (fuzz_targets.h).
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tervik::fuzz::camera_lists(data, size);
  return 0;
}
