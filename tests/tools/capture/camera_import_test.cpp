// Import of other tools' calibrations: round trips from the scene exporter, pixel conventions,
// distortion handling and the messages for what a camera file cannot hold.
#include "tools/capture/import/camera_import.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tervik/exceptions.h"
#include "tervik/multiview.h"
#include "test_util.h"
#include "tools/scene/scene.h"
#include "tools/scene/export.h"

namespace tervik::calibration {
namespace {

using scene::ExportFormat;
using scene::GeneratedScene;
using testing::TempDir;

// A small static scene on a dome (varied rotations), with the given lens distortion.
GeneratedScene small_scene(const std::string& folder, std::array<double, 4> distortion = {}) {
  scene::SceneOptions o;
  o.object = scene::ObjectKind::sphere;
  o.layout = scene::CameraLayout::dome;
  o.cameras = 5;
  o.width = 64;
  o.height = 48;
  o.frames = 1;
  o.distortion = distortion;
  return scene::generate_scene(folder, o);
}

// The largest distance, in pixels, between where the scene camera and the imported camera put
// world points seen at a grid of positions over the whole image (corners included), at two
// depths. With distortion the distorted positions are compared.
double worst_projection_error(const scene::ViewCamera& truth, const Camera& imported) {
  const Camera reference = scene::to_camera(truth);
  double worst = 0.0;
  for (int j = 0; j <= 12; ++j)
    for (int i = 0; i <= 16; ++i)
      for (double depth : {2.0, 6.0}) {
        const double u = truth.width * i / 16.0, v = truth.height * j / 12.0;
        const Point3D X = truth.centre() + truth.ray_direction(u, v) * depth;
        Point2D want, got;
        multiview::fast_world2image(X, reference, want);
        multiview::fast_world2image(X, imported, got);
        worst = std::max(worst, std::hypot(got.x - want.x, got.y - want.y));
        EXPECT_NEAR(multiview::point_depth(X, imported), depth, 1e-9 * depth);
      }
  return worst;
}

ImportResult import_export(const GeneratedScene& s, ExportFormat format,
                           const ImportOptions& options = {}) {
  const std::vector<std::string> files = scene::export_cameras(s, format);
  switch (format) {
    case ExportFormat::colmap: return import_colmap(s.folder + "/colmap", options);
    case ExportFormat::opencv_yaml:
    case ExportFormat::opencv_xml: return import_opencv(files, options);
    case ExportFormat::middlebury: return import_middlebury(files[0], options);
    case ExportFormat::projections: {
      ImportOptions sized = options;
      sized.width = s.truth.cameras[0].width;
      sized.height = s.truth.cameras[0].height;
      return import_projections(files, sized);
    }
  }
  return {};
}

TEST(ImportRoundTrip, PinholeCamerasProjectAsExportedInEveryFormat) {
  TempDir dir;
  const GeneratedScene s = small_scene(dir.path().string());
  for (ExportFormat f : {ExportFormat::colmap, ExportFormat::opencv_yaml, ExportFormat::opencv_xml,
                         ExportFormat::middlebury, ExportFormat::projections}) {
    SCOPED_TRACE(scene::export_format_name(f));
    const ImportResult r = import_export(s, f);
    ASSERT_EQ(r.cameras.size(), s.truth.cameras.size());
    EXPECT_TRUE(r.warnings.empty());
    for (std::size_t i = 0; i < r.cameras.size(); ++i) {
      const Camera& c = r.cameras[i].camera;
      EXPECT_EQ(c.im_width(), 64u);  // Middlebury: read from the named image
      EXPECT_EQ(c.im_height(), 48u);
      EXPECT_LT(worst_projection_error(s.truth.cameras[i], c), 1e-6);
      // K [R | t] reproduces P, and K is the scene's.
      const Camera want = scene::to_camera(s.truth.cameras[i]);
      for (int k = 0; k < 9; ++k) EXPECT_NEAR(c.k().data()[k], want.k().data()[k], 1e-9);
      for (int k = 0; k < 9; ++k) EXPECT_NEAR(c.rot().data()[k], want.rot().data()[k], 1e-12);
    }
  }
}

TEST(ImportRoundTrip, DistortedCamerasProjectAsExported) {
  TempDir dir;
  const GeneratedScene s = small_scene(dir.path().string(), {-0.25, 0.06, 0.002, -0.0015});
  for (ExportFormat f : {ExportFormat::colmap, ExportFormat::opencv_yaml, ExportFormat::opencv_xml}) {
    SCOPED_TRACE(scene::export_format_name(f));
    const ImportResult r = import_export(s, f);
    ASSERT_EQ(r.cameras.size(), s.truth.cameras.size());
    for (std::size_t i = 0; i < r.cameras.size(); ++i) {
      EXPECT_LT(worst_projection_error(s.truth.cameras[i], r.cameras[i].camera), 1e-3);
      EXPECT_EQ(r.cameras[i].camera.distortion()[0], -0.25);
      EXPECT_EQ(r.cameras[i].camera.distortion()[3], -0.0015);
    }
  }
  // The lists that hold no distortion refuse the scene.
  try {
    scene::export_cameras(s, ExportFormat::middlebury);
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_EQ(std::string(e.what()),
              "the middlebury layout holds no lens distortion: export a distorted scene as "
              "colmap, opencv-yaml or opencv-xml");
  }
}

TEST(ImportProjections, ScaleAndSignOfTheMatrixDoNotMatter) {
  TempDir dir;
  // P = K [R | t] with K = ((100, 0, 32), (0, 110, 24), (0, 0, 1)), R a rotation about z by 30
  // degrees, t = (0.1, -0.2, 5), written scaled by -2.5 on one line and as 3 rows in a file.
  const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
  const double k[3][3] = {{100, 0, 32}, {0, 110, 24}, {0, 0, 1}};
  const double r[3][3] = {{c, -s, 0}, {s, c, 0}, {0, 0, 1}}, t[3] = {0.1, -0.2, 5};
  const double none[4] = {0, 0, 0, 0};
  const Camera want = camera_from_krt(k, r, t, none, 64, 48, PixelCentres::half, "test");
  std::ostringstream line, rows;
  line.precision(17);
  rows.precision(17);
  for (int i = 0; i < 12; ++i) {
    line << want.p().data()[i] * -2.5 << " ";
    rows << want.p().data()[i] << (i % 4 == 3 ? "\n" : " ");
  }
  testing::write_file(dir.file("list.txt"), "# P per line\n" + line.str() + "\n\n");
  testing::write_file(dir.file("one.P"), rows.str());
  ImportOptions o;
  o.width = 64;
  o.height = 48;
  const ImportResult got = import_projections({dir.file("list.txt"), dir.file("one.P")}, o);
  ASSERT_EQ(got.cameras.size(), 2u);
  EXPECT_EQ(got.cameras[0].source, dir.file("list.txt") + ", line 2");
  for (const ImportedCamera& cam : got.cameras) {
    for (int i = 0; i < 12; ++i) EXPECT_NEAR(cam.camera.p().data()[i], want.p().data()[i], 1e-12);
    for (int i = 0; i < 9; ++i) {
      EXPECT_NEAR(cam.camera.k().data()[i], want.k().data()[i], 1e-10);
      EXPECT_NEAR(cam.camera.rot().data()[i], want.rot().data()[i], 1e-14);
    }
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(cam.camera.trans()[i], t[i], 1e-14);
  }
  // Without an image size, and with a file of the wrong count, the messages say what is wrong.
  testing::write_file(dir.file("bad.txt"), "1 2 3 4\n5 6 7 8\n9 10 11\n");
  try {
    import_projections({dir.file("bad.txt")}, o);
    FAIL() << "no exception";
  } catch (const TervikFileError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Error in file '" + dir.file("bad.txt") +
                  "': expected one 3 x 4 projection matrix (12 numbers) or one matrix of 12 "
                  "numbers per line, found 11 numbers");
  }
  try {
    import_projections({dir.file("one.P")}, ImportOptions());
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_EQ(std::string(e.what()),
              "projection matrices carry no image size: give --image-size WIDTHxHEIGHT");
  }
}

// An OpenCV YAML file as calibration scripts write it, with the given principal point,
// distortion coefficients and rotation entry.
std::string opencv_yaml(double cx, double cy, const std::string& distortion,
                        const std::string& rotation) {
  std::ostringstream out;
  out << "%YAML:1.0\n---\nimage_width: 64\nimage_height: 48\n"
      << "K: !!opencv-matrix\n   rows: 3\n   cols: 3\n   dt: d\n   data: [ 100., 0., " << cx
      << ", 0., 100., " << cy << ", 0., 0., 1. ]\n"
      << "D: [" << distortion << "]\n" << rotation << "\ntvec: [[0.], [0.], [4.]]\n";
  return out.str();
}

TEST(ImportOpenCV, IntegerPixelCentresMoveThePrincipalPointByHalfAPixel) {
  TempDir dir;
  testing::write_file(dir.file("a.yaml"), opencv_yaml(31.5, 23.5, "0, 0, 0, 0", "rvec: [0, 0, 1.5707963267948966]"));
  const Camera c = import_opencv({dir.file("a.yaml")}, {}).cameras[0].camera;
  EXPECT_EQ(c.k()[2][0], 32.0);  // K row 0, column 2
  EXPECT_EQ(c.k()[2][1], 24.0);
  // The optical axis meets the image at the principal point, in the camera file's convention.
  Point2D x;
  multiview::world_to_image_undistorted(Point3D(0, 0, 1), c, x);
  EXPECT_NEAR(x.x, 32.0, 1e-12);
  EXPECT_NEAR(x.y, 24.0, 1e-12);
  // rvec (0, 0, pi/2): the world x axis becomes the camera's y axis.
  EXPECT_NEAR(c.rot()[0][1], 1.0, 1e-15);  // row 1, column 0
  EXPECT_NEAR(c.rot()[1][0], -1.0, 1e-15);
  // Told that the file centres pixels at i + 0.5, nothing moves.
  ImportOptions half;
  half.centres = PixelCentres::half;
  EXPECT_EQ(import_opencv({dir.file("a.yaml")}, half).cameras[0].camera.k()[2][0], 31.5);
  // The same camera in XML, with R as a 3 x 3 matrix.
  testing::write_file(dir.file("a.xml"),
                      "<?xml version=\"1.0\"?>\n<opencv_storage>\n<image_width>64</image_width>\n"
                      "<image_height>48</image_height>\n<camera_matrix type_id=\"opencv-matrix\">"
                      "<rows>3</rows><cols>3</cols><dt>d</dt><data>100 0 31.5 0 100 23.5 0 0 1"
                      "</data></camera_matrix>\n<R type_id=\"opencv-matrix\"><rows>3</rows>"
                      "<cols>3</cols><dt>d</dt><data>0 -1 0 1 0 0 0 0 1</data></R>\n"
                      "<T>0 0 4</T>\n</opencv_storage>\n");
  const Camera x_cam = import_opencv({dir.file("a.xml")}, {}).cameras[0].camera;
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(x_cam.p().data()[i], c.p().data()[i], 1e-12);
}

TEST(ImportOpenCV, ExtraDistortionIsRefusedOrDroppedWithItsCornerError) {
  TempDir dir;
  const std::string file = dir.file("k3.yml");
  testing::write_file(file, opencv_yaml(31.5, 23.5, "-0.1, 0.02, 0, 0, 0.5", "rvec: [0, 0, 0]"));
  try {
    import_opencv({file}, {});
    FAIL() << "no exception";
  } catch (const TervikFileError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Error in file '" + file +
                  "': distortion terms k3 = 0.5 cannot be held by a camera "
                  "file, which keeps k1 k2 p1 p2 only; undistort the images with the full "
                  "model first, or give --ignore-extra-distortion to drop them");
  }
  ImportOptions ignore;
  ignore.ignore_extra_distortion = true;
  const ImportResult r = import_opencv({file}, ignore);
  ASSERT_EQ(r.warnings.size(), 1u);
  const std::string prefix = file + ": dropped the distortion terms k3 = 0.5; "
                                    "the camera file's model is off by up to ";
  ASSERT_EQ(r.warnings[0].rfind(prefix, 0), 0u) << r.warnings[0];
  EXPECT_EQ(r.cameras[0].camera.distortion()[0], -0.1);
  EXPECT_EQ(r.cameras[0].camera.distortion()[1], 0.02);
  // Independently: the corner (-0.5, -0.5) lies at normalised radius 0.4 (0.32, 0.24); its
  // ideal radius s solves s (1 - 0.1 s^2 + 0.02 s^4 + 0.5 s^6) = 0.4, and dropping k3 moves
  // it by 100 * 0.5 s^7 pixels.
  double lo = 0.0, hi = 1.0;
  for (int i = 0; i < 200; ++i) {
    const double s = 0.5 * (lo + hi), s2 = s * s;
    (s * (1 - 0.1 * s2 + 0.02 * s2 * s2 + 0.5 * s2 * s2 * s2) < 0.4 ? lo : hi) = s;
  }
  const double expected = 100.0 * 0.5 * std::pow(lo, 7);
  EXPECT_GT(expected, 0.05);
  EXPECT_NEAR(std::stod(r.warnings[0].substr(prefix.size())), expected, 0.0006);
  // The principal point is central, so every corner is off by as much; one is named.
  const std::size_t at = r.warnings[0].find(" pixels at the image corners (largest at corner (");
  ASSERT_NE(at, std::string::npos) << r.warnings[0];
  const std::string corner = r.warnings[0].substr(r.warnings[0].find("corner (") + 7);
  EXPECT_TRUE(corner == "(0.000, 0.000))" || corner == "(64.000, 0.000))" ||
              corner == "(0.000, 48.000))" || corner == "(64.000, 48.000))")
      << corner;
}

