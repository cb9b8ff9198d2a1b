#pragma once
// The post-processing half of a frame's stage sequence: the sampled points are re-oriented,
// smoothed and coloured, with progress on standard output and timing on standard error.
#include <ctime>
#include <vector>

#include "common/patch.h"
#include "tervik/imagergb.h"
#include "tervik/multiarray.h"
#include "tervik/multiview.h"
#include "tervik/points.h"

namespace tervik {

// Runs, on the frame's sampled points in `surface` (replaced by its final, coloured points):
//   "normals..."            normals() into `scratch`, which then replaces `surface` and is
//                           emptied; "<n> points"
//   "smoothing surface..."  smooth_surface(); "<n> points"
//   timing "Points and post-filtering: <1/t> fps or <t> s/frame" on standard error
//   "coloring..."           depth_maps_pixel() into `depth_maps`, add_colors()
//   timing "Points and post-filtering and coloring: ..." on standard error
// t is the processor time in seconds since `start`, the frame's start. `colour_views` holds the
// full-resolution cameras with the frame's colour images; L is the sampling length. The depth
// maps are rebuilt from this frame's points; keeping `depth_maps` from frame to frame only saves
// their allocation.
void postprocess_frame(const multiview::MultiView<ImageRGB<unsigned char>>& colour_views,
                       const Point3D& box_min, const Point3D& box_max, double L,
                       std::clock_t start, std::vector<Patch>& surface,
                       std::vector<Patch>& scratch,
                       std::vector<MultiArray<double, 2>>& depth_maps);

}  // namespace tervik
