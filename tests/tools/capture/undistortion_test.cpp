// Undistortion of a capture: a scene rendered through lens distortion, undistorted, must look
// like the same scene rendered by ideal pinhole cameras.
#include "tools/capture/undistortion.h"

#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tervik/exceptions.h"
#include "tervik/readimage.h"
#include "tervik/writeimage.h"
#include "test_util.h"
#include "tools/scene/scene.h"

namespace tervik::capture {
namespace {

using testing::TempDir;

scene::GeneratedScene distorted_scene(const std::string& folder) {
  scene::SceneOptions o;
  o.object = scene::ObjectKind::sphere;
  o.cameras = 4;
  o.width = 128;
  o.height = 96;
  o.frames = 1;
  // A wide lens (focal length 0.31 x width) with strong pincushion distortion: the sphere's
  // outline, some 16 pixels from the centre, lies at a normalised radius of about 0.4, where it
  // moves out by about 2.6 pixels.
  o.focal = 40.0;
  o.distortion = {1.0, 0.2, 0.002, -0.001};
  return scene::generate_scene(folder, o);
}

UndistortOptions options_for(const scene::GeneratedScene& s, const std::string& out) {
  UndistortOptions o;
  o.cameras = s.cameras;
  o.camera_template = NameTemplate(s.camera_template, 1, "camera template");
  o.image_template = NameTemplate(s.image_template, 2, "image template");
  o.silhouette_template = NameTemplate(s.silhouette_template, 2, "silhouette template");
  o.first_frame = o.last_frame = s.first_frame;
  o.output_folder = out;
  return o;
}

// Pixels of `a` that differ from `b` although `b` holds a's value within one pixel (the
// 8-neighbourhood): zero when a matches b up to a one-pixel shift of the outline.
int beyond_one_pixel(const ImageGray<unsigned char>& a, const ImageGray<unsigned char>& b) {
  const long w = long(a.width()), h = long(a.height());
  int bad = 0;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      if (a[x][y] == b[x][y]) continue;
      bool near = false;
      for (long dy = -1; dy <= 1; ++dy)
        for (long dx = -1; dx <= 1; ++dx) {
          const long nx = x + dx, ny = y + dy;
          near = near || (nx >= 0 && nx < w && ny >= 0 && ny < h && b[nx][ny] == a[x][y]);
        }
      bad += !near;
    }
  return bad;
}

TEST(Undistortion, SilhouettesMatchTheIdealRenderWithinOnePixel) {
  TempDir dir;
  const scene::GeneratedScene s = distorted_scene(dir.path().string());
  std::ostringstream log;
  undistort_capture(options_for(s, dir.file("out")), log);
  for (int cam = 0; cam < s.cameras; ++cam) {
    SCOPED_TRACE(cam);
    const std::string n = std::to_string(cam);
    scene::ViewCamera ideal_cam = s.truth.cameras[cam];
    ideal_cam.distortion = {};
    const ImageGray<unsigned char> ideal =
        scene::render_silhouette(s.object(s.first_frame), ideal_cam);
    ImageGray<unsigned char> raw, undistorted;
    io::ReadImage(dir.file("sil" + n + "_0000.png")).read(raw);
    io::ReadImage(dir.file("out/sil" + n + "_0000.png")).read(undistorted);
    // The distortion matters here: the raw silhouette strays from the ideal one.
    EXPECT_GT(beyond_one_pixel(raw, ideal), 20);
    // After undistortion both ways round the outlines agree within one pixel.
    EXPECT_EQ(beyond_one_pixel(undistorted, ideal), 0);
    EXPECT_EQ(beyond_one_pixel(ideal, undistorted), 0);
    std::set<int> values(undistorted.channel(0).data(),
                         undistorted.channel(0).data() + undistorted.channel(0).num_elements());
    EXPECT_EQ(values, (std::set<int>{0, 255}));
    // The camera file keeps the calibration and drops the distortion.
    Camera in, out;
    in.read_parameters(dir.file("cam" + n + ".txt"));
    out.read_parameters(dir.file("out/cam" + n + ".txt"));
    EXPECT_EQ(in.distortion()[0], 1.0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out.distortion()[i], 0.0);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(out.p().data()[i], in.p().data()[i]);
    ImageRGB<unsigned char> rgb;
    io::ReadImage(dir.file("out/img" + n + "_0000.png")).read(rgb);
    EXPECT_EQ(rgb.width(), 128u);
  }
  EXPECT_NE(log.str().find("camera 0 (" + dir.file("cam0.txt") +
                           "): the distortion moves corner (0, 0) by "),
            std::string::npos);
}

TEST(Undistortion, RefusesToReplaceItsInputAndNamesAnImageOfTheWrongSize) {
  TempDir dir;
  const scene::GeneratedScene s = distorted_scene(dir.path().string());
  std::ostringstream log;
  try {
    undistort_capture(options_for(s, dir.path().string()), log);
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_EQ(std::string(e.what()), "the output " + dir.file("cam0.txt") +
                                         " would replace its own input: choose another output "
                                         "folder");
  }
  io::write_png(dir.file("sil1_0000.png"), ImageGray<unsigned char>(64, 48));
  try {
    undistort_capture(options_for(s, dir.file("out")), log);
    FAIL() << "no exception";
  } catch (const TervikFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Error in file '" + dir.file("sil1_0000.png") +
                                         "': the image is 64x48 but its camera is 128x96");
  }
}

