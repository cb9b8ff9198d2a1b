// Undistortion of the cameras, images and silhouettes of a capture.
#include "tools/capture/undistortion.h"

#include <cmath>
#include <filesystem>
#include <map>
#include <vector>

#include "common/camera_ids.h"
#include "tervik/exceptions.h"
#include "tervik/imagegray.h"
#include "tervik/imagergb.h"
#include "tervik/multiview.h"
#include "tervik/multiview_auxiliar.h"
#include "tervik/readimage.h"
#include "tervik/writeimage.h"

namespace tervik::capture {
namespace {

namespace fs = std::filesystem;

// Refuses to write over an input: the same resolved path, or the same file by device and
// inode (a hard link).
void check_not_input(const std::string& input, const std::string& output) {
  std::error_code ec_in, ec_out, ec;
  const fs::path in = fs::weakly_canonical(input, ec_in), out = fs::weakly_canonical(output, ec_out);
  if ((!ec_in && !ec_out && in == out) || (fs::exists(output, ec) && fs::equivalent(input, output, ec)))
    throw TervikError("the output " + output + " would replace its own input: choose another "
                      "output folder");
}

template <typename ImageT>
void undistort_file(const std::string& input, const std::string& output, const Camera& c,
                    multiview::Sampling sampling, std::ostream& log) {
  check_not_input(input, output);
  ImageT image;
  io::ReadImage(input).read(image);
  if (image.width() != c.im_width() || image.height() != c.im_height())
    throw TervikFileError(input, "the image is " + std::to_string(image.width()) + "x" +
                                     std::to_string(image.height()) + " but its camera is " +
                                     std::to_string(c.im_width()) + "x" +
                                     std::to_string(c.im_height()));
  multiview::undistort_image(image, c, sampling);
  const fs::path folder = fs::path(output).parent_path();
  if (!folder.empty()) fs::create_directories(folder);
  io::write_png(output, image);
  log << "  " << input << " -> " << output << "\n";
}

// Whether a path component holds a printf conversion ("%%" is a literal percent sign).
bool holds_conversion(const std::string& component) {
  for (std::size_t i = 0; i < component.size(); ++i)
    if (component[i] == '%') {
      if (i + 1 < component.size() && component[i + 1] == '%') ++i;
      else return true;
    }
  return false;
}

// The template number of the camera at `index`.
std::int64_t camera_number(const UndistortOptions& o, std::int64_t index) {
  return o.camera_ids.empty() ? index : o.camera_ids[static_cast<std::size_t>(index)];
}

// The output names of one template over every camera and frame, each with what it holds.
void add_outputs(const NameTemplate& out, const NameTemplate& in, const std::string& what,
                 const UndistortOptions& o, bool frames,
                 std::map<std::string, std::string>& outputs) {
  for (std::int64_t index = 0; index < o.cameras; ++index)
    for (std::int64_t f = o.first_frame; f <= (frames ? o.last_frame : o.first_frame); ++f) {
      const std::int64_t cam = camera_number(o, index);
      const std::string name = frames ? out.format(cam, f) : out.format(cam);
      const std::string source =
          what + " of camera " + std::to_string(cam) +
          (frames ? ", frame " + std::to_string(f) + " (" + in.format(cam, f)
                  : " (" + in.format(cam)) + ")";
      const auto [at, fresh] = outputs.emplace(name, source);
      if (!fresh)
        throw TervikError("the " + at->second + " and the " + source +
                          " would both be written to " + name +
                          ": give them templates whose file names differ");
    }
}

}  // namespace

Camera without_distortion(const Camera& c) {
  Camera out = c;
  for (int i = 0; i < 4; ++i) out.distortion()[i] = 0.0;
  return out;
}

std::string output_name(const std::string& folder, const std::string& input, bool image) {
  // From the first path component that holds a conversion, else the file name alone.
  const fs::path path(input);
  const std::vector<fs::path> parts(path.begin(), path.end());
  std::size_t first = parts.empty() ? 0 : parts.size() - 1;
  for (std::size_t i = 0; i < parts.size(); ++i)
    if (holds_conversion(parts[i].string())) {
      first = i;
      break;
    }
  fs::path name;
  for (std::size_t i = first; i < parts.size(); ++i) name /= parts[i];
  if (image) name.replace_extension(".png");
  return (fs::path(folder) / name).string();
}

UndistortOutputs output_templates(const UndistortOptions& o) {
  UndistortOutputs out;
  out.camera_template = output_name(o.output_folder, o.camera_template.text(), false);
  if (o.image_template) out.image_template = output_name(o.output_folder, o.image_template->text(), true);
  if (o.silhouette_template)
    out.silhouette_template = output_name(o.output_folder, o.silhouette_template->text(), true);
  if (!out.image_template.empty() && out.image_template == out.silhouette_template) {
    out.image_template =
        output_name((fs::path(o.output_folder) / "images").string(), o.image_template->text(), true);
    out.silhouette_template = output_name((fs::path(o.output_folder) / "silhouettes").string(),
                                          o.silhouette_template->text(), true);
  }
  return out;
}

void undistort_capture(const UndistortOptions& o, std::ostream& log) {
  const UndistortOutputs names = output_templates(o);
  const NameTemplate camera_out(names.camera_template, 1, "camera output template");
  std::optional<NameTemplate> image_out, silhouette_out;
  // Every output name, checked for collisions before anything is written.
  std::map<std::string, std::string> outputs;
  add_outputs(camera_out, o.camera_template, "camera file", o, false, outputs);
  if (o.image_template) {
    image_out = NameTemplate(names.image_template, 2, "image output template");
    add_outputs(*image_out, *o.image_template, "image", o, true, outputs);
  }
  if (o.silhouette_template) {
    silhouette_out = NameTemplate(names.silhouette_template, 2, "silhouette output template");
    add_outputs(*silhouette_out, *o.silhouette_template, "silhouette", o, true, outputs);
  }
  if (!o.camera_ids.empty() && o.camera_ids.size() != static_cast<std::size_t>(o.cameras))
    throw TervikError(std::to_string(o.cameras) + " cameras asked for, but --camera-ids lists " +
                      std::to_string(o.camera_ids.size()));
  fs::create_directories(o.output_folder);
  for (std::int64_t index = 0; index < o.cameras; ++index) {
    const std::int64_t cam = camera_number(o, index);
    const std::string cam_file = o.camera_template.format(cam);
    // With a camera list, a missing file is named with its place in the list.
    const auto require = [&](const std::string& file, const std::string& what) {
      if (!o.camera_ids.empty() && !fs::exists(file))
        throw TervikError(camera_id_label(o.camera_ids, static_cast<std::size_t>(index)) +
                          ": its " + what + " " + file + " is not there");
    };
    require(cam_file, "camera file");
    Camera c;
    c.read_parameters(cam_file);
    Point2D corner;
    multiview::ideal_to_distorted(Point2D(0.0, 0.0), c, corner);
    log << "camera " << cam << " (" << cam_file << "): the distortion moves corner (0, 0) by "
        << std::hypot(corner.x, corner.y) << " pixels"
        << (multiview::significant_distortion(c) ? ", significant" : "") << "\n";
    const std::string cam_out = camera_out.format(cam);
    check_not_input(cam_file, cam_out);
    for (std::int64_t f = o.first_frame; f <= o.last_frame; ++f) {
      if (o.image_template) require(o.image_template->format(cam, f), "image");
      if (o.silhouette_template) require(o.silhouette_template->format(cam, f), "silhouette");
      if (o.image_template)
        undistort_file<ImageRGB<unsigned char>>(o.image_template->format(cam, f),
                                                image_out->format(cam, f), c,
                                                multiview::Sampling::bilinear, log);
      if (o.silhouette_template)
        undistort_file<ImageGray<unsigned char>>(o.silhouette_template->format(cam, f),
                                                 silhouette_out->format(cam, f), c,
                                                 multiview::Sampling::nearest, log);
    }
    const fs::path folder = fs::path(cam_out).parent_path();
    if (!folder.empty()) fs::create_directories(folder);
    without_distortion(c).write_parameters(cam_out);
    log << "  " << cam_file << " -> " << cam_out << "\n";
  }
}

}  // namespace tervik::capture
