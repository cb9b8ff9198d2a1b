// check_capture: a sound capture passes; each kind of fault gives its table line and a
// non-zero exit, each warning its line and exit 0.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "sculptor/hull_fixture.h"
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
                            " --silhouettes " + sc_.silhouette_template +
                            (extra.find("--last-frame") == std::string::npos ? " --last-frame 1 " : " ") +
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
  // Corners that no camera sees only warn; the hull check finds that the object is not in it.
  EXPECT_TRUE(has_line("box corner   corner 0  WARNING ", "(40, 40, 40) is seen by 0 cameras, fewer than 5"))
      << out_;
  EXPECT_TRUE(has_line("hull         frame 0   FAULT ", "not carved: ")) << out_;
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

// Foreground drawn as 128, specks, a silhouette larger than its calibration, a range past the
// last frame and bad ranges and boxes, each named.
TEST_F(CheckCaptureProgram, SilhouetteValuesSpecksSizesAndRanges) {
  const auto rewrite = [&](const std::string& name, auto&& change) {
    ImageGray<unsigned char> sil = read_gray(dir_.file(name));
    change(sil);
    io::write_png(dir_.file(name), sil);
  };
  rewrite("sil1_0000.png", [](ImageGray<unsigned char>& s) {
    for (long x = 0; x < 80; ++x)
      for (long y = 0; y < 60; ++y) s[x][y] = s[x][y] >= 128 ? 128 : 0;
  });
  rewrite("sil2_0000.png", [](ImageGray<unsigned char>& s) {
    for (long x = 0; x < 40; ++x)
      for (long y = 0; y < 60; ++y) s[x][y] = s[x][y] >= 128 ? 128 : 0;
  });
  rewrite("sil3_0001.png", [](ImageGray<unsigned char>& s) { s[1][1] = 255, s[2][1] = 255; });
  ImageGray<unsigned char> wide(100, 60);
  wide[50][30] = 255;
  io::write_png(dir_.file("sil5_0001.png"), wide);
  EXPECT_EQ(run(box_ + " --last-frame 3"), 1);
  EXPECT_TRUE(has_line("silhouettes  camera 1  FAULT ",
                       "sil1_0000.png: its foreground is 128, which sculptor's seeding reads as "
                       "background (no seed can be found): write foreground as 255")) << out_;
  EXPECT_TRUE(has_line("silhouettes  camera 2  WARNING ", "sil2_0000.png are 128, foreground to")) << out_;
  EXPECT_TRUE(has_line("specks       camera 3  WARNING ",
                       "frame 1: " + dir_.file("sil3_0001.png") +
                           " has 0 small holes and 1 stray blob of at most 50 pixels")) << out_;
  EXPECT_TRUE(has_line("silhouettes  camera 5  FAULT ",
                       dir_.file("sil5_0001.png") + "': the image of camera 5 is 100 x 60 pixels "
                       "but its calibration is 80 x 60")) << out_;
  EXPECT_TRUE(has_line("images       camera 0  FAULT ",
                       "File " + dir_.file("img0_0002.png") +
                           " not found; frames 2-3 are not checked (1 of the frames)")) << out_;

  EXPECT_EQ(run("--last-frame 99999999999"), 1);
  EXPECT_EQ(out_, "ERROR: the frame range 0 to 99999999999 is longer than 1000000 frames (see "
                  "check_capture --help)\n");
  EXPECT_EQ(run("--box 0 0 0 1 -1 1"), 1);
  EXPECT_EQ(out_, "ERROR: --box: every minimum must be below its maximum (an inverted or empty "
                  "box) (see check_capture --help)\n");
}

