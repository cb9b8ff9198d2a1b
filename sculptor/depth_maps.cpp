#include "sculptor/depth_maps.h"

#include <algorithm>
#include <cstddef>

#include "sculptor/parallel.h"

namespace tervik {

namespace {

// Makes `map` a width x height map with every element kEmptyDepth, keeping its storage when the
// extents already match.
void reset_map(MultiArray<double, 2>& map, std::size_t width, std::size_t height) {
  if (map.shape()[0] != width || map.shape()[1] != height) {
    map = MultiArray<double, 2>(width, height);
  }
  std::fill_n(map.data(), map.num_elements(), kEmptyDepth);
}

}  // namespace

void depth_maps_pixel(std::vector<MultiArray<double, 2>>& maps, const std::vector<Patch>& patches,
                      const multiview::MultiView<>& cameras, unsigned threads) {
  const std::size_t ncams = cameras.size();
  maps.resize(ncams);
  // Every pixel ends with the minimum over the depths splatted onto it, which does not depend on
  // the order of the splats; so the maps are filled one after the other, each while it is in the
  // cache, rather than all at once point by point, and different maps by different threads.
  parallel_for(ncams, threads, [&](std::size_t k, unsigned) {
    const Camera& cam = cameras[k].get<0>();
    const long width = cam.im_width(), height = cam.im_height();
    reset_map(maps[k], static_cast<std::size_t>(width), static_cast<std::size_t>(height));
    double* map = maps[k].data();
    for (const Patch& patch : patches) {
      long x, y;
      if (!project_to_pixel(patch.pos, cam, x, y)) continue;
      const double d = multiview::point_depth(patch.pos, cam);
      if (d <= 0) continue;
      for (long dy = -1; dy <= 1; ++dy) {
        const long yy = y + dy;
        if (yy < 0 || yy >= height) continue;
        for (long dx = -1; dx <= 1; ++dx) {
          const long xx = x + dx;
          if (xx < 0 || xx >= width) continue;
          double& cell = map[xx + yy * width];
          if (cell > d) cell = d;
        }
      }
    }
  });
}

}  // namespace tervik
