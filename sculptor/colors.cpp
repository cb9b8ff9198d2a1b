#include "sculptor/colors.h"

#include <algorithm>
#include <cstddef>
#include <sstream>

#include "sculptor/depth_maps.h"
#include "sculptor/parallel.h"
#include "sculptor/visibility.h"

namespace tervik {

namespace {

// One of the best-facing cameras of a patch: its score, camera number and pixel.
struct Facing {
  double score = -1e12;
  std::size_t camera = 0;
  long x = 0, y = 0;
};

// Channel value of pixel (x, y); the image is known to be at least its camera's size.
inline unsigned char channel_at(const ImageRGB<unsigned char>& image, int c, long x, long y) {
  return image.channel(c).data()[x + y * static_cast<long>(image.width())];
}

// Sum of weight * channel value over the chosen cameras, first camera first, truncated.
unsigned char blend(const multiview::MultiView<ImageRGB<unsigned char>>& views,
                    const Facing* best, const double* weights, int n, int c) {
  double value = 0.0;
  for (int i = 0; i < n; ++i) {
    value += weights[i] * channel_at(views[best[i].camera].get<1>(), c, best[i].x, best[i].y);
  }
  // The weights sum to one, so the value lies in [0, 255] up to rounding.
  return static_cast<unsigned char>(std::clamp(static_cast<int>(value), 0, 255));
}

// Colours one patch (see add_colors).
void colour_patch(Patch& patch, const std::vector<DepthMap>& maps,
                  const multiview::MultiView<ImageRGB<unsigned char>>& views, double L,
                  const std::vector<Point3D>& facing) {
  Facing best[3];
  for (std::size_t k = 0; k < views.size(); ++k) {
    Facing f;
    f.camera = k;
    f.score = dot(facing[k], patch.normal);
    // Only cameras scoring above 0.5 are blended, and they rank above every other one, so the
    // colour depends on them alone: the visibility test is spared for the rest.
    if (!(f.score > 0.5)) continue;
    if (!sees(views[k].get<0>(), maps[k], patch.pos, L, f.x, f.y)) continue;
    // Keep the three best in descending order; a tie never displaces an earlier camera.
    if (f.score > best[0].score) {
      best[2] = best[1];
      best[1] = best[0];
      best[0] = f;
    } else if (f.score > best[1].score) {
      best[2] = best[1];
      best[1] = f;
    } else if (f.score > best[2].score) {
      best[2] = f;
    }
  }

  const double s1 = best[0].score, s2 = best[1].score, s3 = best[2].score;
  double weights[3] = {1.0, 0.0, 0.0};
  int n = 0;
  if (s1 <= 0.5) {
    patch.r = patch.g = patch.b = kUnseenGrey;
    return;
  }
  if (s2 <= 0.5) {
    const ImageRGB<unsigned char>& image = views[best[0].camera].get<1>();
    patch.r = channel_at(image, 0, best[0].x, best[0].y);
    patch.g = channel_at(image, 1, best[0].x, best[0].y);
    patch.b = channel_at(image, 2, best[0].x, best[0].y);
    return;
  }
  if (s3 <= 0.5) {
    n = 2;
    weights[0] = s1 / (s2 + s1);
    weights[1] = s2 / (s2 + s1);
  } else {
    n = 3;
    const double total = (s2 + s1) + s3;
    weights[0] = s1 / total;
    weights[1] = s2 / total;
    weights[2] = s3 / total;
  }
  patch.r = blend(views, best, weights, n, 0);
  patch.g = blend(views, best, weights, n, 1);
  patch.b = blend(views, best, weights, n, 2);
}

}  // namespace

void add_colors(std::vector<Patch>& patches, const std::vector<DepthMap>& maps,
                const multiview::MultiView<ImageRGB<unsigned char>>& views, double L,
                unsigned threads) {
  check_visibility_inputs("add_colors", maps, views);
  const std::vector<Point3D> facing = facing_vectors(views);
  constexpr std::size_t kBlock = 1024;  // patches per piece of work
  const std::size_t n = patches.size();
  parallel_for((n + kBlock - 1) / kBlock, threads, [&](std::size_t b, unsigned) {
    const std::size_t end = std::min(n, (b + 1) * kBlock);
    for (std::size_t i = b * kBlock; i < end; ++i) colour_patch(patches[i], maps, views, L, facing);
  });
}

}  // namespace tervik
