#include "sculptor/depth_maps.h"

#include <algorithm>
#include <cstddef>
#include <climits>
#include <cstdint>

#include "sculptor/parallel.h"

namespace tervik {

namespace {

// A point's pixel in one camera and its depth there.
struct Splat {
  std::int32_t x, y;
  double depth;
};

// Per-thread storage of render_map, kept from camera to camera.
struct RenderScratch {
  std::vector<Splat> splats;
  // Per image row, the columns [x0, x1) of the points projected into it (not their squares).
  std::vector<RowSpan> centres;
};

// Renders the points into `map` for camera `cam` (see depth_maps_pixel). The points are projected
// once into the scratch's splats; their squares' bounding rectangle becomes the map's rectangle,
// whose rows' spans of reached pixels are emptied and then written.
void render_map(DepthMap& map, RenderScratch& scratch, const std::vector<Patch>& patches,
                const Camera& cam) {
  const long width = cam.im_width(), height = cam.im_height();
  map.width = width;
  map.height = height;
  std::vector<Splat>& splats = scratch.splats;
  std::vector<RowSpan>& centres = scratch.centres;
  splats.clear();
  splats.reserve(patches.size());
  centres.assign(static_cast<std::size_t>(height), RowSpan{INT32_MAX, 0});
  // project_to_pixel and point_depth, term for term, on a copy of the projection matrix.
  double p[12];
  std::copy_n(cam.p().data(), 12, p);
  const double w_limit = static_cast<double>(width), h_limit = static_cast<double>(height);
  for (const Patch& patch : patches) {
    const Point3D& X = patch.pos;
    const double d = p[8] * X.x + p[9] * X.y + p[10] * X.z + p[11];
    const double inv_w = 1.0 / d;
    const double u = (p[0] * X.x + p[1] * X.y + p[2] * X.z + p[3]) * inv_w;
    const double v = (p[4] * X.x + p[5] * X.y + p[6] * X.z + p[7]) * inv_w;
    if (!(u > -1.0 && u < w_limit && v > -1.0 && v < h_limit)) continue;
    if (d <= 0) continue;
    const auto x = static_cast<std::int32_t>(u), y = static_cast<std::int32_t>(v);
    RowSpan& c = centres[static_cast<std::size_t>(y)];
    c.x0 = std::min(c.x0, x);
    c.x1 = std::max(c.x1, x + 1);
    splats.push_back(Splat{x, y, d});
  }
  // A row's span joins the centres of the rows above, at and below it, one pixel wider on
  // either side (cut at the image border); the rectangle bounds the spans.
  long first = 0, last = height - 1;  // the rows with centres
  while (first < height && centres[static_cast<std::size_t>(first)].x1 == 0) ++first;
  while (last >= first && centres[static_cast<std::size_t>(last)].x1 == 0) --last;
  map.rows.clear();
  if (first > last) {
    map.rect = PixelRect{};
    return;
  }
  PixelRect& r = map.rect;
  r.y0 = std::max(first - 1, 0L);
  r.y1 = std::min(last + 2, height);
  r.x0 = width;
  r.x1 = 0;
  map.rows.resize(static_cast<std::size_t>(r.y1 - r.y0));
  for (long y = r.y0; y < r.y1; ++y) {
    std::int32_t lo = INT32_MAX, hi = 0;
    for (long yy = std::max(y - 1, 0L); yy <= std::min(y + 1, height - 1); ++yy) {
      lo = std::min(lo, centres[static_cast<std::size_t>(yy)].x0);
      hi = std::max(hi, centres[static_cast<std::size_t>(yy)].x1);
    }
    RowSpan& span = map.rows[static_cast<std::size_t>(y - r.y0)];
    if (hi == 0) continue;  // no point within a row: the span stays empty
    span.x0 = std::max<std::int32_t>(lo - 1, 0);
    span.x1 = std::min<std::int32_t>(hi + 1, static_cast<std::int32_t>(width));
    r.x0 = std::min<long>(r.x0, span.x0);
    r.x1 = std::max<long>(r.x1, span.x1);
  }
  const long stride = r.width();
  const auto cells_needed = static_cast<std::size_t>(stride * r.height());
  // Grown to the exact size (resize() would reserve up to twice that); the values are set below.
  if (map.depth.size() < cells_needed) map.depth = std::vector<double>(cells_needed);
  for (long y = r.y0; y < r.y1; ++y) {
    const RowSpan& span = map.rows[static_cast<std::size_t>(y - r.y0)];
    if (span.x0 >= span.x1) continue;
    double* row = map.depth.data() + (span.x0 - r.x0) + (y - r.y0) * stride;
    std::fill(row, row + (span.x1 - span.x0), kEmptyDepth);
  }
  // Every pixel ends with the minimum over the depths written onto it: the order of the points
  // does not matter.
  double* cells = map.depth.data();
  for (const Splat& s : splats) {
    if (s.x >= 1 && s.x + 1 < width && s.y >= 1 && s.y + 1 < height) {
      // The whole square lies in the image, and so in the rectangle.
      double* row = cells + (s.x - 1 - r.x0) + (s.y - 1 - r.y0) * stride;
      for (int dy = 0; dy < 3; ++dy, row += stride) {
        if (row[0] > s.depth) row[0] = s.depth;
        if (row[1] > s.depth) row[1] = s.depth;
        if (row[2] > s.depth) row[2] = s.depth;
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

}  // namespace

void depth_maps_pixel(std::vector<DepthMap>& maps, const std::vector<Patch>& patches,
                      const multiview::MultiView<>& cameras, unsigned threads) {
  maps.resize(cameras.size());
  // The maps are filled one after the other, each while it is in the cache, rather than all at
  // once point by point, and different maps by different threads.
  std::vector<RenderScratch> scratch(worker_count(cameras.size(), threads));
  parallel_for(cameras.size(), threads, [&](std::size_t k, unsigned w) {
    render_map(maps[k], scratch[w], patches, cameras[k].get<0>());
  });
}

}  // namespace tervik
