#include "sculptor/silhouette.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <new>
#include <sstream>
#include <vector>

#include "tervik/exceptions.h"

namespace tervik {

namespace {

constexpr unsigned char kForeground = 128;  // projection_test: this value and above
constexpr unsigned char kReducedForeground = 128;  // downscale_silhouette: above this value

// True when the projection (u, v) truncated toward zero is a pixel of a width x height image.
// Comparing the reals avoids converting infinite or huge values to integers: trunc(u) >= 0 exactly
// when u > -1, and trunc(u) < width exactly when u < width.
inline bool in_frame(const Point2D& uv, double width, double height) {
  return uv.x > -1.0 && uv.x < width && uv.y > -1.0 && uv.y < height;
}

}  // namespace

ImageGray<unsigned char> downscale_silhouette(const ImageGray<unsigned char>& image, short factor) {
  TERVIK_CHECK(factor >= 1, "downscale_silhouette: the factor must be at least 1, not " << factor);
  const std::size_t f = static_cast<std::size_t>(factor);
  const std::size_t in_w = image.width();
  const std::size_t out_w = in_w / f;
  const std::size_t out_h = image.height() / f;
  ImageGray<unsigned char> out(out_w, out_h);
  const unsigned char* src = image.channel(0).data();
  unsigned char* dst = out.channel(0).data();
  // A block is foreground when its largest value is. Per band of f rows, the column maxima
  // first (a loop the compiler vectorises), then the maximum of each block's f columns.
  const std::size_t used_w = out_w * f;
  std::vector<unsigned char> top(used_w);
  for (std::size_t j = 0; j < out_h; ++j) {
    const unsigned char* band = src + j * f * in_w;
    std::copy_n(band, used_w, top.data());
    for (std::size_t y = 1; y < f; ++y) {
      const unsigned char* row = band + y * in_w;
      for (std::size_t x = 0; x < used_w; ++x) top[x] = std::max(top[x], row[x]);
    }
    for (std::size_t i = 0; i < out_w; ++i) {
      const unsigned char* block = top.data() + i * f;
      dst[i + j * out_w] = *std::max_element(block, block + f) > kReducedForeground ? 255 : 0;
    }
  }
  return out;
}

bool projection_test(const SilhouetteViews& views, const Point3D& point, short& inside,
                     short& outside, short tolerance) {
  bool outline = false;
  Point2D uv;
  for (std::size_t i = 0; i < views.size(); ++i) {
    const Camera& camera = views[i].get<0>();
    multiview::world_to_image_undistorted(point, camera, uv);
    if (!in_frame(uv, camera.im_width(), camera.im_height())) continue;
    const long x = static_cast<long>(uv.x);
    const long y = static_cast<long>(uv.y);
    const ImageGray<unsigned char>& image = views[i].get<1>();
    const long w = static_cast<long>(image.width());
    const long h = static_cast<long>(image.height());
    TERVIK_CHECK(x < w && y < h, "projection_test: the silhouette of camera "
                                     << i << " is " << w << " x " << h << " but its camera is "
                                     << camera.im_width() << " x " << camera.im_height());
    const unsigned char* px = image.channel(0).data();
    ++inside;
    if (px[x + y * w] < kForeground) {
      ++outside;
      if (outside > tolerance) return outline;
      continue;
    }
    if (!outline) {
      outline = (x > 0 && px[(x - 1) + y * w] < kForeground) ||
                (y > 0 && px[x + (y - 1) * w] < kForeground) ||
                (x + 1 < w && px[(x + 1) + y * w] < kForeground) ||
                (y + 1 < h && px[x + (y + 1) * w] < kForeground);
    }
  }
  return outline;
}

namespace {

// Per-pixel class of a silhouette, one byte per pixel.
enum class PixelClass : std::uint8_t {
  unknown = 0,     // not classified yet
  background = 1,  // value below 128
  inside = 2,      // foreground, and every 4-neighbour within the image is foreground
  outline = 3,     // foreground with a background 4-neighbour within the image
};

// The class of pixel (x, y) of the w x h silhouette `px` (never unknown).
inline PixelClass pixel_class(const unsigned char* px, std::int64_t w, std::int64_t h,
                              std::int64_t x, std::int64_t y) {
  const unsigned char* at = px + x + y * w;
  if (*at < kForeground) return PixelClass::background;
  const bool edge = (x > 0 && at[-1] < kForeground) || (y > 0 && at[-w] < kForeground) ||
                    (x + 1 < w && at[1] < kForeground) || (y + 1 < h && at[w] < kForeground);
  return edge ? PixelClass::outline : PixelClass::inside;
}

}  // namespace

SilhouetteClasses::SilhouetteClasses(const SilhouetteViews& views) : views_(&views) {
  storage_.reserve(views.size());
  table_.reserve(views.size());
  for (std::size_t i = 0; i < views.size(); ++i) {
    const Camera& camera = views[i].get<0>();
    const ImageGray<unsigned char>& image = views[i].get<1>();
    TERVIK_CHECK(image.width() >= camera.im_width() && image.height() >= camera.im_height(),
                 "the silhouette of camera " << i << " is " << image.width() << " x "
                                             << image.height() << " but its camera is "
                                             << camera.im_width() << " x "
                                             << camera.im_height());
    storage_.emplace_back(image.width() * image.height(), 0);  // every class unknown
    std::uint8_t* classes = storage_.back().data();
    View view;
    std::copy_n(camera.p().data(), 12, view.p);
    view.cam_width = static_cast<double>(camera.im_width());
    view.cam_height = static_cast<double>(camera.im_height());
    view.classes = classes;
    view.pixels = image.channel(0).data();
    view.width = static_cast<std::int64_t>(image.width());
    view.height = static_cast<std::int64_t>(image.height());
    table_.push_back(view);
  }
}

bool SilhouetteClasses::test(const Point3D& point, short& inside, short& outside,
                             short tolerance) const {
  const std::size_t n = table_.size();
  TERVIK_CHECK(views_->size() == n, "SilhouetteClasses: the view set changed size from "
                                        << n << " to " << views_->size()
                                        << " cameras after its silhouettes were classified");
  if (n == 0) return false;
  bool outline = false;
  // Visits camera i; true when the point is rejected there and the test must stop.
  auto visit = [&](std::size_t i) {
    const View& view = table_[i];
    // The projection of world_to_image_undistorted, term for term, from the copy of P.
    const double* p = view.p;
    const double inv_w = 1.0 / (p[8] * point.x + p[9] * point.y + p[10] * point.z + p[11]);
    const Point2D uv((p[0] * point.x + p[1] * point.y + p[2] * point.z + p[3]) * inv_w,
                     (p[4] * point.x + p[5] * point.y + p[6] * point.z + p[7]) * inv_w);
    if (!in_frame(uv, view.cam_width, view.cam_height)) return false;
    const std::int64_t x = static_cast<std::int64_t>(uv.x);
    const std::int64_t y = static_cast<std::int64_t>(uv.y);
    ++inside;
    std::uint8_t& slot = view.classes[x + y * view.width];
    if (slot == static_cast<std::uint8_t>(PixelClass::unknown))
      slot = static_cast<std::uint8_t>(pixel_class(view.pixels, view.width, view.height, x, y));
    const auto c = static_cast<PixelClass>(slot);
    if (c == PixelClass::outline) {
      outline = true;
    } else if (c == PixelClass::background) {
      ++outside;
      if (outside > tolerance) {
        first_ = i;
        return true;
      }
    }
    return false;
  };
  // The camera that rejected the previous point goes first, then the others in list order. The
  // order matters only for a point that some camera puts on background beyond the tolerance, and
  // such a point exceeds it in any order; every other point visits all cameras and gets the same
  // counts and flag.
  const std::size_t start = first_ < n ? first_ : 0;
  if (visit(start)) return outline;
  for (std::size_t i = 0; i < n; ++i)
    if (i != start && visit(i)) return outline;
  return outline;
}

}  // namespace tervik