TEST(ImportColmap, AcceptsTheModelsACameraFileHoldsAndNamesAnyOther) {
  TempDir dir;
  testing::write_file(dir.file("cameras.txt"),
                      "# comment\n1 SIMPLE_RADIAL 64 48 100 32 24 -0.2\n"
                      "2 RADIAL 64 48 90 30 20 -0.1 0.03\n");
  testing::write_file(dir.file("images.txt"),
                      "# comment\n5 1 0 0 0 0 0 4 2 b.png\n\n3 1 0 0 0 0 0 4 1 a.png\n1 2 3 -1 2\n");
  const ImportResult r = import_colmap(dir.path().string(), {});
  ASSERT_EQ(r.cameras.size(), 2u);
  // By image id: image 3 (camera 1) first.
  EXPECT_EQ(r.cameras[0].source, dir.file("images.txt") + " image 3 'a.png' (camera 1, " +
                                     dir.file("cameras.txt") + ")");
  const Camera& a = r.cameras[0].camera;
  EXPECT_EQ(a.k()[0][0], 100.0);
  EXPECT_EQ(a.k()[1][1], 100.0);
  EXPECT_EQ(a.k()[2][0], 32.0);  // COLMAP centres pixels at i + 0.5 already
  EXPECT_EQ(a.distortion()[0], -0.2);
  EXPECT_EQ(a.distortion()[1], 0.0);
  const Camera& b = r.cameras[1].camera;
  EXPECT_EQ(b.k()[1][1], 90.0);
  EXPECT_EQ(b.distortion()[1], 0.03);

  testing::write_file(dir.file("cameras.txt"), "1 PINHOLE 64 48 100 100 32 24\n"
                                               "2 FULL_OPENCV 64 48 100 100 32 24 0 0 0 0 0 0 0 0\n");
  try {
    import_colmap(dir.path().string(), {});
    FAIL() << "no exception";
  } catch (const TervikFileError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Error in file '" + dir.file("cameras.txt") +
                  "': line 2: camera 2 uses the model FULL_OPENCV, which a camera file cannot "
                  "hold (accepted: SIMPLE_PINHOLE, PINHOLE, SIMPLE_RADIAL, RADIAL, OPENCV)");
  }
}

