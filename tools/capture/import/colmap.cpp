// Importer of COLMAP text models (cameras.txt and images.txt).
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>

#include "tervik/exceptions.h"
#include "tools/capture/import/camera_import.h"
#include "tools/capture/import/import_util.h"
#include "tools/common/capture_files.h"

namespace tervik::calibration {
namespace {

// A camera model's intrinsics in the camera file's terms.
struct Intrinsics {
  long width = 0, height = 0;
  double fx = 0, fy = 0, cx = 0, cy = 0;
  double distortion[4] = {0, 0, 0, 0};
};

// The models the camera file can hold, with their parameter counts.
const std::map<std::string, std::size_t> kModels = {
    {"SIMPLE_PINHOLE", 3}, {"PINHOLE", 4}, {"SIMPLE_RADIAL", 4}, {"RADIAL", 5}, {"OPENCV", 8}};

Intrinsics intrinsics(const std::string& model, const std::vector<double>& v) {
  Intrinsics in;
  const bool simple = model == "SIMPLE_PINHOLE" || model == "SIMPLE_RADIAL" || model == "RADIAL";
  in.fx = v[0];
  in.fy = simple ? v[0] : v[1];
  in.cx = simple ? v[1] : v[2];
  in.cy = simple ? v[2] : v[3];
  if (model == "SIMPLE_RADIAL") in.distortion[0] = v[3];
  if (model == "RADIAL") in.distortion[0] = v[3], in.distortion[1] = v[4];
  if (model == "OPENCV")
    for (int i = 0; i < 4; ++i) in.distortion[i] = v[4 + i];
  return in;
}

// The lines that are not comments, with their indices.
std::vector<std::pair<std::size_t, std::string>> data_lines(const std::vector<std::string>& lines) {
  std::vector<std::pair<std::size_t, std::string>> out;
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i].empty() || lines[i][0] != '#') out.emplace_back(i, lines[i]);
  return out;
}

std::map<long, Intrinsics> read_cameras(const std::string& file) {
  std::map<long, Intrinsics> cams;
  const std::vector<std::string> lines = read_lines(file);
  for (const auto& [index, line] : data_lines(lines)) {
    const std::vector<std::string> w = split_words(line);
    if (w.empty()) continue;
    const std::string where = "line " + std::to_string(index + 1) + ": ";
    long id = 0;
    if (w.size() < 4 || !parse_integer(w[0], id))
      throw TervikFileError(file, where + "expected CAMERA_ID MODEL WIDTH HEIGHT PARAMS[]");
    const auto model = kModels.find(w[1]);
    if (model == kModels.end())
      throw TervikFileError(file, where + "camera " + w[0] + " uses the model " + w[1] +
                                      ", which a camera file cannot hold (accepted: "
                                      "SIMPLE_PINHOLE, PINHOLE, SIMPLE_RADIAL, RADIAL, OPENCV)");
    if (w.size() != 4 + model->second)
      throw TervikFileError(file, where + "the model " + w[1] + " takes " +
                                      std::to_string(model->second) + " parameters, found " +
                                      std::to_string(w.size() - 4));
    long width = 0, height = 0;
    if (!parse_integer(w[2], width) || !parse_integer(w[3], height))
      throw TervikFileError(file, where + "the image size '" + w[2] + " " + w[3] +
                                      "' is not two whole numbers");
    std::vector<double> v(model->second);
    for (std::size_t i = 0; i < v.size(); ++i)
      if (!parse_real(w[4 + i], v[i]))
        throw TervikFileError(file, where + "parameter '" + w[4 + i] + "' is not a finite number");
    Intrinsics in = intrinsics(w[1], v);
    in.width = width;
    in.height = height;
    if (!cams.emplace(id, in).second)
      throw TervikFileError(file, where + "camera id " + w[0] + " appears twice");
  }
  return cams;
}

// Rotation matrix (row-major) of the quaternion (w, x, y, z), normalised first. The components
// are scaled by the largest first, so that no square overflows or underflows (a quaternion of
// 1e200 or 1e-200 is a rotation as well). Returns the quaternion's norm, 0 for a zero one.
double rotation(const double q[4], double r[3][3]) {
  double big = 0.0;
  for (int i = 0; i < 4; ++i) big = std::max(big, std::fabs(q[i]));
  if (!(big > 0.0)) return 0.0;
  double s[4];
  for (int i = 0; i < 4; ++i) s[i] = q[i] / big;
  const double n = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2] + s[3] * s[3]);
  const double w = s[0] / n, x = s[1] / n, y = s[2] / n, z = s[3] / n;
  const double m[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
                          {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
                          {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}};
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) r[a][b] = m[a][b];
  return big * n;
}