TEST(Undistortion, OutputNamesArePngFilesInTheOutputFolder) {
  EXPECT_EQ(output_name("out", "in/photos/img%d_%04d.jpg", true), "out/img%d_%04d.png");
  EXPECT_EQ(output_name("out", "cam3.txt", false), "out/cam3.txt");
  // Per-camera folders keep their folder, so that cameras do not share names.
  EXPECT_EQ(output_name("out", "in/cam%d/img_%04d.jpg", true), "out/cam%d/img_%04d.png");
  EXPECT_EQ(output_name("out", "in/100%%/img%d_%04d.jpg", true), "out/img%d_%04d.png");
}

TEST(Undistortion, ImagesAndSilhouettesOfOneNameAreKeptApartAndCollisionsRefused) {
  TempDir dir;
  scene::GeneratedScene s = distorted_scene(dir.path().string());
  // images/v%d_%04d.png and masks/v%d_%04d.png, a common layout.
  UndistortOptions o = options_for(s, dir.file("out"));
  std::filesystem::create_directories(dir.file("images"));
  std::filesystem::create_directories(dir.file("masks"));
  for (int cam = 0; cam < s.cameras; ++cam) {
    const std::string n = std::to_string(cam);
    std::filesystem::rename(dir.file("img" + n + "_0000.png"), dir.file("images/v" + n + "_0000.png"));
    std::filesystem::rename(dir.file("sil" + n + "_0000.png"), dir.file("masks/v" + n + "_0000.png"));
  }
  o.image_template = NameTemplate(dir.file("images/v%d_%04d.png"), 2, "image template");
  o.silhouette_template = NameTemplate(dir.file("masks/v%d_%04d.png"), 2, "silhouette template");
  const UndistortOutputs names = output_templates(o);
  EXPECT_EQ(names.image_template, dir.file("out/images/v%d_%04d.png"));
  EXPECT_EQ(names.silhouette_template, dir.file("out/silhouettes/v%d_%04d.png"));
  std::ostringstream log;
  undistort_capture(o, log);
  ImageRGB<unsigned char> rgb;
  ImageGray<unsigned char> sil;
  io::ReadImage(dir.file("out/images/v1_0000.png")).read(rgb);
  io::ReadImage(dir.file("out/silhouettes/v1_0000.png")).read(sil);
  std::set<int> values(sil.channel(0).data(), sil.channel(0).data() + sil.channel(0).num_elements());
  EXPECT_EQ(values, (std::set<int>{0, 255}));
  // Names that collide otherwise are refused before anything is written: a template whose
  // numbers give one name for two cameras and frames (1, 10 and 11, 0).
  o.cameras = 12;
  o.last_frame = 11;
  o.image_template = NameTemplate(dir.file("images/v%d%d.png"), 2, "image template");
  o.output_folder = dir.file("out2");
  try {
    undistort_capture(o, log);
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_EQ(std::string(e.what()),
              "the image of camera 1, frame 10 (" + dir.file("images/v110.png") +
                  ") and the image of camera 11, frame 0 (" + dir.file("images/v110.png") +
                  ") would both be written to " + dir.file("out2/v110.png") +
                  ": give them templates whose file names differ");
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("out2")));
  // --camera-ids takes the listed cameras, and names a missing one by its place in the list.
  o = options_for(s, dir.file("out3"));
  o.image_template = NameTemplate(dir.file("images/v%d_%04d.png"), 2, "image template");
  o.silhouette_template.reset();
  o.cameras = 2;
  o.camera_ids = {3, 1};
  undistort_capture(o, log);
  EXPECT_TRUE(std::filesystem::exists(dir.file("out3/cam3.txt")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("out3/cam0.txt")));
  o.camera_ids = {3, 5};
  try {
    undistort_capture(o, log);
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_EQ(std::string(e.what()), "camera 5 (entry 2 of --camera-ids): its camera file " +
                                         dir.file("cam5.txt") + " is not there");
  }
}

}  // namespace
}  // namespace tervik::capture
