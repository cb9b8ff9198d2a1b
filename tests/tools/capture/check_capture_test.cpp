// check_capture: a sound capture passes; each kind of fault gives its table line and a
// non-zero exit, each warning its line and exit 0.
#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "test_util.h"
#include "tervik/writeimage.h"
#include "tools/common/capture_files.h"
#include "tools/capture/check_capture.h"
#include "tools/scene/scene.h"

namespace tervik::capture {
namespace {

using tervik::testing::read_file;
using tervik::testing::TempDir;
using tervik::testing::write_file;

TEST(CheckCapture, ProjectionMismatchAndCornerDistortion) {
  scene::SceneOptions o;
  o.width = 64;
  o.height = 48;
  Camera c = scene::to_camera(scene::build_scene(o).cameras[1]);
  EXPECT_LT(capture::projection_mismatch(c), 1e-15);
  for (int col = 0; col < 4; ++col)
    for (int row = 0; row < 3; ++row) c.p()[col][row] *= -2.5;  // P is defined up to scale
  EXPECT_LT(capture::projection_mismatch(c), 1e-15);
  c.p()[3][0] *= 1.001;  // one element off
  EXPECT_GT(capture::projection_mismatch(c), 1e-6);
  EXPECT_LT(capture::projection_mismatch(c), 1e-3);

  EXPECT_EQ(corner_distortion_shift(c), 0.0);
  // k1 = 0.1 at the corner (0, 0): x = -cx / fx, y = -cy / fy, shift = |(x, y) f| k1 r^2.
  c.distortion()[0] = 0.1;
  const double fx = c.k()[0][0], cx = c.k()[2][0], cy = c.k()[2][1];
  const double x = -cx / fx, y = -cy / fx, r2 = x * x + y * y;
  EXPECT_NEAR(corner_distortion_shift(c), std::hypot(cx, cy) * 0.1 * r2, 1e-9);
}

class CheckCaptureProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    scene::SceneOptions o;
    o.cameras = 6;
    o.frames = 2;
    o.width = 80;
    o.height = 60;
    sc_ = scene::generate_scene(dir_.path().string(), o);
  }
  // Runs check_capture on the scene with its box; returns the exit status, output in out_.
  int run(const std::string& extra = "") {
    const std::string log = dir_.file("log.txt");
    const std::string cmd = TERVIK_BINARY_DIR "/tools/check_capture --cameras 6 --calibration " +
                            sc_.camera_template + " --images " + sc_.image_template +
                            " --silhouettes " + sc_.silhouette_template + " --last-frame 1 " +
                            (extra.empty() ? box_ : extra) + " > " + log;
    const int rc = std::system(cmd.c_str());
    out_ = read_file(log);
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  bool has_line(const std::string& start, const std::string& detail) const {
    for (std::size_t at = 0; (at = out_.find(start, at)) != std::string::npos; ++at)
      if (out_.substr(at, out_.find('\n', at) - at).find(detail) != std::string::npos) return true;
    return false;
  }

  TempDir dir_;
  scene::GeneratedScene sc_;
  std::string box_ = "--box " + shortest(0.0) + " 0 0 0.1 0.1 0.1";
  std::string out_;
};

TEST_F(CheckCaptureProgram, SoundCapturePasses) {
  box_ = "--box " + shortest(sc_.box_min.x) + " " + shortest(sc_.box_min.y) + " " +
         shortest(sc_.box_min.z) + " " + shortest(sc_.box_max.x) + " " + shortest(sc_.box_max.y) +
         " " + shortest(sc_.box_max.z);
  EXPECT_EQ(run(), 0) << out_;
  EXPECT_TRUE(has_line("calibration  camera 5  ok ", "80 x 60, P = K [R | t]")) << out_;
  EXPECT_TRUE(has_line("silhouettes  camera 0  ok ", "frames 0-1: foreground")) << out_;
  EXPECT_TRUE(has_line("box corner   corner 7  ok ", "is seen by 6 cameras")) << out_;
  EXPECT_NE(out_.find("0 faults, 0 warnings\n"), std::string::npos) << out_;
}

TEST_F(CheckCaptureProgram, EachFaultHasItsLineAndFailsTheRun) {
  // A calibration that does not read.
  write_file(dir_.file("cam1.txt"), "[Image size:]\n80\n60\n\n[Rotation matrix:]\n1 0 0\n");
  // P that disagrees with K [R | t].
  Camera c2;
  c2.read_parameters(dir_.file("cam2.txt"));
  c2.p()[3][1] += 0.5;
  c2.write_parameters(dir_.file("cam2.txt"));
  // An image of the wrong size, an empty and a full silhouette.
  io::write_png(dir_.file("img3_0001.png"), ImageGray<unsigned char>(40, 30));
  io::write_png(dir_.file("sil4_0000.png"), ImageGray<unsigned char>(80, 60));
  ImageGray<unsigned char> full(80, 60);
  full = static_cast<unsigned char>(255);
  io::write_png(dir_.file("sil0_0001.png"), full);
  // A box far off to one side: its corners are seen by too few cameras.
  box_ = "--box 40 40 40 41 41 41";

  EXPECT_EQ(run(), 1);
  EXPECT_TRUE(has_line("calibration  camera 1  FAULT ",
                       "ERROR(Camera::read_parameters) : Data read (rot) is not consistent: '" +
                           dir_.file("cam1.txt") + "' line "))
      << out_;
  EXPECT_TRUE(has_line("calibration  camera 2  FAULT ", "P differs from K [R | t] by")) << out_;
  EXPECT_TRUE(has_line("images       camera 3  FAULT ",
                       dir_.file("img3_0001.png") + " is 40 x 30, the camera 80 x 60 (1 of the frames)"))
      << out_;
  EXPECT_TRUE(has_line("silhouettes  camera 4  FAULT ",
                       dir_.file("sil4_0000.png") + " is empty (no pixel of 128 or more)")) << out_;
  EXPECT_TRUE(has_line("silhouettes  camera 0  FAULT ",
                       dir_.file("sil0_0001.png") + " is full (no background pixel)")) << out_;
  EXPECT_TRUE(has_line("box corner   corner 0  FAULT ", "(40, 40, 40) is seen by 0 cameras, fewer than 5"))
      << out_;
  EXPECT_TRUE(has_line("box          camera 5  WARNING ", "project outside the image")) << out_;
  EXPECT_FALSE(has_line("images       camera 1", "")) << "no further checks of an unread camera";
}

TEST_F(CheckCaptureProgram, WarningsDoNotFailTheRun) {
  Camera c;
  c.read_parameters(dir_.file("cam3.txt"));
  c.distortion()[0] = -0.5;
  c.write_parameters(dir_.file("cam3.txt"));
  // A box that overhangs the images a little but whose corners stay visible to 5 cameras.
  box_ = "--box " + shortest(sc_.box_min.x - 0.5) + " " + shortest(sc_.box_min.y) + " " +
         shortest(sc_.box_min.z) + " " + shortest(sc_.box_max.x) + " " + shortest(sc_.box_max.y) +
         " " + shortest(sc_.box_max.z) + " --min-cameras 1";
  EXPECT_EQ(run(), 0) << out_;
  EXPECT_TRUE(has_line("distortion   camera 3  WARNING ",
                       "pixels; sculptor uses images as read: undistort them first "
                       "(undistort_images)")) << out_;
  EXPECT_TRUE(has_line("distortion   camera 2  ok ", "corner moved by 0.00 pixels")) << out_;
  EXPECT_TRUE(has_line("box          camera ", "WARNING  2 of the 8 box corners project outside the image")) << out_;
  EXPECT_NE(out_.find("0 faults, "), std::string::npos) << out_;

  EXPECT_EQ(run("--box 1 2 3"), 1);
  EXPECT_EQ(out_, "ERROR: --box needs 6 numbers: xmin ymin zmin xmax ymax zmax (see check_capture --help)\n");
}

}  // namespace
}  // namespace tervik::capture
