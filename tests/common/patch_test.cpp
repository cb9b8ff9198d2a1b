#include "common/patch.h"

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"
#include "tervik/exceptions.h"

namespace tervik {
namespace {

using testing::TempDir;
using testing::read_file;

const std::string kColorHeader =
    "ply\nformat ascii 1.0\nelement vertex 0\n"
    "property float x\nproperty float y\nproperty float z\n"
    "property float nx\nproperty float ny\nproperty float nz\n"
    "property uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n";
const std::string kPlainHeader =
    "ply\nformat ascii 1.0\nelement vertex 0\n"
    "property float x\nproperty float y\nproperty float z\n"
    "property float nx\nproperty float ny\nproperty float nz\nend_header\n";

// Names of the files in a folder, to see that no temporary file is left behind.
std::vector<std::string> listing(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  return names;
}

TEST(Patch, NewPatchIsGrey) {
  const Patch p;
  EXPECT_EQ(p.r, 128);
  EXPECT_EQ(p.g, 128);
  EXPECT_EQ(p.b, 128);
}

TEST(PatchFile, EmptyVectorGivesHeaderOnly) {
  TempDir dir;
  write_file_normal_color(dir.file("c.ply"), {});
  write_file_normal(dir.file("n.ply"), {});
  EXPECT_EQ(read_file(dir.file("c.ply")), kColorHeader);
  EXPECT_EQ(read_file(dir.file("n.ply")), kPlainHeader);
  // The property blocks alone have the sizes the format fixes.
  EXPECT_EQ(kColorHeader.size() - std::string("ply\nformat ascii 1.0\nelement vertex 0\n").size(),
            176u);
  EXPECT_EQ(kPlainHeader.size() - std::string("ply\nformat ascii 1.0\nelement vertex 0\n").size(),
            116u);
  EXPECT_EQ(listing(dir.path()).size(), 2u);
}

TEST(PatchFile, LinesInVectorOrderWithExactFormatting) {
  TempDir dir;
  std::vector<Patch> patches = {
      Patch{{0.125, -2, 3000}, {0, 0, 1}, 128, 128, 128},
      Patch{{-1e-300, 1e300, 0.5}, {-0.0, 1.0 / 3.0, -2.5e-7}, 0, 255, 7},
      Patch{{-1, -1, -1}, {1, 0, 0}, 255, 0, 1},
  };
  write_file_normal_color(dir.file("c.ply"), patches);
  write_file_normal(dir.file("n.ply"), patches);

  std::string color = kColorHeader;
  color.replace(color.find("vertex 0"), 8, "vertex 3");
  color +=
      "1.250000e-01 -2.000000e+00 3.000000e+03 0.000000e+00 0.000000e+00 1.000000e+00 128 128 128\n"
      "-1.000000e-300 1.000000e+300 5.000000e-01 -0.000000e+00 3.333333e-01 -2.500000e-07 0 255 7\n"
      "-1.000000e+00 -1.000000e+00 -1.000000e+00 1.000000e+00 0.000000e+00 0.000000e+00 255 0 1\n";
  EXPECT_EQ(read_file(dir.file("c.ply")), color);

  std::string plain = kPlainHeader;
  plain.replace(plain.find("vertex 0"), 8, "vertex 3");
  plain +=
      "1.250000e-01 -2.000000e+00 3.000000e+03 0.000000e+00 0.000000e+00 1.000000e+00\n"
      "-1.000000e-300 1.000000e+300 5.000000e-01 -0.000000e+00 3.333333e-01 -2.500000e-07\n"
      "-1.000000e+00 -1.000000e+00 -1.000000e+00 1.000000e+00 0.000000e+00 0.000000e+00\n";
  EXPECT_EQ(read_file(dir.file("n.ply")), plain);
}

TEST(PatchFile, ReplacesAnExistingFile) {
  TempDir dir;
  const std::string name = dir.file("frame.ply");
  testing::write_file(name, std::string(10000, 'x'));
  write_file_normal_color(name, {});
  EXPECT_EQ(read_file(name), kColorHeader);
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"frame.ply"});
}

TEST(PatchFile, UnwritablePathThrowsAndCreatesNothing) {
  TempDir dir;
  const std::string name = dir.file("missing/frame.ply");
  for (bool color : {true, false}) {
    try {
      color ? write_file_normal_color(name, {Patch{}}) : write_file_normal(name, {Patch{}});
      ADD_FAILURE() << "no exception";
    } catch (const TervikFileError& e) {
      EXPECT_EQ(std::string(e.what()), "Error in file '" + name +
                                           "': cannot create the point file: the folder '" +
                                           dir.file("missing") + "' does not exist");
    }
  }
  EXPECT_TRUE(listing(dir.path()).empty());
  // A folder as the target is refused with its own reason.
  try {
    write_file_normal_color(dir.path().string(), {});
    ADD_FAILURE() << "no exception";
  } catch (const TervikFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Error in file '" + dir.path().string() +
                                         "': cannot create the point file: it is a folder");
  }
}

TEST(PatchFile, FailedWriteThrowsAndKeepsTheOldFile) {
  TempDir dir;
  const std::string name = dir.file("frame.ply");
  testing::write_file(name, "old");
  const std::vector<Patch> patches(2000, Patch{{1, 2, 3}, {0, 1, 0}, 1, 2, 3});
  for (bool color : {true, false}) {
    try {
      testing::FileSizeLimit limit(4096);
      color ? write_file_normal_color(name, patches) : write_file_normal(name, patches);
      ADD_FAILURE() << "no exception";
    } catch (const TervikFileError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Error in file '" + name + "': cannot write", 0), 0u)
          << e.what();
    }
    EXPECT_EQ(read_file(name), "old");
    EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"frame.ply"});
  }
}

}  // namespace
}  // namespace tervik
