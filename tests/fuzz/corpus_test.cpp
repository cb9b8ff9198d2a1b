// Feeds every seed file and every crash reproducer of the fuzz targets to its parser, in the
// normal and sanitizer builds (no libFuzzer needed): seeds must be accepted, reproducers must
// be rejected without a crash or a sanitizer report.
#include <gtest/gtest.h>

#include <filesystem>

#include "fuzz/fuzz_targets.h"
#include "test_util.h"

namespace tervik::fuzz {
namespace {

namespace fs = std::filesystem;

using Target = int (*)(const std::uint8_t*, std::size_t);

const struct {
  const char* folder;
  Target target;
} kTargets[] = {
    {"calibration", calibration}, {"png", png_image}, {"jpeg", jpeg_image},
    {"tiff", tiff_image},         {"points", points}, {"mesh", mesh},
    {"ply", ply},                 {"multiarray", multiarray}, {"rle", rle},
    {"colmap", colmap},           {"opencv", opencv},         {"camera_lists", camera_lists},
    {"name_template", name_template}, {"leading_options", leading_options},
    {"ground_truth", ground_truth}, {"glb", glb}, {"frame_ply", frame_ply},
};

const fs::path kFuzzDir = fs::path(TERVIK_SOURCE_DIR) / "tests" / "fuzz";

// The files of folder `dir` (none if it does not exist), in name order.
std::vector<fs::path> files_in(const fs::path& dir) {
  std::vector<fs::path> files;
  if (fs::is_directory(dir))
    for (const auto& e : fs::directory_iterator(dir))
      if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

int feed(Target target, const fs::path& file) {
  const std::string bytes = testing::read_file(file.string());
  return target(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(FuzzCorpus, EverySeedIsAcceptedByItsParser) {
  testing::TempDir scratch;
  set_scratch_folder(scratch.path().string());
  std::size_t seeds = 0;
  for (const auto& t : kTargets) {
    const std::vector<fs::path> files = files_in(kFuzzDir / "corpus" / t.folder);
    EXPECT_FALSE(files.empty()) << "no seed corpus for " << t.folder;
    for (const fs::path& f : files) {
      EXPECT_EQ(feed(t.target, f), 0) << f << " was rejected";
      ++seeds;
    }
  }
  EXPECT_GE(seeds, 20u);
}

TEST(FuzzCorpus, EveryCrashReproducerIsRejectedCleanly) {
  testing::TempDir scratch;
  set_scratch_folder(scratch.path().string());
  std::size_t reproducers = 0;
  for (const auto& t : kTargets)
    for (const fs::path& f : files_in(kFuzzDir / "crashes" / t.folder)) {
      EXPECT_GT(feed(t.target, f), 0) << f << " was accepted";
      ++reproducers;
    }
  // The grey TIFF with three samples per pixel that overran a row buffer.
  EXPECT_GE(reproducers, 1u);
}

}  // namespace
}  // namespace tervik::fuzz