// --camera-ids maps the template numbers to the cameras in every capture tool, and --cameras
// is a count in every one of them (render_view included).
TEST_F(CheckCaptureProgram, CameraIdsInEveryTool) {
  const std::string tools = TERVIK_BINARY_DIR "/tools/";
  const std::string log = " > " + dir_.file("ids.txt");
  const auto run_tool = [&](const std::string& cmd) {
    const int rc = std::system((cmd + log).c_str());
    return std::make_pair(WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, read_file(dir_.file("ids.txt")));
  };
  const std::string check = tools + "check_capture --calibration " + sc_.camera_template +
                            " --silhouettes " + sc_.silhouette_template;
  // Cameras 5 to 0, in that order, and camera 3 left out.
  auto out = run_tool(check + " --camera-ids 5,4,2,1,0");
  EXPECT_EQ(out.first, 0) << out.second;
  EXPECT_LT(out.second.find("calibration  camera 5 "), out.second.find("calibration  camera 4 ")) << out.second;
  EXPECT_EQ(out.second.find("camera 3 "), std::string::npos) << out.second;
  out = run_tool(check + " --camera-ids 0-6");
  EXPECT_EQ(out.first, 1);
  EXPECT_NE(out.second.find("calibration  camera 6  FAULT "), std::string::npos) << out.second;
  EXPECT_EQ(run_tool(check + " --cameras 5 --camera-ids 0-5"),
            std::make_pair(1, std::string("ERROR: --cameras 5 but --camera-ids '0-5' names 6 "
                                          "cameras (see check_capture --help)\n")));

  const std::string find = tools + "find_box --calibration " + sc_.camera_template +
                           " --silhouettes " + sc_.silhouette_template + " --images " + sc_.image_template;
  const auto by_count = run_tool(find + " --cameras 6");
  const auto by_ids = run_tool(find + " --camera-ids 0-5");
  ASSERT_EQ(by_count.first, 0) << by_count.second;
  const std::string box_line = by_count.second.substr(by_count.second.find("Box"));
  EXPECT_EQ(by_ids.second.substr(by_ids.second.find("Box"), box_line.find('\n')),
            box_line.substr(0, box_line.find('\n')));
  EXPECT_NE(by_ids.second.find("sculptor --camera-ids 0-5 6 "), std::string::npos) << by_ids.second;
  EXPECT_EQ(run_tool(find + " --camera-ids 0-6"),
            std::make_pair(1, "ERROR: ERROR(Camera.read_parameters) : Cannot open  " + dir_.file("cam6.txt") +
                                  " (the calibration of camera 6 (entry 7 of --camera-ids))\n"));

  const auto masks = run_tool(tools + "make_masks --camera-ids 4,1 --input " + sc_.silhouette_template +
                              " --output " + dir_.file("m%d_%d.png"));
  EXPECT_EQ(masks.first, 0) << masks.second;
  EXPECT_TRUE(std::filesystem::exists(dir_.file("m4_0.png")) && std::filesystem::exists(dir_.file("m1_0.png")));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("m0_0.png")));
  EXPECT_EQ(run_tool(tools + "make_masks --camera-ids 4,9 --input " + sc_.silhouette_template +
                     " --output " + dir_.file("m%d_%d.png")),
            std::make_pair(1, "ERROR: File " + dir_.file("sil9_0000.png") +
                                  " not found (camera 9 (entry 2 of --camera-ids), frame 0)\n"));

  const std::string render = tools + "render_view --calibration " + sc_.camera_template + " -o " +
                             dir_.file("v.png");
  EXPECT_EQ(run_tool(render + " --cameras 0-3"),
            std::make_pair(1, std::string("ERROR: --cameras '0-3' is not a number of cameras; give a "
                                          "list of cameras to draw with --camera-ids (e.g. "
                                          "--camera-ids 0-3) (see render_view --help)\n")));
  EXPECT_EQ(run_tool(render + " --cameras 2").second,
            "Wrote " + dir_.file("v.png") + ": 2 views of 320 x 240 pixels in rows of 2 (cameras 0 1, "
            "left to right, top to bottom)\n");
}

// Writes `cams` and the silhouettes of a sphere as frame 0 of a capture in `dir`.
void write_sphere_capture(const TempDir& dir, const std::vector<Camera>& cams, double radius) {
  for (std::size_t i = 0; i < cams.size(); ++i) {
    Camera c = cams[i];
    c.write_parameters(dir.file("cam" + std::to_string(i) + ".txt"));
    io::write_png(dir.file("sil" + std::to_string(i) + "_0000.png"),
                  tervik::testing::sphere_silhouette(c, Point3D(0, 0, 0), radius));
  }
}

