// libFuzzer entry for the name template parser; the body is tervik::fuzz::name_template (fuzz_targets.h).
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tervik::fuzz::name_template(data, size);
  return 0;
}