// Runs import_cameras with `args` and returns its exit status; stdout goes to `out`.
int run_import(const std::string& args, const std::string& out) {
  return std::system((TERVIK_BINARY_DIR "/tools/import_cameras " + args + " >" + out).c_str());
}

TEST(ImportCamerasProgram, WritesCameraFilesAndReportsTheDroppedDistortion) {
  TempDir dir;
  const std::string file = dir.file("cam.yml");
  testing::write_file(file, opencv_yaml(31.5, 23.5, "-0.1, 0.02, 0, 0, 0.5", "rvec: [0, 0, 0]"));
  const std::string out = dir.file("out.txt");
  EXPECT_NE(run_import("--format opencv -o " + dir.file("c%d.txt") + " " + file, out), 0);
  EXPECT_EQ(testing::read_file(out).rfind("ERROR: Error in file '" + file + "': distortion terms k3", 0), 0u);
  ASSERT_EQ(run_import("--format opencv --ignore-extra-distortion -o " + dir.file("c%d.txt") +
                           " " + file, out), 0);
  const std::string text = testing::read_file(out);
  EXPECT_EQ(text.rfind("WARNING: " + file + ": dropped the distortion terms k3", 0), 0u) << text;
  EXPECT_NE(text.find("Wrote 1 camera files"), std::string::npos);
  Camera c;
  c.read_parameters(dir.file("c0.txt"));
  EXPECT_EQ(c.im_width(), 64u);
  EXPECT_EQ(c.k()[2][0], 32.0);
  EXPECT_NE(run_import("--format kml " + file, out), 0);
  EXPECT_EQ(testing::read_file(out),
            "ERROR: unknown format 'kml' (expected projections, middlebury, colmap, opencv or krt) "
            "(see import_cameras --help)\n");
}

