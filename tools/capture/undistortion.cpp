// Undistortion of the cameras, images and silhouettes of a capture.
#include "tools/capture/undistortion.h"

#include <cmath>
#include <filesystem>

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

// Refuses to write over the input file itself.
void check_not_input(const std::string& input, const std::string& output) {
  std::error_code ec;
  if (fs::exists(output, ec) && fs::equivalent(input, output, ec))
    throw TervikError("the output " + output + " would replace its own input: choose another "
                      "output folder");
}

template <typename ImageT>
void undistort_file(const std::string& input, const std::string& folder, const Camera& c,
                    multiview::Sampling sampling, std::ostream& log) {
  const std::string output = output_name(folder, input, true);
  check_not_input(input, output);
  ImageT image;
  io::ReadImage(input).read(image);
  if (image.width() != c.im_width() || image.height() != c.im_height())
    throw TervikFileError(input, "the image is " + std::to_string(image.width()) + "x" +
                                     std::to_string(image.height()) + " but its camera is " +
                                     std::to_string(c.im_width()) + "x" +
                                     std::to_string(c.im_height()));
  multiview::undistort_image(image, c, sampling);
  io::write_png(output, image);
  log << "  " << input << " -> " << output << "\n";
}

}  // namespace

Camera without_distortion(const Camera& c) {
  Camera out = c;
  for (int i = 0; i < 4; ++i) out.distortion()[i] = 0.0;
  return out;
}

std::string output_name(const std::string& folder, const std::string& input, bool image) {
  fs::path name = fs::path(input).filename();
  if (image) name.replace_extension(".png");
  return (fs::path(folder) / name).string();
}

void undistort_capture(const UndistortOptions& o, std::ostream& log) {
  fs::create_directories(o.output_folder);
  for (std::int64_t cam = 0; cam < o.cameras; ++cam) {
    const std::string cam_file = o.camera_template.format(cam);
    Camera c;
    c.read_parameters(cam_file);
    Point2D corner;
    multiview::ideal_to_distorted(Point2D(0.0, 0.0), c, corner);
    log << "camera " << cam << " (" << cam_file << "): the distortion moves corner (0, 0) by "
        << std::hypot(corner.x, corner.y) << " pixels"
        << (multiview::significant_distortion(c) ? ", significant" : "") << "\n";
    const std::string cam_out = output_name(o.output_folder, cam_file, false);
    check_not_input(cam_file, cam_out);
    for (std::int64_t f = o.first_frame; f <= o.last_frame; ++f) {
      if (o.image_template)
        undistort_file<ImageRGB<unsigned char>>(o.image_template->format(cam, f), o.output_folder,
                                                c, multiview::Sampling::bilinear, log);
      if (o.silhouette_template)
        undistort_file<ImageGray<unsigned char>>(o.silhouette_template->format(cam, f),
                                                 o.output_folder, c, multiview::Sampling::nearest,
                                                 log);
    }
    without_distortion(c).write_parameters(cam_out);
    log << "  " << cam_file << " -> " << cam_out << "\n";
  }
}

}  // namespace tervik::capture
