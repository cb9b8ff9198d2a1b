// Cameras, images and small text helpers of the capture tools.
#include "tools/common/capture_files.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdlib>
#include <filesystem>

#include "common/camera_ids.h"
#include "tervik/exceptions.h"
#include "tervik/io_auxiliar.h"
#include "tervik/readimage.h"

namespace tervik::capture {

Camera read_camera_file(const std::string& file) {
  Camera camera;
  try {
    camera.read_parameters(file);
  } catch (const TervikError& e) {
    // The reader names the file only when it cannot open it; say which file failed always.
    const std::string what = e.what();
    if (what.find(file) != std::string::npos) throw;
    throw TervikFileError(file, what);
  }
  if (camera.im_width() == 0 || camera.im_height() == 0)
    throw TervikFileError(file, "the calibration gives an empty image size");
  return camera;
}

std::vector<Camera> read_cameras(const NameTemplate& camtemplate, int count) {
  std::vector<Camera> cameras;
  cameras.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) cameras.push_back(read_camera_file(camtemplate.format(i)));
  return cameras;
}

std::string CameraSelection::label(std::size_t index) const { return camera_id_label(ids, index); }

CameraSelection select_cameras(int count, const std::string& ids_text) {
  CameraSelection out;
  if (!ids_text.empty()) {
    out.ids = parse_camera_ids(ids_text);
    if (out.ids.size() > 32767)
      throw TervikError("--camera-ids '" + ids_text + "' names " + std::to_string(out.ids.size()) +
                        " cameras; at most 32767 are allowed");
    if (count != 0 && std::size_t(count) != out.ids.size())
      throw TervikError("--cameras " + std::to_string(count) + " but --camera-ids '" + ids_text +
                        "' names " + std::to_string(out.ids.size()) + " cameras");
    out.count = int(out.ids.size());
    return out;
  }
  if (count == 0) throw TervikError("give the cameras: --cameras N or --camera-ids LIST");
  if (count < 1 || count > 32767) throw TervikError("--cameras must be 1 to 32767");
  out.count = count;
  return out;
}

std::vector<Camera> read_cameras(const NameTemplate& camtemplate, const CameraSelection& cameras) {
  std::vector<Camera> out;
  out.reserve(std::size_t(cameras.count));
  for (int i = 0; i < cameras.count; ++i) {
    try {
      out.push_back(read_camera_file(camtemplate.format(cameras.number(i))));
    } catch (const std::exception& e) {
      if (cameras.ids.empty()) throw;
      throw TervikError(std::string(e.what()) + " (the calibration of " + cameras.label(i) + ")");
    }
  }
  return out;
}

ImageGray<unsigned char> read_gray(const std::string& file) {
  ImageGray<unsigned char> image;
  io::ReadImage(file).read(image);
  return image;
}

ImageRGB<unsigned char> read_rgb(const std::string& file) {
  ImageRGB<unsigned char> image;
  io::ReadImage(file).read(image);
  return image;
}

void check_image_size(const std::string& file, std::size_t width, std::size_t height,
                      const Camera& camera) {
  if (width != camera.im_width() || height != camera.im_height())
    throw TervikFileError(file, "the image is " + std::to_string(width) + " x " +
                                    std::to_string(height) + " pixels but its camera is " +
                                    std::to_string(camera.im_width()) + " x " +
                                    std::to_string(camera.im_height()));
}

namespace {

void check_declared_size(const std::string& file, const Camera& camera, const std::string& who) {
  const auto dims = io::get_image_dimensions(file, io::get_image_format(file));
  if (dims.size() < 2 || dims[0] != camera.im_width() || dims[1] != camera.im_height())
    throw TervikFileError(
        file, "the image of " + who + " is " +
                  (dims.size() < 2 ? std::string("not 2-dimensional")
                                   : std::to_string(dims[0]) + " x " + std::to_string(dims[1])) +
                  " pixels but its calibration is " + std::to_string(camera.im_width()) + " x " +
                  std::to_string(camera.im_height()));
}

}  // namespace

void read_gray(const std::string& file, const Camera& camera, const std::string& who,
               ImageGray<unsigned char>& image) {
  io::ReadImage reader(file);
  check_declared_size(file, camera, who);
  reader.read(image);
  check_image_size(file, image.width(), image.height(), camera);
}

void read_rgb(const std::string& file, const Camera& camera, const std::string& who,
              ImageRGB<unsigned char>& image) {
  io::ReadImage reader(file);
  check_declared_size(file, camera, who);
  reader.read(image);
  check_image_size(file, image.width(), image.height(), camera);
}

ImageGray<unsigned char> read_gray(const std::string& file, const Camera& camera,
                                   const std::string& who) {
  ImageGray<unsigned char> image;
  read_gray(file, camera, who, image);
  return image;
}

ImageRGB<unsigned char> read_rgb(const std::string& file, const Camera& camera,
                                 const std::string& who) {
  ImageRGB<unsigned char> image;
  read_rgb(file, camera, who, image);
  return image;
}

namespace {

std::string resolved_path(const std::string& file) {
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(file, ec);
  if (ec) return {};
  const auto resolved = std::filesystem::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal().string() : resolved.string();
}

}  // namespace

void InputFiles::add(const std::string& file) {
  by_path_.emplace(resolved_path(file), file);
  struct stat st;
  if (::stat(file.c_str(), &st) == 0)
    by_inode_.emplace(std::make_pair((unsigned long long)st.st_dev, (unsigned long long)st.st_ino),
                      file);
}

void InputFiles::check_output(const std::string& output) const {
  const std::string* input = nullptr;
  struct stat st;
  if (::stat(output.c_str(), &st) == 0) {
    const auto it = by_inode_.find({(unsigned long long)st.st_dev, (unsigned long long)st.st_ino});
    if (it != by_inode_.end()) input = &it->second;
  }
  if (!input) {
    const auto it = by_path_.find(resolved_path(output));
    if (it != by_path_.end()) input = &it->second;
  }
  if (input)
    throw TervikError("the output '" + output + "' is the input '" + *input +
                      "': refusing to replace an input of this run");
}

namespace {

// A whole decimal integer, else -1.
long whole_number(const std::string& text) {
  long value = -1;
  const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
  if (res.ec != std::errc() || res.ptr != text.data() + text.size() || value < 0) return -1;
  return value;
}

}  // namespace

std::vector<int> parse_camera_list(const std::string& text, int count) {
  std::vector<int> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string piece = text.substr(start, comma - start);
    const std::size_t dash = piece.find('-');
    const long a = whole_number(piece.substr(0, dash));
    const long b = dash == std::string::npos ? a : whole_number(piece.substr(dash + 1));
    if (a < 0 || b < a || b >= count)
      throw TervikError("the camera list '" + text + "' holds '" + piece +
                        "'; expected camera numbers or ranges a-b from 0 to " +
                        std::to_string(count - 1));
    for (long i = a; i <= b; ++i) out.push_back(static_cast<int>(i));
    start = comma + 1;
  }
  return out;
}

Point3D box_corner(const Point3D& lo, const Point3D& hi, int corner) {
  return Point3D(corner & 1 ? hi.x : lo.x, corner & 2 ? hi.y : lo.y, corner & 4 ? hi.z : lo.z);
}

std::string shortest(double v) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

std::string shell_quote(const std::string& s) {
  const bool plain = !s.empty() && s.find_first_not_of(
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789%_-+=./,:@") ==
      std::string::npos;
  if (plain) return s;
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace tervik::capture