// The message of what `f` throws, "" when it throws nothing.
template <typename F>
std::string error_of(F&& f) {
  try {
    f();
  } catch (const BacktracedTervikException& e) {
    return e.what();
  }
  return "";
}

// A camera's K, distortion and [R|t] as krt text: K in OpenCV's integer pixel centres,
// `terms` distortion terms, and the pose as 3 rows of 4 (rt) or R then t.
std::string krt_text(const Camera& c, int terms, bool rt, const std::string& sep) {
  std::ostringstream out;
  out.precision(17);
  for (int i = 0; i < 9; ++i)
    out << (c.k().data()[i] - (i == 2 || i == 5 ? 0.5 : 0.0)) << (i % 3 == 2 ? sep : " ");
  for (int i = 0; i < terms; ++i) out << (i < 4 ? c.distortion()[i] : 0.0) << " ";
  out << sep;
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) out << c.rot().data()[3 * row + col] << " ";
    if (rt) out << c.trans()[row] << " ";
    out << sep;
  }
  if (!rt) out << c.trans()[0] << " " << c.trans()[1] << " " << c.trans()[2] << sep;
  return out.str();
}

TEST(ImportKrt, EveryLayoutProjectsAsExported) {
  TempDir dir;
  const GeneratedScene s = small_scene(dir.path().string(), {-0.05, 0.01, 0.001, -0.002});
  ImportOptions o;
  o.width = s.truth.cameras[0].width;
  o.height = s.truth.cameras[0].height;
  // Numbers in order on one line per camera, blocks with labels and index lines, R and t
  // apart, brackets and commas: every layout gives the exported cameras.
  std::string one_line, blocks, r_and_t;
  for (int i = 0; i < s.cameras; ++i) {
    const Camera c = scene::to_camera(s.truth.cameras[i]);
    one_line += krt_text(c, 4, true, " ") + "\n";
    blocks += "# camera\n" + std::to_string(i + 1) + "\nK = [" + krt_text(c, 4, true, ";\n") + "]\n\n";
    r_and_t += "camera " + std::to_string(i) + ":\n" + krt_text(c, 4, false, "\n");
  }
  for (const auto& [name, text] : {std::pair{"line.txt", one_line}, {"blocks.txt", blocks},
                                   {"r_and_t.txt", r_and_t}}) {
    SCOPED_TRACE(name);
    testing::write_file(dir.file(name), text);
    const ImportResult r = import_krt({dir.file(name)}, o);
    ASSERT_EQ(r.cameras.size(), std::size_t(s.cameras));
    for (int i = 0; i < s.cameras; ++i)
      EXPECT_LT(worst_projection_error(s.truth.cameras[i], r.cameras[i].camera), 1e-6);
  }
  EXPECT_EQ(import_krt({dir.file("blocks.txt")}, o).cameras[1].source,
            dir.file("blocks.txt") + ", line 13 (camera 2)");
  // 0, 2 and 5 terms; the fifth (k3) is refused unless dropped, as in the other formats.
  const GeneratedScene pin = small_scene(dir.file("pin"));
  const Camera c = scene::to_camera(pin.truth.cameras[0]);
  for (int terms : {0, 2, 5}) {
    testing::write_file(dir.file("t.txt"), krt_text(c, terms, terms != 2, "\n"));
    const ImportResult r = import_krt({dir.file("t.txt")}, o);
    ASSERT_EQ(r.cameras.size(), 1u) << terms;
    EXPECT_LT(worst_projection_error(pin.truth.cameras[0], r.cameras[0].camera), 1e-6);
  }
  testing::write_file(dir.file("k3.txt"), "100 0 31.5 0 100 23.5 0 0 1  0 0 0 0 0.5\n"
                                          "1 0 0 0\n0 1 0 0\n0 0 1 4\n");
  EXPECT_NE(error_of([&] { import_krt({dir.file("k3.txt")}, o); })
                .find("': distortion terms k3 = 0.5 cannot be held by a camera file"),
            std::string::npos);
  // What cannot be read as a camera is named by its line.
  testing::write_file(dir.file("bad.txt"), krt_text(c, 0, true, "\n") + "100 0 31.5 0 100 23.5 0 0 1\n"
                                            "1 0 0 0\n0 1 0 0\n0 0 2 4\n");
  EXPECT_EQ(error_of([&] { import_krt({dir.file("bad.txt")}, o); }),
            "Error in file '" + dir.file("bad.txt") +
                "': line 8: expected camera 2 (counting over all files): K (9 numbers, K[1][0] = "
                "K[2][0] = K[2][1] = 0), 0, 2, 4 or 5 distortion terms, and [R|t] (12 numbers) "
                "or R and t, R a rotation");
  testing::write_file(dir.file("nan.txt"), "K: 100 0 nan\n");
  EXPECT_EQ(error_of([&] { import_krt({dir.file("nan.txt")}, o); }),
            "Error in file '" + dir.file("nan.txt") + "': line 1: 'nan' is not a finite number");
  EXPECT_EQ(error_of([&] { import_krt({dir.file("t.txt")}, {}); }),
            "K R t lists carry no image size: give --image-size WIDTHxHEIGHT");
}

