#pragma once
// Per-camera depth maps (z-buffers) of a frame's points, used to decide which camera sees a point.
//
// Map k has extents (im_width(), im_height()) of camera k and is indexed (x, y), x the column and
// y the row, so map.data()[x + y * width] is pixel (x, y). A value is a depth as point_depth
// gives it (the third row of P applied to the point); pixels that no point reaches hold
// kEmptyDepth.
#include <vector>

#include "common/patch.h"
#include "tervik/multiarray.h"
#include "tervik/multiview.h"

namespace tervik {

// Depth of a pixel that no point reaches.
inline constexpr double kEmptyDepth = 1e12;

// Projects world point X into camera c (ideal projection) and truncates the position toward zero
// to pixel (x, y). Returns false, leaving x and y unset, when that pixel lies outside the
// camera's im_width() x im_height() image or the position is not finite.
inline bool project_to_pixel(const Point3D& X, const Camera& c, long& x, long& y) {
  Point2D u;
  multiview::world_to_image_undistorted(X, c, u);
  // The range test is made on the doubles, so that positions far outside the image never reach
  // an integer conversion; (-1, width) truncates to [0, width - 1].
  if (!(u.x > -1.0 && u.x < static_cast<double>(c.im_width()) && u.y > -1.0 &&
        u.y < static_cast<double>(c.im_height()))) {
    return false;
  }
  x = static_cast<long>(u.x);
  y = static_cast<long>(u.y);
  return true;
}

// The pixels [x0, x1) x [y0, y1) of a depth map that a call wrote; empty when x0 >= x1.
struct PixelRect {
  long x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// Renders `patches` into one depth map per camera of `cameras`, in camera order: every point in
// front of a camera (depth > 0) whose pixel lies in the image writes its depth into the 3 x 3
// pixel square around that pixel wherever it is smaller than the stored value. Only `pos` is read.
// `maps` is rebuilt from these points alone; maps whose extents already fit are refilled in
// place instead of being reallocated, so calling this every frame costs no allocation. The maps
// are built on up to `threads` threads, one camera at a time each; they do not depend on it.
void depth_maps_pixel(std::vector<MultiArray<double, 2>>& maps, const std::vector<Patch>& patches,
                      const multiview::MultiView<>& cameras, unsigned threads = 1);

// The same, where `written` records, per map, the rectangle that holds every pixel written:
// when it has one entry per map and a map keeps its extents, only that rectangle is emptied
// before the new points are rendered, the rest of the map being empty already. So between two
// calls the maps must stay as the first left them (as a frame loop keeps them).
void depth_maps_pixel(std::vector<MultiArray<double, 2>>& maps, std::vector<PixelRect>& written,
                      const std::vector<Patch>& patches, const multiview::MultiView<>& cameras,
                      unsigned threads);

}  // namespace tervik