// A box that find_box prints passes check_capture on every layout: make_scene's ring and dome,
// and a turntable ring with cameras above; a camera that sees only part of the object makes
// the hull check fail where fewer cameras than required see it.
TEST(CheckCaptureHull, FindBoxBoxesPassOnEveryLayout) {
  const auto check = [](const TempDir& dir, int cameras, const std::string& extra) {
    const std::string common = " --cameras " + std::to_string(cameras) + " --calibration " +
                               dir.file("cam%d.txt") + " --silhouettes " + dir.file("sil%d_%04d.png") +
                               extra;
    const std::string find = TERVIK_BINARY_DIR "/tools/find_box" + common + " > " + dir.file("box.txt");
    EXPECT_EQ(std::system(find.c_str()), 0) << read_file(dir.file("box.txt"));
    const std::string text = read_file(dir.file("box.txt"));
    const std::string key = "Box (xmin ymin zmin xmax ymax zmax): ";
    const std::size_t at = text.find(key);
    if (at == std::string::npos) return std::string("no box: " + text);
    const std::string box = text.substr(at + key.size(), text.find('\n', at) - at - key.size());
    const std::string cmd = TERVIK_BINARY_DIR "/tools/check_capture" + common + " --box " + box +
                            " > " + dir.file("check.txt");
    const int rc = std::system(cmd.c_str());
    return std::to_string(WEXITSTATUS(rc)) + "\n" + read_file(dir.file("check.txt"));
  };
  for (const auto layout : {scene::CameraLayout::ring, scene::CameraLayout::dome}) {
    TempDir dir;
    scene::SceneOptions o;
    o.layout = layout;
    o.frames = 2;
    o.width = 160;
    o.height = 120;
    scene::generate_scene(dir.path().string(), o);
    const std::string out = check(dir, 8, " --last-frame 1");
    EXPECT_EQ(out.substr(0, 2), "0\n") << out;
    EXPECT_NE(out.find("hull         frame 1   ok "), std::string::npos) << out;
  }
  // A turntable: 12 cameras on a ring level with the object, 4 above it looking down.
  std::vector<Camera> cams;
  for (int i = 0; i < 16; ++i) {
    const double a = 2 * M_PI * i / (i < 12 ? 12 : 4);
    const Point3D eye = i < 12 ? Point3D(4 * std::cos(a), 4 * std::sin(a), 0.0)
                               : Point3D(2 * std::cos(a), 2 * std::sin(a), 3.0);
    cams.push_back(tervik::testing::look_at_camera(eye, Point3D(0, 0, 0), 300, 160, 120));
  }
  TempDir table;
  write_sphere_capture(table, cams, 0.5);
  std::string out = check(table, 16, "");
  EXPECT_EQ(out.substr(0, 2), "0\n") << out;
  EXPECT_NE(out.find("voxels, each seen by 16 cameras or more"), std::string::npos) << out;

  // Camera 0 turned aside so that it sees a part of the sphere only: that part is seen by 15
  // cameras, fewer than 16.
  cams[0] = tervik::testing::look_at_camera(Point3D(4, 0, 0), Point3D(0, 1.0, 0), 300, 160, 120);
  write_sphere_capture(table, cams, 0.5);
  const std::string cmd = TERVIK_BINARY_DIR "/tools/check_capture --cameras 16 --min-cameras 16 "
                          "--calibration " + table.file("cam%d.txt") + " --silhouettes " +
                          table.file("sil%d_%04d.png") + " --box -1 -1 -1 1 1 1 > " + table.file("c.txt");
  EXPECT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 1);
  out = read_file(table.file("c.txt"));
  EXPECT_NE(out.find("are foreground but seen by fewer than 16 cameras (15 at ("), std::string::npos) << out;
}

}  // namespace
}  // namespace tervik::capture