TEST(ImportColmap, PointLinesMayBeMissingAndQuaternionsOfAnyLengthAreNormalised) {
  TempDir dir;
  testing::write_file(dir.file("cameras.txt"), "1 PINHOLE 64 48 100 100 32 24\n");
  // Three images without point lines, a fourth with one (empty for the third, absent for the
  // others); the quaternions are the same rotation at lengths 1, 1e200 and 1e-200.
  testing::write_file(dir.file("images.txt"),
                      "1 0.5 0.5 0.5 0.5 0 0 4 1 a.png\n"
                      "2 5e199 5e199 5e199 5e199 0 0 4 1 b.png\n"
                      "3 5e-201 5e-201 5e-201 5e-201 0 0 4 1 c.png\n\n"
                      "4 1 0 0 0 0 0 4 1 d.png\n10.5 20.5 -1 30 40 7\n");
  const ImportResult r = import_colmap(dir.path().string(), {});
  ASSERT_EQ(r.cameras.size(), 4u);
  for (int c = 1; c < 3; ++c)
    for (int i = 0; i < 9; ++i)
      EXPECT_NEAR(r.cameras[c].camera.rot().data()[i], r.cameras[0].camera.rot().data()[i], 1e-15);
  EXPECT_EQ(r.cameras[3].source.find(" image 4 'd.png'") != std::string::npos, true);
  ASSERT_EQ(r.warnings.size(), 2u);
  EXPECT_EQ(r.warnings[0], dir.file("images.txt") +
                               ", line 2: image 2's quaternion has length 1e+200, not 1: it was "
                               "normalised");
  // A line that is neither a pose nor points is named.
  testing::write_file(dir.file("images.txt"), "1 1 0 0 0 0 0 4 1 a.png\nx y\n");
  EXPECT_EQ(error_of([&] { import_colmap(dir.path().string(), {}); }),
            "Error in file '" + dir.file("images.txt") +
                "': line 2: expected IMAGE_ID QW QX QY QZ TX TY TZ CAMERA_ID NAME or the image's "
                "POINTS2D[] as (X, Y, POINT3D_ID)");
}

