#include "sculptor/depth_maps.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "sculptor/parallel.h"
#include "tervik/exceptions.h"

namespace tervik {

// The points are projected once into `splats`; their squares' bounding rectangle becomes the
// map's rectangle, which is emptied and then written.
void depth_map_pixel(DepthMap& map, const std::vector<Patch>& patches, const Camera& cam,
                     std::vector<DepthSplat>& splats) {
  const long width = cam.im_width(), height = cam.im_height();
  map.width = width;
  map.height = height;
  TERVIK_CHECK(patches.size() <= UINT32_MAX,
               "depth maps of " << patches.size() << " points: at most 2^32 - 1 are supported");
  splats.clear();
  splats.reserve(patches.size());
  // project_to_pixel and point_depth, term for term, on a copy of the projection matrix.
  double p[12];
  std::copy_n(cam.p().data(), 12, p);
  const double w_limit = static_cast<double>(width), h_limit = static_cast<double>(height);
  long x0 = width, y0 = height, x1 = 0, y1 = 0;  // the squares' pixels, grown below
  for (std::size_t i = 0; i < patches.size(); ++i) {
    const Point3D& X = patches[i].pos;
    const double d = p[8] * X.x + p[9] * X.y + p[10] * X.z + p[11];
    const double inv_w = 1.0 / d;
    const double u = (p[0] * X.x + p[1] * X.y + p[2] * X.z + p[3]) * inv_w;
    const double v = (p[4] * X.x + p[5] * X.y + p[6] * X.z + p[7]) * inv_w;
    if (!(u > -1.0 && u < w_limit && v > -1.0 && v < h_limit)) continue;
    if (d <= 0) continue;
    const long x = static_cast<long>(u), y = static_cast<long>(v);
    x0 = std::min(x0, x - 1);
    y0 = std::min(y0, y - 1);
    x1 = std::max(x1, x + 2);
    y1 = std::max(y1, y + 2);
    splats.push_back(DepthSplat{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), d,
                                static_cast<std::uint32_t>(i)});
  }
  map.rect = x0 < x1 ? PixelRect{std::max(x0, 0L), std::max(y0, 0L), std::min(x1, width),
                                 std::min(y1, height)}
                     : PixelRect{};
  const PixelRect& r = map.rect;
  const long stride = r.width();
  map.depth.assign(static_cast<std::size_t>(stride * r.height()), kEmptyDepth);
  // Every pixel ends with the minimum over the depths written onto it: the order of the points
  // does not matter.
  double* cells = map.depth.data();
  for (const DepthSplat& s : splats) {
    if (s.x >= 1 && s.x + 1 < width && s.y >= 1 && s.y + 1 < height) {
      // The whole square lies in the image, and so in the rectangle.
      double* row = cells + (s.x - 1 - r.x0) + (s.y - 1 - r.y0) * stride;
      // min(row, depth) as (depth < row ? depth : row): a cell keeps its value unless the
      // depth is smaller, as a compare-and-store would, but without a branch to mispredict.
      const double d = s.depth;
      for (int dy = 0; dy < 3; ++dy, row += stride) {
        row[0] = d < row[0] ? d : row[0];
        row[1] = d < row[1] ? d : row[1];
        row[2] = d < row[2] ? d : row[2];
      }
      continue;
    }
    for (long dy = -1; dy <= 1; ++dy) {
      const long yy = s.y + dy;
      if (yy < 0 || yy >= height) continue;
      for (long dx = -1; dx <= 1; ++dx) {
        const long xx = s.x + dx;
        if (xx < 0 || xx >= width) continue;
        double& cell = cells[(xx - r.x0) + (yy - r.y0) * stride];
        if (cell > s.depth) cell = s.depth;
      }
    }
  }
}

void depth_maps_pixel(std::vector<DepthMap>& maps, const std::vector<Patch>& patches,
                      const multiview::MultiView<>& cameras, unsigned threads) {
  maps.resize(cameras.size());
  // The maps are filled one after the other, each while it is in the cache, rather than all at
  // once point by point, and different maps by different threads.
  std::vector<std::vector<DepthSplat>> splats(worker_count(cameras.size(), threads));
  parallel_for(cameras.size(), threads, [&](std::size_t k, unsigned w) {
    depth_map_pixel(maps[k], patches, cameras[k].get<0>(), splats[w]);
  });
}

}  // namespace tervik
