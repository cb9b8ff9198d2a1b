// Export of scene cameras to the COLMAP, OpenCV, Middlebury and projection-list layouts.
#include "tools/scene/export.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tervik/exceptions.h"

namespace tervik::scene {
namespace {

using Matrix3 = std::array<std::array<double, 3>, 3>;

// An output file with 17 significant digits for every real, so that values read back exactly.
std::ofstream open_output(const std::string& file) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) throw TervikFileNotFound(file);
  out.precision(17);
  return out;
}

void close_output(std::ofstream& out, const std::string& file) {
  out.close();
  if (!out) throw TervikFileError(file, "writing failed");
}

// The file name (without folder) of camera i's image of the first frame.
std::string image_name(const GeneratedScene& scene, std::size_t i) {
  const std::string pattern = std::filesystem::path(scene.image_template).filename().string();
  char buf[512];
  std::snprintf(buf, sizeof buf, pattern.c_str(), long(i), scene.first_frame);
  return buf;
}

// K with the principal point moved from the centre-at-i+0.5 convention to integer centres.
Matrix3 integer_centre_k(const ViewCamera& cam) {
  Matrix3 k = cam.k;
  k[0][2] -= 0.5;
  k[1][2] -= 0.5;
  return k;
}

// Unit quaternion (w, x, y, z) of a rotation matrix.
std::array<double, 4> quaternion(const Matrix3& r) {
  const double trace = r[0][0] + r[1][1] + r[2][2];
  std::array<double, 4> q;
  if (trace > 0.0) {
    const double s = 2.0 * std::sqrt(trace + 1.0);
    q = {0.25 * s, (r[2][1] - r[1][2]) / s, (r[0][2] - r[2][0]) / s, (r[1][0] - r[0][1]) / s};
  } else if (r[0][0] > r[1][1] && r[0][0] > r[2][2]) {
    const double s = 2.0 * std::sqrt(1.0 + r[0][0] - r[1][1] - r[2][2]);
    q = {(r[2][1] - r[1][2]) / s, 0.25 * s, (r[0][1] + r[1][0]) / s, (r[0][2] + r[2][0]) / s};
  } else if (r[1][1] > r[2][2]) {
    const double s = 2.0 * std::sqrt(1.0 + r[1][1] - r[0][0] - r[2][2]);
    q = {(r[0][2] - r[2][0]) / s, (r[0][1] + r[1][0]) / s, 0.25 * s, (r[1][2] + r[2][1]) / s};
  } else {
    const double s = 2.0 * std::sqrt(1.0 + r[2][2] - r[0][0] - r[1][1]);
    q = {(r[1][0] - r[0][1]) / s, (r[0][2] + r[2][0]) / s, (r[1][2] + r[2][1]) / s, 0.25 * s};
  }
  return q;
}

std::vector<std::string> write_colmap(const GeneratedScene& scene) {
  const std::string dir = scene.folder + "/colmap";
  std::filesystem::create_directories(dir);
  const auto& cams = scene.truth.cameras;
  const std::string cameras_file = dir + "/cameras.txt", images_file = dir + "/images.txt",
                    points_file = dir + "/points3D.txt";
  std::ofstream out = open_output(cameras_file);
  out << "# Camera list with one line of data per camera:\n"
      << "#   CAMERA_ID, MODEL, WIDTH, HEIGHT, PARAMS[]\n"
      << "# Number of cameras: " << cams.size() << "\n";
  for (std::size_t i = 0; i < cams.size(); ++i) {
    const ViewCamera& c = cams[i];
    out << i + 1 << (c.distorted() ? " OPENCV " : " PINHOLE ") << c.width << " " << c.height << " "
        << c.k[0][0] << " " << c.k[1][1] << " " << c.k[0][2] << " " << c.k[1][2];
    if (c.distorted())
      for (double d : c.distortion) out << " " << d;
    out << "\n";
  }
  close_output(out, cameras_file);
  out = open_output(images_file);
  out << "# Image list with two lines of data per image:\n"
      << "#   IMAGE_ID, QW, QX, QY, QZ, TX, TY, TZ, CAMERA_ID, NAME\n"
      << "#   POINTS2D[] as (X, Y, POINT3D_ID)\n"
      << "# Number of images: " << cams.size() << ", mean observations per image: 0\n";
  for (std::size_t i = 0; i < cams.size(); ++i) {
    const auto q = quaternion(cams[i].r);
    out << i + 1 << " " << q[0] << " " << q[1] << " " << q[2] << " " << q[3] << " "
        << cams[i].t[0] << " " << cams[i].t[1] << " " << cams[i].t[2] << " " << i + 1 << " "
        << image_name(scene, i) << "\n\n";
  }
  close_output(out, images_file);
  out = open_output(points_file);
  out << "# 3D point list with one line of data per point:\n"
      << "#   POINT3D_ID, X, Y, Z, R, G, B, ERROR, TRACK[] as (IMAGE_ID, POINT2D_IDX)\n"
      << "# Number of points: 0, mean track length: 0\n";
  close_output(out, points_file);
  return {cameras_file, images_file, points_file};
}