TEST(ImportHostileInput, NonRegularDeepAliasedAndInconsistentFilesAreRefusedByName) {
  TempDir dir;
  ImportOptions sized;
  sized.width = 64;
  sized.height = 48;
  // A FIFO (which would block for ever) and /dev/zero (which never ends) in every format.
  const std::string fifo = dir.file("fifo.yml");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string fifo_error =
      "Error in file '" + fifo + "': cannot be read: it is a FIFO, not a regular file";
  EXPECT_EQ(error_of([&] { import_opencv({fifo}, sized); }), fifo_error);
  EXPECT_EQ(error_of([&] { import_projections({fifo}, sized); }), fifo_error);
  EXPECT_EQ(error_of([&] { import_middlebury(fifo, sized); }), fifo_error);
  EXPECT_EQ(error_of([&] { import_krt({fifo}, sized); }), fifo_error);
  std::filesystem::create_directory(dir.file("colmap"));
  ASSERT_EQ(::mkfifo(dir.file("colmap/cameras.txt").c_str(), 0600), 0);
  EXPECT_EQ(error_of([&] { import_colmap(dir.file("colmap"), {}); }),
            "Error in file '" + dir.file("colmap/cameras.txt") +
                "': cannot be read: it is a FIFO, not a regular file");
  EXPECT_EQ(error_of([&] { import_krt({"/dev/zero"}, sized); }),
            "Error in file '/dev/zero': cannot be read: it is a character device, not a regular "
            "file");
  // XML nested 200000 levels deep (the parser recursed once per level).
  std::string deep = "<?xml version=\"1.0\"?>\n<opencv_storage>";
  for (int i = 0; i < 200000; ++i) deep += "<a>";
  for (int i = 0; i < 200000; ++i) deep += "</a>";
  testing::write_file(dir.file("deep.xml"), deep + "</opencv_storage>\n");
  EXPECT_EQ(error_of([&] { import_opencv({dir.file("deep.xml")}, {}); }),
            "Error in file '" + dir.file("deep.xml") +
                "': XML elements nested more than 64 levels deep, which no calibration file needs");
  // Nested aliases expanding to 10^12 numbers: harmless in an entry the camera does not use,
  // refused in one it uses.
  std::string laughs = "a: &a [1, 1, 1, 1, 1, 1, 1, 1, 1, 1]\n";
  for (int i = 1; i <= 12; ++i) {
    laughs += "l" + std::to_string(i) + ": &l" + std::to_string(i) + " [";
    for (int j = 0; j < 10; ++j) laughs += (j ? ", *" : "*") + (i == 1 ? "a" : "l" + std::to_string(i - 1));
    laughs += "]\n";
  }
  const std::string good = opencv_yaml(31.5, 23.5, "0, 0, 0, 0", "rvec: [0, 0, 0]");
  testing::write_file(dir.file("laughs.yml"), good + laughs);
  EXPECT_EQ(import_opencv({dir.file("laughs.yml")}, {}).cameras.size(), 1u);
  testing::write_file(dir.file("k_laughs.yml"),
                      "%YAML:1.0\n---\nimage_width: 64\nimage_height: 48\nK:\n  - &a [1, 1, 1]\n"
                      "  - &b [*a, *a, *a, *a, *a, *a, *a, *a, *a, *a]\n"
                      "  - &c [*b, *b, *b, *b, *b, *b, *b, *b, *b, *b]\n"
                      "  - [*c, *c, *c, *c, *c, *c, *c, *c, *c, *c]\n"
                      "R: [1, 0, 0, 0, 1, 0, 0, 0, 1]\nT: [0, 0, 4]\n");
  EXPECT_EQ(error_of([&] { import_opencv({dir.file("k_laughs.yml")}, {}); }),
            "Error in file '" + dir.file("k_laughs.yml") +
                "': camera_matrix (or K) must hold 9 finite numbers, found a value that is not "
                "a list of at most 64 numbers");
  // A matrix whose rows and cols disagree with its data, and a Middlebury count smaller than
  // its list.
  std::string shape = good;
  shape.replace(shape.find("cols: 3"), 7, "cols: 4");
  testing::write_file(dir.file("shape.yml"), shape);
  EXPECT_EQ(error_of([&] { import_opencv({dir.file("shape.yml")}, {}); }),
            "Error in file '" + dir.file("shape.yml") +
                "': camera_matrix (or K) declares 3 rows and 4 columns but its data holds 9 "
                "numbers");
  const std::string view = " 100 0 31.5 0 100 23.5 0 0 1 1 0 0 0 1 0 0 0 1 0 0 4\n";
  testing::write_file(dir.file("list.txt"), "2\na.png" + view + "b.png" + view + "c.png" + view);
  EXPECT_EQ(error_of([&] { import_middlebury(dir.file("list.txt"), sized); }),
            "Error in file '" + dir.file("list.txt") +
                "': declares 2 cameras but lists 3 (line 4 is past the count): correct the count "
                "on the first line");
}

