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

// Throws unless `image` has the image size of view `index`. A smaller image cannot be projected
// into; a larger one was taken with another calibration (cropped or scaled), so the pixel a point
// projects to would show something else.
template <typename ImageType>
void check_size(const ImageType& image, const ViewSets& views, std::size_t index,
                const Camera& camera, const char* what, const std::string& file) {
  if (image.width() == camera.im_width() && image.height() == camera.im_height()) return;
  std::ostringstream os;
  os << "the " << what << " '" << file << "' is " << image.width() << " x " << image.height()
     << " pixels but " << camera_name(views, index) << (views.camera_ids.empty() ? "" : ",")
     << " is calibrated for " << camera.im_width()
     << " x " << camera.im_height();
  throw TervikError(os.str());
}

// Reads `file` into `image`; with a camera list, the reader's error names the camera too.
template <typename ImageType>
void read_image(const ViewSets& views, std::size_t i, const std::string& file, ImageType& image) {
  if (views.camera_ids.empty()) {
    io::ReadImage(file).read(image);
    return;
  }
  try {
    io::ReadImage(file).read(image);
  } catch (const BacktracedTervikException& e) {
    throw TervikError(std::string(e.what()) + " (" + camera_name(views, i) + ")");
  }
}

// Reads camera i's silhouette of `frame` and, with `coarse`, its reduction (see load_frame).
// Nothing is warned about today; the stream is kept for warnings in camera order.
void load_silhouette(ViewSets& views, const NameTemplate& fgtemplate, std::int64_t frame,
                     std::size_t i, bool coarse, std::ostream& /*warnings*/) {
  const std::string fg_file = fgtemplate.format(views.camera_number(i), frame);
  ImageGray<unsigned char>& silhouette = views.silhouettes[i].get<1>();
  read_image(views, i, fg_file, silhouette);
  check_size(silhouette, views, i, views.silhouettes[i].get<0>(), "silhouette", fg_file);
  if (coarse) views.coarse[i].get<1>() = downscale_silhouette(silhouette, kCoarseFactor);
}

// Reads camera i's colour image of `frame` (see load_frame).
void load_colour(ViewSets& views, const NameTemplate& imtemplate, std::int64_t frame,
                 std::size_t i, std::ostream& /*warnings*/) {
  const std::string im_file = imtemplate.format(views.camera_number(i), frame);
  ImageRGB<unsigned char>& colour = views.colour[i].get<1>();
  read_image(views, i, im_file, colour);
  check_size(colour, views, i, views.colour[i].get<0>(), "colour image", im_file);
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

std::string camera_name(const ViewSets& views, std::size_t i) {
  if (views.camera_ids.empty()) return "camera " + std::to_string(i);
  return "camera " + std::to_string(views.camera_ids[i]) + ", entry " + std::to_string(i + 1) +
         " of --camera-ids";
}

ViewSets load_cameras(std::int64_t numcams, const NameTemplate& camtemplate, std::ostream& out,
                      const std::vector<int>& camera_ids) {
  out << "Loading camera data" << std::endl;
  const std::size_t n = static_cast<std::size_t>(numcams < 0 ? 0 : numcams);
  TERVIK_CHECK(camera_ids.empty() || camera_ids.size() == n,
               "load_cameras: " << camera_ids.size() << " camera numbers for " << n
                                << " cameras");
  ViewSets views{multiview::MultiView<ImageRGB<unsigned char>>(n), SilhouetteViews(n),
                 SilhouetteViews(n), camera_ids};
  for (std::size_t i = 0; i < n; ++i) {
    const std::string file = camtemplate.format(views.camera_number(i));
    Camera camera;
    try {
      camera.read_parameters(file);
    } catch (const TervikError& e) {
      throw TervikError(std::string(e.what()) + " (calibration of " + camera_name(views, i) +
                        ")");
    }
    const std::int64_t w = camera.im_width(), h = camera.im_height();
    if (w < 1 || w > kMaxImageSide || h < 1 || h > kMaxImageSide) {
      std::ostringstream os;
      os << "the calibration file '" << file << "' of " << camera_name(views, i)
         << " gives an image size of "
         << w << " x " << h << "; each side must be between 1 and " << kMaxImageSide << " pixels";
      throw TervikError(os.str());
    }
    // P alone drives the projection; a P that does not match the camera's own K, R and t
    // (copied from another camera, say) is almost always a mistake.
    const double mismatch = projection_mismatch(camera);
    if (mismatch > kProjectionTolerance) {
      out << "WARNING: the projection matrix of " << camera_name(views, i) << " ('" << file
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
