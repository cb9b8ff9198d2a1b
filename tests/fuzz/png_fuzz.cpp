// libFuzzer entry for the png parser; the body is tervik::fuzz::png_image (fuzz_targets.h).
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tervik::fuzz::png_image(data, size);
  return 0;
}
