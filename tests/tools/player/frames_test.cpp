// The player's frames: each frame from its best file (textured .glb, else mesh, else points);
// missing and damaged frames are reported without stopping the others; an output that is an
// input is refused.
#include "tools/player/frames.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "test_util.h"
#include "tervik/exceptions.h"

namespace tervik::player {
namespace {

using tervik::testing::read_file;
using tervik::testing::TempDir;
using tervik::testing::write_file;

const std::string kPoints =
    "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\n"
    "property float z\nproperty uchar red\nproperty uchar green\nproperty uchar blue\n"
    "end_header\n0 0 0 255 0 0\n1 0 0 0 255 0\n";
const std::string kMesh =
    "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
    "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n"
    "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";

TEST(PlayerFrames, EachFrameFromItsBestFileAndFailuresNamed) {
  TempDir dir;
  // Frame 0: all three kinds; 1: mesh and points; 2: points; 3: nothing; 4: a damaged mesh.
  write_file(dir.file("t_0.glb"), "textured bytes");
  for (int f : {0, 1}) write_file(dir.file("m_" + std::to_string(f) + ".ply"), kMesh);
  for (int f : {0, 1, 2}) write_file(dir.file("p_" + std::to_string(f) + ".ply"), kPoints);
  write_file(dir.file("m_4.ply"), "ply\nformat ascii 1.0\nelement vertex 3\n");
  const FrameSources sources{dir.file("t_%ld.glb"), dir.file("m_%ld.ply"), dir.file("p_%ld.ply")};
  const auto out = dir.file("player");
  const auto frames = write_frames(out, sources, 0, 4, {.meshopt = true}, 3);
  ASSERT_EQ(frames.size(), 5u);
  const char* kinds[] = {"textured", "mesh", "points", "", "mesh"};
  for (int f = 0; f < 5; ++f) {
    EXPECT_EQ(frames[f].frame, f);
    EXPECT_EQ(frames[f].kind, kinds[f]) << f;
    EXPECT_EQ(frames[f].error.empty(), f < 3) << f;
    EXPECT_EQ(std::filesystem::exists(out + "/" + frame_file(f)), f < 3) << f;
  }
  EXPECT_EQ(frame_file(12), "frames/frame_000012.glb");
  EXPECT_EQ(read_file(out + "/frames/frame_000000.glb"), "textured bytes");
  EXPECT_EQ(frames[3].error, "no file for this frame");
  EXPECT_NE(frames[4].error.find(dir.file("m_4.ply")), std::string::npos) << frames[4].error;
  const std::string json = sequence_json("take \"one\"", 25, frames);
  EXPECT_NE(json.find("{\"title\":\"take \\\"one\\\"\",\"fps\":25,"), std::string::npos) << json;
  EXPECT_NE(json.find("{\"frame\":3,\"error\":\"no file for this frame\"}"), std::string::npos);

  // A textured template that names the output itself.
  const FrameSources onto{out + "/frames/frame_%06ld.glb", "", ""};
  try {
    write_frames(out, onto, 0, 0, {}, 1);
    ADD_FAILURE() << "wrote over its input";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("is the input file"), std::string::npos) << e.what();
  }
  EXPECT_EQ(read_file(out + "/frames/frame_000000.glb"), "textured bytes");
}

TEST(PlayerFrames, FilesDoNotDependOnTheThreads) {
  TempDir dir;
  // Eight frames of a mesh whose vertices move from frame to frame.
  for (int f = 0; f < 8; ++f) {
    std::string mesh = "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\n"
                       "property float y\nproperty float z\nproperty uchar red\n"
                       "property uchar green\nproperty uchar blue\nelement face 2\n"
                       "property list uchar int vertex_indices\nend_header\n";
    for (int v = 0; v < 4; ++v)
      mesh += std::to_string(0.1 * f + v % 2) + " " + std::to_string(v / 2) + " " +
              std::to_string(0.01 * f * v) + " " + std::to_string(30 * v + f) + " 7 9\n";
    write_file(dir.file("m_" + std::to_string(f) + ".ply"), mesh + "3 0 1 2\n3 2 1 3\n");
  }
  const FrameSources sources{"", dir.file("m_%ld.ply"), ""};
  write_frames(dir.file("one"), sources, 0, 7, {.meshopt = true, .position_bits = 16}, 1);
  write_frames(dir.file("many"), sources, 0, 7, {.meshopt = true, .position_bits = 16}, 5);
  for (int f = 0; f < 8; ++f) {
    const std::string one = read_file(dir.file("one") + "/" + frame_file(f));
    EXPECT_FALSE(one.empty());
    EXPECT_EQ(one, read_file(dir.file("many") + "/" + frame_file(f))) << f;
    if (f) EXPECT_NE(one, read_file(dir.file("one") + "/" + frame_file(f - 1))) << f;
  }
}

}  // namespace
}  // namespace tervik::player
