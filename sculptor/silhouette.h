#pragma once
// The silhouette operations of the sampler: the coarse silhouette used for seeding, and the test
// that judges a 3-d point against every camera's foreground silhouette.
//
// Pixel convention: a silhouette is an ImageGray<unsigned char> addressed (x, y), x the column and
// y the row; a projected position (u, v) becomes the pixel (trunc(u), trunc(v)), truncated toward
// zero. projection_test reads a value of 128 or more as foreground; downscale_silhouette reads a
// value above 128 as foreground and writes 255 (foreground) or 0 (background).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tervik/imagegray.h"
#include "tervik/multiview.h"
#include "tervik/points.h"

namespace tervik {

using SilhouetteViews = multiview::MultiView<ImageGray<unsigned char>>;

// The silhouette reduced by `factor`: width / factor x height / factor (integer division). An
// output pixel is 255 when a pixel of its factor x factor input block is above 128, else 0;
// columns and rows beyond the last whole block are ignored. Throws TervikError for factor < 1.
ImageGray<unsigned char> downscale_silhouette(const ImageGray<unsigned char>& image, short factor);

// Projects `point` (world coordinates) into every camera of `views` and counts: `inside` += the
// cameras whose image holds the projection, `outside` += those among them that see background.
// Stops as soon as `outside` exceeds `tolerance`. Returns the outline flag: the projection fell on
// a foreground pixel with a background 4-neighbour (neighbours outside the image do not count) in
// at least one visited camera. Callers set both counters to 0 before the call. Cameras are
// visited in list order and pixels read from the silhouettes. Throws TervikError when a pixel
// inside a camera's image size lies outside its silhouette (an image smaller than its camera).
bool projection_test(const SilhouetteViews& views, const Point3D& point, short& inside,
                     short& outside, short tolerance);

// A per-pixel class table over a view set, for callers that test many points against the same
// silhouettes: test() reads one class byte per camera instead of a pixel and its neighbours. A
// pixel is classified the first time a test reads it, so the cost follows the pixels tested, not
// the image size. The frame loop does not use it (its set-up costs more than it saves there);
// benchmarks and tests compare it with projection_test. The silhouettes and cameras must neither
// change nor move while it lives (a replaced image or camera is not noticed, only a changed
// number of views). Throws TervikError when a silhouette is smaller than its camera's image size.
class SilhouetteClasses {
 public:
  explicit SilhouetteClasses(const SilhouetteViews& views);
  SilhouetteClasses(const SilhouetteClasses&) = delete;
  SilhouetteClasses& operator=(const SilhouetteClasses&) = delete;

  // projection_test through the classes, starting with the camera that rejected the previous
  // point: the counters and the flag are those of projection_test for every point that no
  // camera puts on background beyond `tolerance`, and `outside` exceeds `tolerance` in both
  // orders for every other point.
  bool test(const Point3D& point, short& inside, short& outside, short tolerance) const;

  const SilhouetteViews& views() const { return *views_; }

 private:
  // What the test reads of one camera, kept together: its projection matrix (copied, row after
  // row), its image size and its classes.
  struct View {
    double p[12];
    double cam_width;
    double cam_height;
    std::uint8_t* classes;         // row after row, stride `width`; PixelClass::unknown at first
    const unsigned char* pixels;   // the silhouette, same layout
    std::int64_t width;            // silhouette extents
    std::int64_t height;
  };
  const SilhouetteViews* views_;
  std::vector<std::vector<std::uint8_t>> storage_;  // the classes of every camera
  std::vector<View> table_;
  mutable std::size_t first_ = 0;  // the camera that rejected the previous point
};

}  // namespace tervik
