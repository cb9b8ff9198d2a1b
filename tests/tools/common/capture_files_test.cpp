// Helpers of the capture tools: camera lists, calibration errors that name the file, quoting.
#include <gtest/gtest.h>

#include "test_util.h"
#include "tervik/exceptions.h"
#include "tools/common/capture_files.h"

namespace tervik::capture {
namespace {

using tervik::testing::TempDir;
using tervik::testing::write_file;

TEST(CaptureFiles, CameraLists) {
  EXPECT_EQ(parse_camera_list("3", 8), (std::vector<int>{3}));
  EXPECT_EQ(parse_camera_list("0,2-4,7", 8), (std::vector<int>{0, 2, 3, 4, 7}));
  for (const char* bad : {"8", "2-1", "a", "1,,2", "-1", "1-", ""}) {
    try {
      parse_camera_list(bad, 8);
      FAIL() << bad;
    } catch (const TervikError& e) {
      EXPECT_NE(std::string(e.what()).find("the camera list '" + std::string(bad) + "' holds"),
                std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("from 0 to 7"), std::string::npos);
    }
  }
}

TEST(CaptureFiles, CalibrationErrorsNameTheFile) {
  TempDir dir;
  const std::string file = dir.file("cam0.txt");
  write_file(file, "[Image size:]\n640\n480\n\n[Rotation matrix:]\n1 0\n");
  try {
    read_camera_file(file);
    FAIL();
  } catch (const TervikError& e) {  // the reader names the file and line itself
    EXPECT_STREQ(e.what(), ("ERROR(Camera::read_parameters) : Data read (rot) is not consistent: '" +
                            file + "' line 6: expected 3 numbers in row 1 of the rotation matrix")
                               .c_str());
  }
  try {
    read_camera_file(dir.file("missing.txt"));
    FAIL();
  } catch (const TervikError& e) {  // the reader's own message already names the file
    EXPECT_STREQ(e.what(), ("ERROR(Camera.read_parameters) : Cannot open  " + dir.file("missing.txt")).c_str());
  }
  Camera empty;
  empty.p()[0][0] = 1.0;  // an all-zero P is refused by the reader itself
  empty.write_parameters(file);
  try {
    read_camera_file(file);
    FAIL();
  } catch (const TervikFileError& e) {
    EXPECT_STREQ(e.what(), ("Error in file '" + file + "': the calibration gives an empty image size").c_str());
  }
}

TEST(CaptureFiles, ShellQuoting) {
  EXPECT_EQ(shell_quote("cam%ld.txt"), "cam%ld.txt");
  EXPECT_EQ(shell_quote("my dir/it's"), "'my dir/it'\\''s'");
  EXPECT_EQ(shell_quote(""), "''");
  EXPECT_EQ(shortest(0.1), "0.1");
}

}  // namespace
}  // namespace tervik::capture
