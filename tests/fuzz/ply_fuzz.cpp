// libFuzzer entry for the ply parser; the body is tervik::fuzz::ply (fuzz_targets.h).
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tervik::fuzz::ply(data, size);
  return 0;
}
