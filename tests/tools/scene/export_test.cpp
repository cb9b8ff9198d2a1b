// The scene exporter's files as other tools lay them out, and the checks on lens distortion.
#include "tools/scene/export.h"

#include <string>

#include <gtest/gtest.h>

#include "tervik/exceptions.h"
#include "test_util.h"
#include "tools/scene/render.h"

namespace tervik::scene {
namespace {

using testing::TempDir;

TEST(SceneExport, WritesEachLayoutWithItsPixelConvention) {
  TempDir dir;
  SceneOptions o;
  o.object = ObjectKind::sphere;
  o.cameras = 4;
  o.width = 32;
  o.height = 24;
  o.frames = 1;
  const GeneratedScene s = generate_scene(dir.path().string(), o);
  // K of every camera: focal 40 (1.25 x width), principal point (16, 12) in the camera file's
  // convention, (15.5, 11.5) where pixel centres sit at integers.
  const auto colmap = export_cameras(s, ExportFormat::colmap);
  ASSERT_EQ(colmap.size(), 3u);
  const std::string cameras = testing::read_file(colmap[0]);
  EXPECT_NE(cameras.find("\n1 PINHOLE 32 24 40 40 16 12\n"), std::string::npos) << cameras;
  EXPECT_NE(testing::read_file(colmap[1]).find(" 1 img0_0000.png\n\n2 "), std::string::npos);
  const std::string yaml = testing::read_file(export_cameras(s, ExportFormat::opencv_yaml)[2]);
  EXPECT_EQ(yaml.rfind("%YAML:1.0\n---\nimage_width: 32\nimage_height: 24\n", 0), 0u);
  EXPECT_NE(yaml.find("data: [ 40, 0, 15.5, 0, 40, 11.5, 0, 0, 1 ]"), std::string::npos) << yaml;
  const std::string xml = testing::read_file(export_cameras(s, ExportFormat::opencv_xml)[0]);
  EXPECT_NE(xml.find("<data>\n    40 0 15.5 0 40 11.5 0 0 1</data></camera_matrix>"),
            std::string::npos) << xml;
  const std::string list = testing::read_file(export_cameras(s, ExportFormat::middlebury)[0]);
  EXPECT_EQ(list.rfind("4\nimg0_0000.png 40 0 15.5 0 40 11.5 0 0 1 ", 0), 0u) << list;
  EXPECT_EQ(export_cameras(s, ExportFormat::projections)[0], dir.file("projections.txt"));
  try {
    parse_export_format("ply");
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_EQ(std::string(e.what()), "unknown export format 'ply' (expected colmap, opencv-yaml, "
                                     "opencv-xml, middlebury or projections)");
  }
}

TEST(SceneExport, RefusesADistortionThatFoldsTheImage) {
  // k1 = -1 folds the image beyond a normalised radius of 0.58; the corner of a 64 x 48 image
  // with focal length 40 lies at 1.0.
  SceneOptions o;
  o.width = 64;
  o.height = 48;
  o.focal = 40.0;
  o.distortion = {-1.0, 0.0, 0.0, 0.0};
  try {
    build_scene(o);
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("lens distortion k1 k2 p1 p2 = -1 0 0 0 is too strong "
                                          "for a 64 x 48 image with focal length 40: "
                                          "undistorter: no ideal position found",
                                          0),
              0u)
        << e.what();
  }
  o.distortion = {-0.1, 0.0, 0.0, 0.0};
  EXPECT_EQ(build_scene(o).cameras[2].distortion[0], -0.1);
}

}  // namespace
}  // namespace tervik::scene
