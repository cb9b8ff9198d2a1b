// libFuzzer entry for the frame_ply reader; the body is tervik::fuzz::frame_ply (fuzz_targets.h).
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tervik::fuzz::frame_ply(data, size);
  return 0;
}