// Whether the words are a line of 2-d points: (X, Y, POINT3D_ID) triples, the id a whole
// number (-1 for none). A pose line is one only if its name is three or more numbers and QX and
// TX are whole numbers, which no model holds.
bool points_line(const std::vector<std::string>& w) {
  if (w.size() % 3 != 0) return false;
  for (std::size_t i = 0; i < w.size(); ++i) {
    double v;
    long id;
    if (i % 3 == 2 ? !parse_integer(w[i], id) : !parse_real(w[i], v)) return false;
  }
  return true;
}

// Whether the words have a pose line's layout: IMAGE_ID, 7 numbers, CAMERA_ID, NAME.
bool pose_line(const std::vector<std::string>& w) {
  long id;
  double v;
  if (w.size() < 10 || !parse_integer(w[0], id) || !parse_integer(w[8], id)) return false;
  for (int k = 1; k < 8; ++k)
    if (!parse_real(w[k], v)) return false;
  return true;
}

bool all_numbers(const std::vector<std::string>& w) {
  double v;
  for (const std::string& word : w)
    if (!parse_real(word, v)) return false;
  return true;
}

}  // namespace

ImportResult import_colmap(const std::string& folder, const ImportOptions& options) {
  const PixelCentres centres = centres_or(options, PixelCentres::half);
  const std::string cameras_file = (std::filesystem::path(folder) / "cameras.txt").string();
  const std::string images_file = (std::filesystem::path(folder) / "images.txt").string();
  const std::map<long, Intrinsics> cams = read_cameras(cameras_file);
  // An image's pose line may be followed by its line of 2-d points, which may be empty or
  // absent: lines are told apart by what they hold, not by their position. The file is read a
  // line at a time, since the point lines of a large model run to gigabytes.
  std::map<long, ImportedCamera> by_id;
  ImportResult result;
  bool after_pose = false;  // the previous data line was a pose line
  for_each_line(images_file, [&](std::size_t index, const std::string& line) {
    if (!line.empty() && line[0] == '#') return;
    const std::vector<std::string> w = split_words(line);
    const bool was_after_pose = after_pose;
    after_pose = false;
    if (w.empty() || (was_after_pose && points_line(w))) return;
    // Numbers after a pose line that do not form a pose are its (malformed) points, which
    // the import does not use.
    if (was_after_pose && !pose_line(w) && all_numbers(w)) return;
    const std::string where = "line " + std::to_string(index + 1) + ": ";
    long id = 0, camera_id = 0;
    if (w.size() < 10 || !parse_integer(w[0], id) || !parse_integer(w[8], camera_id))
      throw TervikFileError(images_file,
                            where + "expected IMAGE_ID QW QX QY QZ TX TY TZ CAMERA_ID NAME" +
                                (was_after_pose ? " or the image's POINTS2D[] as (X, Y, POINT3D_ID)"
                                                : ""));
    double q[4], t[3];
    for (int k = 0; k < 7; ++k)
      if (!parse_real(w[1 + k], k < 4 ? q[k] : t[k - 4]))
        throw TervikFileError(images_file, where + "'" + w[1 + k] + "' is not a finite number");
    double r[3][3];
    const double norm = rotation(q, r);
    if (!(norm > 0.0)) throw TervikFileError(images_file, where + "the quaternion is zero");
    if (std::fabs(norm - 1.0) > 1e-3)
      result.warnings.push_back(images_file + ", " + where + "image " + w[0] +
                                "'s quaternion has length " + capture::shortest(norm) +
                                ", not 1: it was normalised");
    const auto cam = cams.find(camera_id);
    if (cam == cams.end())
      throw TervikFileError(images_file, where + "image " + w[0] + " refers to camera " + w[8] +
                                             ", which " + cameras_file + " does not list");
    std::string name = w[9];
    for (std::size_t k = 10; k < w.size(); ++k) name += " " + w[k];
    const Intrinsics& in = cam->second;
    const double k[3][3] = {{in.fx, 0, in.cx}, {0, in.fy, in.cy}, {0, 0, 1}};
    const std::string source = images_file + " image " + w[0] + " '" + name + "' (camera " +
                               w[8] + ", " + cameras_file + ")";
    ImportedCamera imported{source, camera_from_krt(k, r, t, in.distortion, in.width, in.height,
                                                    centres, source)};
    if (!by_id.emplace(id, imported).second)
      throw TervikFileError(images_file, where + "image id " + w[0] + " appears twice");
    after_pose = true;
  });
  if (by_id.empty()) throw TervikFileError(images_file, "lists no image");
  for (auto& [id, cam] : by_id) result.cameras.push_back(cam);
  return result;
}

}  // namespace tervik::calibration
