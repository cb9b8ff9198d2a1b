#pragma once
// The per-camera view sets of a run: the cameras are read once, every frame's silhouettes and
// colour images are read into the same entries. View index i is camera number i, the number
// substituted into the file-name templates.
#include <cstdint>
#include <iosfwd>

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
};

// The factor by which the coarse silhouettes are reduced, and the matching camera scale.
constexpr short kCoarseFactor = 8;
constexpr double kCoarseScale = 0.125;

// Prints "Loading camera data" to `out`, reads the calibration file of every camera 0 to
// numcams - 1 (named by the camera template) into all three view sets (scaled by 0.125 for the
// coarse set), and prints "Processing sequence". Throws the calibration reader's TervikError, or
// TervikError when a camera's image size is not between 1 and 32767 pixels on each side.
ViewSets load_cameras(std::int64_t numcams, const NameTemplate& camtemplate, std::ostream& out);

// Reads frame `frame` camera after camera: the silhouette (one channel) into the silhouette
// views and its reduction by 8 into the coarse views, then the colour image into the colour
// views. Throws the image reader's errors, and TervikError naming the file, both sizes and the
// camera when an image's size differs from its camera's. With `threads` > 1 the cameras are read
// in parallel; the views, and the error thrown (that of the lowest-numbered failing camera, as
// one thread meets it first), are the same.
void load_frame(ViewSets& views, const NameTemplate& fgtemplate, const NameTemplate& imtemplate,
                std::int64_t frame, unsigned threads = 1);

}  // namespace tervik
