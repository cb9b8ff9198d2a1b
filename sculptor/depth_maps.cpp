#include "sculptor/depth_maps.h"

#include <algorithm>
#include <cstddef>

#include "sculptor/parallel.h"

namespace tervik {

namespace {

// Renders the points into map k (see depth_maps_pixel); `rect`, when given, holds the pixels
// written by the previous rendering into the same map, is emptied first and then receives the
// pixels written now. Without it the whole map is emptied.
void render_map(MultiArray<double, 2>& map_array, PixelRect* rect,
                const std::vector<Patch>& patches, const Camera& cam) {
  const long width = cam.im_width(), height = cam.im_height();
  const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
  if (rect == nullptr || map_array.shape()[0] != w || map_array.shape()[1] != h) {
    if (map_array.shape()[0] != w || map_array.shape()[1] != h) {
      map_array = MultiArray<double, 2>(w, h);
    }
    std::fill_n(map_array.data(), map_array.num_elements(), kEmptyDepth);
  } else {
    for (long y = rect->y0; y < rect->y1; ++y) {
      std::fill(map_array.data() + y * width + rect->x0, map_array.data() + y * width + rect->x1,
                kEmptyDepth);
    }
  }
  long x0 = width, y0 = height, x1 = 0, y1 = 0;  // the pixels written, grown below
  double* map = map_array.data();
  for (const Patch& patch : patches) {
    long x, y;
    if (!project_to_pixel(patch.pos, cam, x, y)) continue;
    const double d = multiview::point_depth(patch.pos, cam);
    if (d <= 0) continue;
    x0 = std::min(x0, x - 1);
    y0 = std::min(y0, y - 1);
    x1 = std::max(x1, x + 2);
    y1 = std::max(y1, y + 2);
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
  if (rect != nullptr) {
    *rect = x0 < x1 ? PixelRect{std::max(x0, 0L), std::max(y0, 0L), std::min(x1, width),
                                std::min(y1, height)}
                    : PixelRect{};
  }
}

}  // namespace

void depth_maps_pixel(std::vector<MultiArray<double, 2>>& maps, const std::vector<Patch>& patches,
                      const multiview::MultiView<>& cameras, unsigned threads) {
  maps.resize(cameras.size());
  // Every pixel ends with the minimum over the depths splatted onto it, which does not depend on
  // the order of the splats; so the maps are filled one after the other, each while it is in the
  // cache, rather than all at once point by point, and different maps by different threads.
  parallel_for(cameras.size(), threads, [&](std::size_t k, unsigned) {
    render_map(maps[k], nullptr, patches, cameras[k].get<0>());
  });
}

void depth_maps_pixel(std::vector<MultiArray<double, 2>>& maps, std::vector<PixelRect>& written,
                      const std::vector<Patch>& patches, const multiview::MultiView<>& cameras,
                      unsigned threads) {
  // Without a record for every map, each map is emptied whole.
  maps.resize(cameras.size());
  if (written.size() != maps.size()) {
    written.resize(maps.size());
    for (std::size_t k = 0; k < maps.size(); ++k) {
      written[k] = PixelRect{0, 0, static_cast<long>(maps[k].shape()[0]),
                             static_cast<long>(maps[k].shape()[1])};
    }
  }
  parallel_for(cameras.size(), threads, [&](std::size_t k, unsigned) {
    render_map(maps[k], &written[k], patches, cameras[k].get<0>());
  });
}

}  // namespace tervik
