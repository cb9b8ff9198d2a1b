// libFuzzer entry for the glb reader; the body is tervik::fuzz::glb (fuzz_targets.h).
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tervik::fuzz::glb(data, size);
  return 0;
}
