#pragma once
// Per-camera depth maps (z-buffers) of a frame's points, used to decide which camera sees a point.
//
// Map k covers the image of camera k, (im_width(), im_height()) pixels indexed (x, y), x the
// column and y the row. A value is a depth as point_depth gives it (the third row of P applied to
// the point); pixels that no point reaches hold kEmptyDepth. A map stores only the rectangle of
// pixels that its points reach (the object's part of the image), row after row; every pixel
// outside it is empty.
#include <cstdint>
#include <vector>

#include "common/patch.h"
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

// The pixels [x0, x1) x [y0, y1) of an image; empty when x0 >= x1 or y0 >= y1.
struct PixelRect {
  long x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  long width() const { return x1 > x0 ? x1 - x0 : 0; }
  long height() const { return y1 > y0 ? y1 - y0 : 0; }
};

// One camera's depth map: the image extents and the stored rectangle's depths, row after row
// ((x - rect.x0) + (y - rect.y0) * rect.width()). A default map is 0 x 0; a map with extents and
// an empty rectangle is empty everywhere.
struct DepthMap {
  long width = 0;   // image extents, pixels
  long height = 0;
  PixelRect rect;   // the stored pixels, within the image
  std::vector<double> depth;

  // The depth at pixel (x, y) of the image (0 <= x < width, 0 <= y < height): the stored value
  // inside the rectangle, kEmptyDepth outside it.
  double at(long x, long y) const {
    if (x < rect.x0 || x >= rect.x1 || y < rect.y0 || y >= rect.y1) return kEmptyDepth;
    return depth[static_cast<std::size_t>((x - rect.x0) + (y - rect.y0) * (rect.x1 - rect.x0))];
  }
};

// A point's pixel in one camera, its depth there and its index among the points.
struct DepthSplat {
  std::int32_t x, y;
  double depth;
  std::uint32_t index;
};

// Renders `patches` into `map` for camera `camera` alone, as depth_maps_pixel does for each of
// its cameras. `splats` (cleared first, its storage kept by the caller from call to call)
// receives, in point order, every point drawn: those in front of the camera whose pixel lies
// in the image. Throws TervikError for 2^32 points or more.
void depth_map_pixel(DepthMap& map, const std::vector<Patch>& patches, const Camera& camera,
                     std::vector<DepthSplat>& splats);

// Renders `patches` into one depth map per camera of `cameras`, in camera order: every point in
// front of a camera (depth > 0) whose pixel lies in the image writes its depth into the 3 x 3
// pixel square around that pixel (cut at the image border) wherever it is smaller than the value
// there. Only `pos` is read. `maps` is rebuilt from these points alone; a map keeps its storage
// from call to call (grown when a rectangle needs more), so calling this every frame allocates
// little. The maps are built on up to `threads` threads, one camera at a time each; they do not
// depend on it.
void depth_maps_pixel(std::vector<DepthMap>& maps, const std::vector<Patch>& patches,
                      const multiview::MultiView<>& cameras, unsigned threads = 1);

}  // namespace tervik
