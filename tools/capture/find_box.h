#pragma once
// find_box: the box that holds an object, found from the cameras and the silhouettes alone by
// carving a coarse voxel hull over the region that the cameras see.
//
// A voxel is kept when at least `min_cameras` cameras see its centre (in front of the camera,
// inside the image) and every such camera has foreground (a value of 128 or more) somewhere in
// the rectangle of pixels spanned by the projections of the voxel's corners. The test errs on
// the side of keeping, so the kept voxels cover the visual hull of the silhouettes; their
// bounds, padded, are the box.
#include <cstdint>
#include <string>
#include <vector>

#include "tervik/camera.h"
#include "tervik/imagegray.h"
#include "tervik/points.h"

namespace tervik::capture {

struct FindBoxOptions {
  int min_cameras = 5;   // cameras that must see a voxel (sculptor samples no point seen by fewer)
  int resolution = 128;  // voxels along the longest axis of the fine grid
  double pad = 0.02;     // padding on each side, as a share of the hull's extent on that axis
};

// The bounds of the kept voxels (their full extent, not their centres).
struct HullBounds {
  bool empty = true;
  Point3D lo, hi;
  double voxel_size = 0.0;  // edge of a voxel of the finest grid, world units
};

// Counts of foreground pixels over rectangles of a silhouette, in constant time per query.
class ForegroundCounts {
 public:
  ForegroundCounts() = default;
  explicit ForegroundCounts(const ImageGray<unsigned char>& silhouette);
  long width() const { return width_; }
  long height() const { return height_; }
  // Foreground pixels with x0 <= x < x1 and y0 <= y < y1 (clipped to the image).
  long count(long x0, long y0, long x1, long y1) const;

 private:
  long width_ = 0, height_ = 0;
  // (width + 1) x (height + 1) summed-area table; 32 bits hold the count of any image that the
  // readers accept (at most 2^28 pixels).
  std::vector<std::int32_t> sums_;
};

// What the cameras say about a cubic voxel: `seen` cameras see its centre (in front of the
// camera, inside the image), and `carved` is true when one of them has no foreground anywhere
// in the rectangle that holds the voxel's projection (`seen` then counts the cameras up to
// that one only).
struct VoxelView {
  int seen = 0;
  bool carved = false;
  int centre_foreground = 0;  // of the `seen` cameras, those with the centre's pixel foreground
};
VoxelView view_voxel(const std::vector<Camera>& cameras,
                     const std::vector<ForegroundCounts>& silhouettes, const Point3D& centre,
                     double size);

// An axis-aligned box around the cameras and the point nearest to all their optical axes,
// reaching as far from that point as the farthest camera: the region searched for the object.
void viewing_region(const std::vector<Camera>& cameras, Point3D& lo, Point3D& hi);

// Carves the voxel grid of `cells` voxels along the longest axis of [lo, hi] (cubic voxels)
// and returns the bounds of the kept voxels, closing in on them from the six sides without
// visiting the interior. silhouettes[i] belongs to cameras[i].
HullBounds carve_hull(const std::vector<Camera>& cameras,
                      const std::vector<ForegroundCounts>& silhouettes, const Point3D& lo,
                      const Point3D& hi, int cells, int min_cameras);

// The hull of one frame: a coarse grid of 64 voxels over viewing_region, then grids of
// options.resolution voxels over the previous bounds. Throws TervikError when a silhouette's
// size differs from its camera's or fewer cameras than options.min_cameras are given.
HullBounds frame_hull(const std::vector<Camera>& cameras,
                      const std::vector<ImageGray<unsigned char>>& silhouettes,
                      const FindBoxOptions& options);

// The union of two bounds (either may be empty).
HullBounds merge(const HullBounds& a, const HullBounds& b);

// The hull bounds padded by `pad` times the extent on each axis and rounded outward to a
// step of a hundredth of a power of ten below the longest extent (1.8 -> steps of 0.01).
void padded_box(const HullBounds& hull, double pad, Point3D& lo, Point3D& hi);

// The image borders on which the silhouette has foreground, e.g. "left, top"; empty if none.
std::string touched_borders(const ImageGray<unsigned char>& silhouette);

}  // namespace tervik::capture
