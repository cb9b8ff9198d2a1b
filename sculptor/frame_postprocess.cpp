#include "sculptor/frame_postprocess.h"

#include <iostream>
#include <ostream>

#include "sculptor/colors.h"
#include "sculptor/depth_maps.h"
#include "sculptor/normals.h"
#include "sculptor/smoothing.h"

namespace tervik {

namespace {

// "<label><1/t> fps or <t> s/frame" on standard error, t the processor seconds since `start`
// (clock() ticks divided by 1,000,000).
void print_frame_timing(const char* label, std::clock_t start) {
  const double t = static_cast<double>(std::clock() - start) / 1000000.0;
  std::cerr << label << 1.0 / t << " fps or " << t << " s/frame" << std::endl;
}

}  // namespace

void postprocess_frame(const multiview::MultiView<ImageRGB<unsigned char>>& colour_views,
                       const Point3D& box_min, const Point3D& box_max, double L,
                       std::clock_t start, std::vector<Patch>& surface,
                       std::vector<Patch>& scratch,
                       std::vector<MultiArray<double, 2>>& depth_maps) {
  // 1. Normals re-estimated from the neighbourhoods; the swap keeps both buffers' storage.
  std::cout << "normals..." << std::endl;
  normals(scratch, surface, box_min, box_max, L);
  surface.swap(scratch);
  scratch.clear();
  std::cout << surface.size() << " points" << std::endl;

  // 2. Smoothing along the normals.
  std::cout << "smoothing surface..." << std::endl;
  smooth_surface(surface, L);
  std::cout << surface.size() << " points" << std::endl;
  print_frame_timing("Points and post-filtering: ", start);

  // 3. Visibility and colour.
  std::cout << "coloring..." << std::endl;
  {
    multiview::MultiView<> cameras;
    cameras.reserve(colour_views.size());
    for (const auto& view : colour_views) cameras.emplace_back(view.get<0>());
    depth_maps_pixel(depth_maps, surface, cameras);
  }
  add_colors(surface, depth_maps, colour_views, L);
  print_frame_timing("Points and post-filtering and coloring: ", start);
}

}  // namespace tervik
