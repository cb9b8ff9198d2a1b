#include "sculptor/loading.h"

#include <algorithm>
#include <exception>
#include <ostream>
#include <sstream>
#include <string>
#include <system_error>
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

// Reads camera i's silhouette of `frame` and, with `coarse`, its reduction (see load_frame); a
// warning goes to `out`.
void load_silhouette(ViewSets& views, const NameTemplate& fgtemplate, std::int64_t frame,
                     std::size_t i, bool coarse, std::ostream& out) {
  const std::string fg_file = fgtemplate.format(static_cast<std::int64_t>(i), frame);
  ImageGray<unsigned char>& silhouette = views.silhouettes[i].get<1>();
  io::ReadImage(fg_file).read(silhouette);
  check_size(silhouette, views.silhouettes[i].get<0>(), i, "silhouette", fg_file,
             views.larger_warned[i], out);
  if (coarse) views.coarse[i].get<1>() = downscale_silhouette(silhouette, kCoarseFactor);
}

// Reads camera i's colour image of `frame` (see load_frame); a warning goes to `out`.
void load_colour(ViewSets& views, const NameTemplate& imtemplate, std::int64_t frame,
                 std::size_t i, std::ostream& out) {
  const std::string im_file = imtemplate.format(static_cast<std::int64_t>(i), frame);
  ImageRGB<unsigned char>& colour = views.colour[i].get<1>();
  io::ReadImage(im_file).read(colour);
  check_size(colour, views.colour[i].get<0>(), i, "colour image", im_file,
             views.larger_warned[i], out);
}

// Runs `read` for camera i, keeping its warnings and its error in `result`.
template <typename Read>
void read_camera(CameraReading& result, Read&& read) {
  try {
    read(result.warnings);
  } catch (...) {
    result.error = std::current_exception();
  }
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
  FrameReading reading(views, fgtemplate, imtemplate, frame, threads,
                       ColourImages::with_silhouettes);
  reading.finish(out);
}

FrameReading::FrameReading(ViewSets& views, const NameTemplate& fgtemplate,
                           const NameTemplate& imtemplate, std::int64_t frame, unsigned threads,
                           ColourImages colour, bool coarse)
    : views_(views), imtemplate_(imtemplate), frame_(frame), threads_(threads) {
  const std::size_t n = views.silhouettes.size();
  views.larger_warned.resize(n, 0);
  silhouettes_.resize(n);
  colours_.resize(n);
  parallel_for(n, threads, [&](std::size_t i, unsigned) {
    read_camera(silhouettes_[i], [&](std::ostream& out) {
      load_silhouette(views, fgtemplate, frame, i, coarse, out);
    });
    // With the colour images read in the same piece, one thread reads camera after camera.
    if (colour == ColourImages::with_silhouettes) read_colour(i);
  });
  if (colour == ColourImages::with_silhouettes) next_colour_ = n;  // all taken
  if (colour != ColourImages::behind) return;
  if (silhouettes_read()) {
    try {
      behind_ = std::thread([this] { read_colour_images(threads_ > 1 ? threads_ - 1 : 1); });
      return;
    } catch (const std::system_error&) {
      // No thread to spare: the images are read here.
    }
  }
  read_colour_images(threads_);
}

bool FrameReading::silhouettes_read() const {
  return std::none_of(silhouettes_.begin(), silhouettes_.end(),
                      [](const CameraReading& c) { return c.error != nullptr; });
}

FrameReading::~FrameReading() {
  if (behind_.joinable()) behind_.join();
}

void FrameReading::read_colour(std::size_t i) {
  // A camera whose silhouette could not be read is reported there; its image is not read.
  if (silhouettes_[i].error) return;
  read_camera(colours_[i], [&](std::ostream& out) {
    load_colour(views_, imtemplate_, frame_, i, out);
  });
}

void FrameReading::read_colours() {
  for (;;) {
    const std::size_t i = next_colour_.fetch_add(1, std::memory_order_relaxed);
    if (i >= colours_.size()) return;
    read_colour(i);
  }
}

void FrameReading::read_colour_images(unsigned threads) {
  const unsigned workers = worker_count(colours_.size(), threads);
  if (workers <= 1) {
    read_colours();
    return;
  }
  parallel_for(workers, workers, [this](std::size_t, unsigned) { read_colours(); });
}

void FrameReading::finish(std::ostream& out) {
  // The calling thread reads the images not yet taken beside the threads behind, rather than
  // wait for them.
  read_colours();
  if (behind_.joinable()) behind_.join();
  // The warnings in camera order, up to the first failing read, as one thread reading the
  // cameras in turn (silhouette, then colour image) would print them.
  for (std::size_t i = 0; i < silhouettes_.size(); ++i) {
    for (const CameraReading* c : {&silhouettes_[i], &colours_[i]}) {
      out << c->warnings.str() << std::flush;
      if (c->error) std::rethrow_exception(c->error);
    }
  }
}

}  // namespace tervik
