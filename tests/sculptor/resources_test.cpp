#include "sculptor/resources.h"

#include <new>
#include <stdexcept>

#include <gtest/gtest.h>

#include "tervik/exceptions.h"

namespace tervik {
namespace {

using Sizes = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

std::string memory_error(const std::function<void()>& f) {
  try {
    f();
  } catch (const TervikError& e) {
    return e.what();
  }
  return "";
}

TEST(RunMemory, HugePointCountsAreRefusedUpFrontAndOrdinaryRunsPass) {
  const Sizes eight_vga(8, {640, 480});
  // The demo run needs well under a gibibyte; the largest npoints needs hundreds.
  EXPECT_LT(estimate_run_bytes(10000, eight_vga), 1ull << 30);
  EXPECT_GT(estimate_run_bytes(2147483647, eight_vga), 500ull << 30);
  EXPECT_EQ(memory_error([&] { check_run_memory(10000, eight_vga, 1ull << 30); }), "");
  EXPECT_EQ(memory_error([&] { check_run_memory(2147483647, eight_vga, 16ull << 30); }),
            "sampling 2147483647 points per frame over 8 cameras needs about 800.1 GiB of "
            "memory, more than the 16.0 GiB this process may use: ask for fewer points");
  // Images count too: 64 cameras of 16384 x 16384 pixels.
  EXPECT_GT(estimate_run_bytes(37, Sizes(64, {16384, 16384})), 256ull << 30);
  // An unknown limit checks nothing.
  EXPECT_EQ(memory_error([&] { check_run_memory(2147483647, eight_vga, 0); }), "");
  EXPECT_GT(memory_limit_bytes(), 0u);
}

TEST(RunMemory, AllocationFailureNamesTheStage) {
  EXPECT_EQ(memory_error([] {
              run_stage("sampling the surface of frame 3", [] { throw std::bad_alloc(); });
            }),
            "out of memory while sampling the surface of frame 3");
  // Other errors pass unchanged.
  EXPECT_THROW(run_stage("x", [] { throw std::runtime_error("other"); }), std::runtime_error);
  int ran = 0;
  run_stage("x", [&] { ++ran; });
  EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace tervik
