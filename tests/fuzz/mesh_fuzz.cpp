// libFuzzer entry for the mesh parser; the body is tervik::fuzz::mesh (fuzz_targets.h).
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tervik::fuzz::mesh(data, size);
  return 0;
}