TEST(ImportCamerasProgram, NeverWritesOverAnInputAndWritesCameraFilesWhole) {
  TempDir dir;
  const std::string input = dir.file("cams.txt");
  const std::string text = "100 0 31.5 0 100 23.5 0 0 1\n1 0 0 0\n0 1 0 0\n0 0 1 4\n";
  testing::write_file(input, text);
  // Through a symbolic link, and under its own name.
  std::filesystem::create_symlink(input, dir.file("link0.txt"));
  const std::string out = dir.file("out.txt");
  EXPECT_EQ(run_import("--format krt --image-size 64x48 -o " + dir.file("link%d.txt") + " " + input, out), 256);
  EXPECT_EQ(testing::read_file(out), "ERROR: the output " + dir.file("link0.txt") +
                                         " would replace the input " + input +
                                         ": choose another output template\n");
  EXPECT_EQ(testing::read_file(input), text);
  std::filesystem::rename(input, dir.file("cams0.txt"));
  EXPECT_NE(run_import("--format krt --image-size 64x48 -o " + dir.file("cams%d.txt") + " " +
                           dir.file("cams0.txt"), out), 0);
  EXPECT_EQ(testing::read_file(dir.file("cams0.txt")), text);
  // --camera-ids numbers the outputs in the order of the imported cameras.
  testing::write_file(dir.file("two.txt"), text + "\n" + text);
  ASSERT_EQ(run_import("--format krt --image-size 64x48 --camera-ids 7,2 -o " +
                           dir.file("id%d.txt") + " " + dir.file("two.txt"), out), 0);
  EXPECT_TRUE(std::filesystem::exists(dir.file("id7.txt")));
  EXPECT_TRUE(std::filesystem::exists(dir.file("id2.txt")));
  EXPECT_NE(run_import("--format krt --image-size 64x48 --camera-ids 1-3 " + dir.file("two.txt"),
                       out), 0);
  EXPECT_EQ(testing::read_file(out),
            "ERROR: the calibration holds 2 cameras but --camera-ids lists 3\n");
  // A write that fails part way (the file-size limit stands in for a full disk) leaves the
  // earlier camera file as it was.
  const std::string cam = dir.file("cam0.txt");
  ASSERT_EQ(run_import("--format krt --image-size 64x48 -o " + dir.file("cam%d.txt") + " " +
                           dir.file("cams0.txt"), out), 0);
  const std::string before = testing::read_file(cam);
  Camera c;
  c.read_parameters(cam);
  c.im_width() = 99;
  {
    testing::FileSizeLimit limit(100);
    EXPECT_THROW(c.write_parameters(cam), TervikFileError);
  }
  EXPECT_EQ(testing::read_file(cam), before);
}

}  // namespace
}  // namespace tervik::calibration
