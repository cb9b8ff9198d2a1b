#include "common/heap.h"

#include <malloc.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tervik {
namespace {

// A mapping of /proc/self/smaps: its address range and whether it is advised for huge pages.
struct Mapping {
  std::uintptr_t begin = 0, end = 0;
  bool huge = false;
};

std::vector<Mapping> mappings() {
  std::vector<Mapping> out;
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  while (std::getline(smaps, line)) {
    std::uintptr_t begin = 0, end = 0;
    char dash = 0;
    std::istringstream head(line);
    if (head >> std::hex >> begin >> dash >> end && dash == '-') {
      out.push_back({begin, end, false});
    } else if (line.rfind("VmFlags:", 0) == 0 && !out.empty()) {
      out.back().huge = (line + " ").find(" hg ") != std::string::npos;
    }
  }
  return out;
}

// The mapping holding `p`; a default one when none does.
Mapping mapping_of(const void* p) {
  const auto a = reinterpret_cast<std::uintptr_t>(p);
  for (const Mapping& m : mappings())
    if (m.begin <= a && a < m.end) return m;
  return {};
}

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
constexpr bool kGlibcHeap = true;
#else
constexpr bool kGlibcHeap = false;
#endif

// One test, in this order: the advice changes the process's allocator for good.
TEST(Heap, KeptBlocksComeFromAHeapAdvisedForHugePages) {
  if (!kGlibcHeap) GTEST_SKIP() << "the allocator is not glibc's own";
  // Too little to advise: nothing happens.
  EXPECT_EQ(back_heap_with_huge_pages(std::size_t{3} << 20), 0u);

  keep_freed_memory(std::size_t{256} << 20);
  // 8 MiB is above glibc's own mapping threshold: now it comes from the heap.
  const int mapped_before = mallinfo2().hblks;
  void* volatile block = std::malloc(std::size_t{8} << 20);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(mallinfo2().hblks, mapped_before);
  std::free(block);

  const std::size_t advised = back_heap_with_huge_pages(std::size_t{64} << 20);
  if (advised == 0) GTEST_SKIP() << "the kernel offers no transparent huge pages";
  EXPECT_GE(advised, std::size_t{60} << 20);
  EXPECT_LE(advised, std::size_t{70} << 20);
  // The heap now ends with the advised stretch: blocks allocated after the free memory below it
  // is used up lie in it, and are usable whole.
  constexpr std::size_t kBlock = std::size_t{8} << 20;
  std::vector<char*> blocks;
  for (int i = 0; i < 6; ++i) blocks.push_back(static_cast<char*>(std::malloc(kBlock)));
  char* last = blocks.back();
  ASSERT_NE(last, nullptr);
  EXPECT_TRUE(mapping_of(last).huge);
  EXPECT_TRUE(mapping_of(last + kBlock - 1).huge);
  std::memset(last, 7, kBlock);
  EXPECT_EQ(last[kBlock - 1], 7);
  for (char* b : blocks) std::free(b);
}

// Exits with 0 when, under a data limit of 1 GiB, a stretch of 768 MiB asked for is cut to
// about a quarter of the limit (or nothing is advised: no huge pages here), with 1 otherwise.
void advise_under_a_data_limit() {
  rlimit limit{};
  limit.rlim_cur = limit.rlim_max = std::size_t{1} << 30;
  if (setrlimit(RLIMIT_DATA, &limit) != 0) std::exit(2);
  keep_freed_memory(std::size_t{1} << 30);
  const std::size_t advised = back_heap_with_huge_pages(std::size_t{768} << 20);
  std::exit(advised <= (std::size_t{258} << 20) ? 0 : 1);
}

// Run in a fresh process: the advice above changes the allocator for good.
TEST(HeapDeathTest, StretchStaysWithinAQuarterOfTheDataLimit) {
  if (!kGlibcHeap) GTEST_SKIP() << "the allocator is not glibc's own";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(advise_under_a_data_limit(), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tervik
