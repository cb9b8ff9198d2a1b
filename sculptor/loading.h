#pragma once
// The per-camera view sets of a run: the cameras are read once, every frame's silhouettes and
// colour images are read into the same entries. View index i is camera number i, the number
// substituted into the file-name templates, unless a camera list (--camera-ids) gives the
// numbers: then view i is the list's i-th camera.
#include <atomic>
#include <cstdint>
#include <exception>
#include <iostream>
#include <sstream>
#include <thread>
#include <vector>

#include "sculptor/options.h"
#include "sculptor/silhouette.h"
#include "tervik/imagergb.h"
#include "tervik/multiview.h"

namespace tervik {

// The three view sets that the stages of a frame read.
struct ViewSets {
  // Full-resolution cameras with the frame's colour images.
  multiview::MultiView<ImageRGB<unsigned char>> colour;
  // The same cameras with the frame's silhouettes.
  SilhouetteViews silhouettes;
  // The cameras scaled by 0.125 with the silhouettes reduced by 8.
  SilhouetteViews coarse;
  // The camera number of each view, substituted into the file-name templates; empty when view i
  // is camera i.
  std::vector<int> camera_ids;

  // The number substituted into the templates for view i.
  std::int64_t camera_number(std::size_t i) const {
    return camera_ids.empty() ? static_cast<std::int64_t>(i) : camera_ids[i];
  }
};

// How messages name view i: "camera <i>" or, with a camera list, "camera <id>, entry <i + 1> of
// --camera-ids".
std::string camera_name(const ViewSets& views, std::size_t i);

// The factor by which the coarse silhouettes are reduced, and the matching camera scale.
constexpr short kCoarseFactor = 8;
constexpr double kCoarseScale = 0.125;

// Prints "Loading camera data" to `out`, reads the calibration file of every camera 0 to
// numcams - 1 (named by the camera template; with `camera_ids`, which must then hold numcams
// numbers, of the cameras listed there, in their order) into all three view sets (scaled by 0.125
// for the coarse set), and prints "Processing sequence". Prints a "WARNING: " line naming the camera
// whose P differs from K [R | t] by more than 1e-6 (relative). Throws the calibration reader's
// TervikError with " (calibration of <camera_name>)" appended, or TervikError when a camera's
// image size is not between 1 and 32767 pixels on each side.
ViewSets load_cameras(std::int64_t numcams, const NameTemplate& camtemplate, std::ostream& out,
                      const std::vector<int>& camera_ids = {});

// Reads frame `frame` camera after camera: the silhouette (one channel) into the silhouette
// views and its reduction by 8 into the coarse views, then the colour image into the colour
// views. Throws the image reader's errors (with a camera list, with " (<camera_name>)"
// appended), and TervikError naming the file, both sizes and the camera when an image's size
// differs from its camera's image size: a smaller image cannot be projected into, and a larger
// one was taken with another calibration (cropped or scaled), so its pixels would not be those
// the camera sees. With `threads` > 1 the cameras are read in parallel; the views, the warnings
// (printed in camera order) and the error thrown (that of the lowest-numbered failing camera,
// as one thread meets it first) are the same.
void load_frame(ViewSets& views, const NameTemplate& fgtemplate, const NameTemplate& imtemplate,
                std::int64_t frame, unsigned threads = 1, std::ostream& out = std::cout);

// The warnings and the error of one image read.
struct CameraReading {
  std::ostringstream warnings;
  std::exception_ptr error;
};

// When a FrameReading reads the colour images of its frame.
enum class ColourImages {
  with_silhouettes,  // camera after camera with the silhouettes, before the constructor returns
  behind,            // on a thread of its own, started by the constructor
  on_request,        // by read_colour_images(), on threads of the caller's, and by finish()
};

// load_frame in two steps, so that the colour images (read only by the colouring) can be read
// while the silhouettes are being sampled. The constructor reads the silhouettes on up to
// `threads` threads. With ColourImages::behind it then starts reading the colour images on a
// thread of its own (with up to threads - 1 threads) and returns; with on_request it leaves them
// to read_colour_images(); otherwise, or when a silhouette could not be read (behind only), it
// reads them before it returns. finish() reads the images not yet taken beside the threads behind
// and waits for them, then prints the warnings and throws the error exactly as load_frame would.
// Until finish() returns the colour views must not be touched; the other views are complete once
// constructed (when every silhouette was read: see silhouettes_read()). With `coarse` false the
// coarse views keep their images (only a run's first frame samples them).
class FrameReading {
 public:
  FrameReading(ViewSets& views, const NameTemplate& fgtemplate, const NameTemplate& imtemplate,
               std::int64_t frame, unsigned threads, ColourImages colour, bool coarse = true);
  FrameReading(const FrameReading&) = delete;
  FrameReading& operator=(const FrameReading&) = delete;
  // Waits for the colour images still being read.
  ~FrameReading();

  // Whether every silhouette was read (no error so far).
  bool silhouettes_read() const;

  // Reads the colour images of the cameras not yet taken until none is left, on up to
  // `threads` threads (this one included). Several threads may call it at once; all of them
  // must have returned before finish() is called.
  void read_colour_images(unsigned threads = 1);

  // Waits for the colour images; prints the warnings of every camera in camera order to `out`
  // and throws the error of the first failing read, as load_frame does.
  void finish(std::ostream& out);

 private:
  void read_colour(std::size_t i);
  // Reads the colour images of the cameras not yet taken, one after another.
  void read_colours();

  ViewSets& views_;
  const NameTemplate& imtemplate_;
  std::int64_t frame_;
  unsigned threads_;
  std::vector<CameraReading> silhouettes_;  // per camera
  std::vector<CameraReading> colours_;      // per camera
  std::atomic<std::size_t> next_colour_{0};  // the next camera whose colour image is unread
  std::thread behind_;
};

}  // namespace tervik