// The numbers of a matrix or vector in OpenCV's YAML or XML layout.
void opencv_matrix(std::ostream& out, bool yaml, const std::string& name, int rows, int cols,
                   const std::vector<double>& data) {
  if (yaml) {
    out << name << ": !!opencv-matrix\n   rows: " << rows << "\n   cols: " << cols
        << "\n   dt: d\n   data: [ ";
    for (std::size_t i = 0; i < data.size(); ++i) out << (i ? ", " : "") << data[i];
    out << " ]\n";
  } else {
    out << "<" << name << " type_id=\"opencv-matrix\">\n  <rows>" << rows << "</rows>\n  <cols>"
        << cols << "</cols>\n  <dt>d</dt>\n  <data>\n   ";
    for (double d : data) out << " " << d;
    out << "</data></" << name << ">\n";
  }
}

std::vector<std::string> write_opencv(const GeneratedScene& scene, bool yaml) {
  const std::string dir = scene.folder + "/opencv";
  std::filesystem::create_directories(dir);
  std::vector<std::string> files;
  for (std::size_t i = 0; i < scene.truth.cameras.size(); ++i) {
    const ViewCamera& c = scene.truth.cameras[i];
    const std::string file = dir + "/cam" + std::to_string(i) + (yaml ? ".yml" : ".xml");
    std::ofstream out = open_output(file);
    out << (yaml ? "%YAML:1.0\n---\n" : "<?xml version=\"1.0\"?>\n<opencv_storage>\n");
    if (yaml)
      out << "image_width: " << c.width << "\nimage_height: " << c.height << "\n";
    else
      out << "<image_width>" << c.width << "</image_width>\n<image_height>" << c.height
          << "</image_height>\n";
    const Matrix3 k = integer_centre_k(c);
    opencv_matrix(out, yaml, "camera_matrix", 3, 3,
                  {k[0][0], k[0][1], k[0][2], k[1][0], k[1][1], k[1][2], k[2][0], k[2][1], k[2][2]});
    opencv_matrix(out, yaml, "distortion_coefficients", 1, 5,
                  {c.distortion[0], c.distortion[1], c.distortion[2], c.distortion[3], 0.0});
    opencv_matrix(out, yaml, "R", 3, 3,
                  {c.r[0][0], c.r[0][1], c.r[0][2], c.r[1][0], c.r[1][1], c.r[1][2], c.r[2][0],
                   c.r[2][1], c.r[2][2]});
    opencv_matrix(out, yaml, "T", 3, 1, {c.t[0], c.t[1], c.t[2]});
    if (!yaml) out << "</opencv_storage>\n";
    close_output(out, file);
    files.push_back(file);
  }
  return files;
}

void require_pinhole(const GeneratedScene& scene, ExportFormat format) {
  for (const ViewCamera& c : scene.truth.cameras)
    if (c.distorted())
      throw TervikError("the " + export_format_name(format) +
                        " layout holds no lens distortion: export a distorted scene as colmap, "
                        "opencv-yaml or opencv-xml");
}

std::vector<std::string> write_middlebury(const GeneratedScene& scene) {
  const std::string file = scene.folder + "/scene_par.txt";
  std::ofstream out = open_output(file);
  const auto& cams = scene.truth.cameras;
  out << cams.size() << "\n";
  for (std::size_t i = 0; i < cams.size(); ++i) {
    out << image_name(scene, i);
    const Matrix3 k = integer_centre_k(cams[i]);
    for (const auto& row : k)
      for (double v : row) out << " " << v;
    for (const auto& row : cams[i].r)
      for (double v : row) out << " " << v;
    for (double v : cams[i].t) out << " " << v;
    out << "\n";
  }
  close_output(out, file);
  return {file};
}

std::vector<std::string> write_projections(const GeneratedScene& scene) {
  const std::string file = scene.folder + "/projections.txt";
  std::ofstream out = open_output(file);
  for (const ViewCamera& c : scene.truth.cameras) {
    for (int r = 0; r < 3; ++r)
      for (int col = 0; col < 4; ++col) out << (r || col ? " " : "") << c.p[r][col];
    out << "\n";
  }
  close_output(out, file);
  return {file};
}

}  // namespace

std::string export_format_name(ExportFormat format) {
  switch (format) {
    case ExportFormat::colmap: return "colmap";
    case ExportFormat::opencv_yaml: return "opencv-yaml";
    case ExportFormat::opencv_xml: return "opencv-xml";
    case ExportFormat::middlebury: return "middlebury";
    case ExportFormat::projections: return "projections";
  }
  return "unknown";
}

ExportFormat parse_export_format(const std::string& name) {
  for (ExportFormat f : {ExportFormat::colmap, ExportFormat::opencv_yaml, ExportFormat::opencv_xml,
                         ExportFormat::middlebury, ExportFormat::projections})
    if (name == export_format_name(f)) return f;
  throw TervikError("unknown export format '" + name +
                    "' (expected colmap, opencv-yaml, opencv-xml, middlebury or projections)");
}

std::vector<std::string> export_cameras(const GeneratedScene& scene, ExportFormat format) {
  switch (format) {
    case ExportFormat::colmap: return write_colmap(scene);
    case ExportFormat::opencv_yaml: return write_opencv(scene, true);
    case ExportFormat::opencv_xml: return write_opencv(scene, false);
    case ExportFormat::middlebury:
      require_pinhole(scene, format);
      return write_middlebury(scene);
    case ExportFormat::projections:
      require_pinhole(scene, format);
      return write_projections(scene);
  }
  return {};
}

}  // namespace tervik::scene
