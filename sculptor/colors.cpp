#include "sculptor/colors.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
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

// Colours one patch (see add_colors). `visible(k, f)` says whether camera k sees the patch and
// may set f's pixel; `locate(f)` sets the pixel of a camera whose colour is used, where
// `visible` left it unset.
// Returns false when no camera qualified (the patch became grey).
template <typename Visible, typename Locate>
bool colour_patch(Patch& patch, const multiview::MultiView<ImageRGB<unsigned char>>& views,
                  const std::vector<Point3D>& facing, Visible&& visible, Locate&& locate) {
  Facing best[3];
  for (std::size_t k = 0; k < views.size(); ++k) {
    Facing f;
    f.camera = k;
    f.score = dot(facing[k], patch.normal);
    // Only cameras scoring above 0.5 are blended, and they rank above every other one, so the
    // colour depends on them alone: the visibility test is spared for the rest.
    if (!(f.score > 0.5)) continue;
    if (!visible(k, f)) continue;
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
  for (Facing& f : best)
    if (f.score > 0.5) locate(f);

  const double s1 = best[0].score, s2 = best[1].score, s3 = best[2].score;
  double weights[3] = {1.0, 0.0, 0.0};
  int n = 0;
  if (s1 <= 0.5) {
    patch.r = patch.g = patch.b = kUnseenGrey;
    return false;
  }
  if (s2 <= 0.5) {
    const ImageRGB<unsigned char>& image = views[best[0].camera].get<1>();
    patch.r = channel_at(image, 0, best[0].x, best[0].y);
    patch.g = channel_at(image, 1, best[0].x, best[0].y);
    patch.b = channel_at(image, 2, best[0].x, best[0].y);
    return true;
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
  return true;
}

// Colours a patch that no camera faces with a score above 0.5 from the best-facing camera that
// sees it (`sees(k)`) with a positive score, the first one on ties. A camera that faces the
// patch's back sees it only through the depth tolerance (a thin part, a rim) and gives the colour
// of the other side; blending several cameras at such angles mixes the colours of neighbouring
// parts of the surface. Returns false, leaving the patch alone, when no camera qualifies.
template <typename Sees>
bool colour_patch_seen(Patch& patch, const multiview::MultiView<ImageRGB<unsigned char>>& views,
                       const std::vector<Point3D>& facing, Sees&& sees) {
  Facing best;
  best.score = 0.0;
  bool any = false;
  for (std::size_t k = 0; k < views.size(); ++k) {
    const double score = dot(facing[k], patch.normal);
    if (!(score > best.score) || !sees(k)) continue;
    best.score = score;
    best.camera = k;
    any = true;
  }
  if (!any) return false;
  // A camera that sees the patch has it in its image: the pixel exists.
  project_to_pixel(patch.pos, views[best.camera].get<0>(), best.x, best.y);
  const ImageRGB<unsigned char>& image = views[best.camera].get<1>();
  patch.r = channel_at(image, 0, best.x, best.y);
  patch.g = channel_at(image, 1, best.x, best.y);
  patch.b = channel_at(image, 2, best.x, best.y);
  return true;
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
    for (std::size_t i = b * kBlock; i < end; ++i) {
      const Point3D pos = patches[i].pos;
      colour_patch(
          patches[i], views, facing,
          [&](std::size_t k, Facing& f) {
            return sees(views[k].get<0>(), maps[k], pos, L, f.x, f.y);
          },
          [](Facing&) {});
    }
  });
}

void colour_points(std::vector<Patch>& patches, std::vector<DepthMap>& maps,
                   const multiview::MultiView<ImageRGB<unsigned char>>& views, double L,
                   unsigned threads, std::vector<std::uint8_t>* coloured) {
  check_colour_images("colour_points", views);
  const std::vector<Point3D> facing = facing_vectors(views);
  const std::size_t n = patches.size();
  const std::size_t cameras = views.size();
  // 1. Per camera: its map, then at once the visibility of the points facing it, while the map
  //    is in the cache; one bit per point and camera. A worker reuses one map for its cameras.
  const std::size_t words = (n + 63) / 64;
  std::vector<std::uint64_t> seen(cameras * words, 0);
  // With `coloured`: also whether a camera sees a point at all, whichever way it faces.
  std::vector<std::uint64_t> in_front(coloured != nullptr ? cameras * words : 0, 0);
  const unsigned workers = worker_count(cameras, threads);
  maps.resize(workers);
  std::vector<std::vector<DepthSplat>> splats(workers);
  parallel_for(cameras, threads, [&](std::size_t k, unsigned w) {
    const Camera& cam = views[k].get<0>();
    DepthMap& map = maps[w];
    depth_map_pixel(map, patches, cam, splats[w]);
    // sees() for the points drawn (the others are out of the image or behind the camera): the
    // pixels and depths are those it would compute, and every pixel drawn lies in the map's
    // rectangle.
    std::uint64_t* bits = seen.data() + k * words;
    const double* depth = map.depth.data();
    const long stride = map.rect.width();
    // Both tests go into the bit without branches: whether a point faces the camera and is in
    // front of the map's surface follows the shape, not the order of the points.
    if (coloured == nullptr) {
      for (const DepthSplat& s : splats[w]) {
        const bool faces = dot(facing[k], patches[s.index].normal) > 0.5;
        const double nearest = depth[(s.x - map.rect.x0) + (s.y - map.rect.y0) * stride];
        const bool front = !(nearest + L < s.depth);
        bits[s.index / 64] |= std::uint64_t{faces && front} << (s.index % 64);
      }
    } else {
      std::uint64_t* front_bits = in_front.data() + k * words;
      for (const DepthSplat& s : splats[w]) {
        const bool faces = dot(facing[k], patches[s.index].normal) > 0.5;
        const double nearest = depth[(s.x - map.rect.x0) + (s.y - map.rect.y0) * stride];
        const bool front = !(nearest + L < s.depth);
        bits[s.index / 64] |= std::uint64_t{faces && front} << (s.index % 64);
        front_bits[s.index / 64] |= std::uint64_t{front} << (s.index % 64);
      }
    }
  });
  if (coloured != nullptr) coloured->assign(n, 0);
  // 2. Per point: the same choice and blend as add_colors, with the pixels of the cameras used
  //    projected again (the same arithmetic gives the same pixels).
  constexpr std::size_t kBlock = 1024;  // patches per piece of work
  parallel_for((n + kBlock - 1) / kBlock, threads, [&](std::size_t b, unsigned) {
    const std::size_t end = std::min(n, (b + 1) * kBlock);
    for (std::size_t i = b * kBlock; i < end; ++i) {
      const Point3D pos = patches[i].pos;
      const std::uint64_t bit = std::uint64_t{1} << (i % 64);
      const bool blended = colour_patch(
          patches[i], views, facing,
          [&](std::size_t k, Facing&) { return (seen[k * words + i / 64] & bit) != 0; },
          [&](Facing& f) { project_to_pixel(pos, views[f.camera].get<0>(), f.x, f.y); });
      if (coloured == nullptr) continue;
      if (blended) {
        (*coloured)[i] = kColouredByBlend;
      } else if (colour_patch_seen(patches[i], views, facing, [&](std::size_t k) {
                   return (in_front[k * words + i / 64] & bit) != 0;
                 })) {
        (*coloured)[i] = kColouredBySeeingCameras;
      }
    }
  });
}

}  // namespace tervik
