#include "sculptor/loading.h"

#include <exception>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "sculptor/parallel.h"
#include "tervik/camera.h"
#include "tervik/exceptions.h"
#include "tervik/multiview_auxiliar.h"
#include "tervik/readimage.h"

namespace tervik {

namespace {

// Relative difference between P and K [R | t] above which a camera is reported.
constexpr double kProjectionTolerance = 1e-6;

// Pixel positions are held in 16-bit coordinates.
constexpr std::int64_t kMaxImageSide = 32767;

// Throws if `image` is smaller than the image size of camera `index` on either side. An image
// larger than its calibration is read safely (pixels beyond the calibrated size are never
// looked at); it is reported once per camera and run, through the camera's flag `warned`.
template <typename ImageType>
void check_size(const ImageType& image, const Camera& camera, std::size_t index,
                const char* what, const std::string& file, char& warned, std::ostream& out) {
  if (image.width() == camera.im_width() && image.height() == camera.im_height()) return;
  std::ostringstream os;
  os << "the " << what << " '" << file << "' is " << image.width() << " x " << image.height()
     << " pixels but camera " << index << " is calibrated for " << camera.im_width() << " x "
     << camera.im_height();
  if (image.width() < camera.im_width() || image.height() < camera.im_height())
    throw TervikError(os.str());
  if (warned) return;
  warned = 1;
  out << "WARNING: " << os.str() << "; only its top-left " << camera.im_width() << " x "
      << camera.im_height() << " pixels are used" << std::endl;
}

// Reads camera i's silhouette, its reduction and its colour image of `frame` (see load_frame);
// a warning goes to `out`.
void load_camera(ViewSets& views, const NameTemplate& fgtemplate, const NameTemplate& imtemplate,
                 std::int64_t frame, std::size_t i, std::ostream& out) {
  const auto cam = static_cast<std::int64_t>(i);
  const std::string fg_file = fgtemplate.format(cam, frame);
  ImageGray<unsigned char>& silhouette = views.silhouettes[i].get<1>();
  io::ReadImage(fg_file).read(silhouette);
  check_size(silhouette, views.silhouettes[i].get<0>(), i, "silhouette", fg_file,
             views.larger_warned[i], out);
  views.coarse[i].get<1>() = downscale_silhouette(silhouette, kCoarseFactor);

  const std::string im_file = imtemplate.format(cam, frame);
  ImageRGB<unsigned char>& colour = views.colour[i].get<1>();
  io::ReadImage(im_file).read(colour);
  check_size(colour, views.colour[i].get<0>(), i, "colour image", im_file,
             views.larger_warned[i], out);
}

}  // namespace

ViewSets load_cameras(std::int64_t numcams, const NameTemplate& camtemplate, std::ostream& out) {
  out << "Loading camera data" << std::endl;
  const std::size_t n = static_cast<std::size_t>(numcams < 0 ? 0 : numcams);
  ViewSets views{multiview::MultiView<ImageRGB<unsigned char>>(n), SilhouetteViews(n),
                 SilhouetteViews(n), std::vector<char>(n, 0)};
  for (std::size_t i = 0; i < n; ++i) {
    const std::string file = camtemplate.format(static_cast<std::int64_t>(i));
    Camera camera;
    try {
      camera.read_parameters(file);
    } catch (const TervikError& e) {
      throw TervikError(std::string(e.what()) + " (calibration of camera " + std::to_string(i) +
                        ")");
    }
    const std::int64_t w = camera.im_width(), h = camera.im_height();
    if (w < 1 || w > kMaxImageSide || h < 1 || h > kMaxImageSide) {
      std::ostringstream os;
      os << "the calibration file '" << file << "' of camera " << i << " gives an image size of "
         << w << " x " << h << "; each side must be between 1 and " << kMaxImageSide << " pixels";
      throw TervikError(os.str());
    }
    // P alone drives the projection; a P that does not match the camera's own K, R and t
    // (copied from another camera, say) is almost always a mistake.
    const double mismatch = projection_mismatch(camera);
    if (mismatch > kProjectionTolerance) {
      out << "WARNING: the projection matrix of camera " << i << " ('" << file
          << "') differs from K [R | t] by " << mismatch
          << " (relative); the camera projects with P alone" << std::endl;
    }
    views.colour[i].get<0>() = camera;
    views.silhouettes[i].get<0>() = camera;
    views.coarse[i].get<0>() = multiview::scale_camera(camera, kCoarseScale);
  }
  out << "Processing sequence" << std::endl;
  return views;
}

void load_frame(ViewSets& views, const NameTemplate& fgtemplate, const NameTemplate& imtemplate,
                std::int64_t frame, unsigned threads, std::ostream& out) {
  const std::size_t n = views.silhouettes.size();
  views.larger_warned.resize(n, 0);
  // Each camera writes its warning to its own buffer; they are printed in camera order, up to
  // the first failing camera, as one thread reading the cameras in turn would print them.
  std::vector<std::ostringstream> warnings(n);
  std::vector<std::exception_ptr> errors(n);
  parallel_for(n, threads, [&](std::size_t i, unsigned) {
    try {
      load_camera(views, fgtemplate, imtemplate, frame, i, warnings[i]);
    } catch (...) {
      errors[i] = std::current_exception();
    }
  });
  for (std::size_t i = 0; i < n; ++i) {
    out << warnings[i].str() << std::flush;
    if (errors[i]) std::rethrow_exception(errors[i]);
  }
}

}  // namespace tervik
