#include "sculptor/hull_grid.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>

#include "sculptor/parallel.h"

namespace tervik {

namespace {

constexpr unsigned char kForeground = 128;  // as projection_test: this value and above

// A camera's class for a cell, two bits per camera.
constexpr unsigned kUnknown = 0;     // project the point
constexpr unsigned kOutOfFrame = 1;  // no point of the cell falls in the image
constexpr unsigned kBackground = 2;  // every point falls on background
constexpr unsigned kInterior = 3;    // every point falls on foreground without an outline

constexpr std::uint64_t kClassified = std::uint64_t{1} << 63;


// The cell is widened by this share of its side, so that a point whose cell index was rounded
// into it is still inside the box that was classified.
constexpr double kCellWidening = 1e-6;

// Projected coordinates are widened by this share of the magnitudes summed in the projection,
// far above the rounding of both the bound and the projection itself, plus a fixed amount.
constexpr double kRelativeMargin = 1e-9;
constexpr double kPixelMargin = 1e-6;

// What projection_test finds for `point` in one camera: out of its frame, on background or on
// foreground; on foreground, and when `outline` is still false, it becomes true where a
// 4-neighbour pixel is background. The same arithmetic as projection_test, term for term.
enum class Pixel { kOutOfFrame, kBackground, kForeground };

template <typename View>
[[gnu::always_inline]] inline Pixel project(const View& view, const Point3D& point,
                                           bool& outline) {
  const double* p = view.p;
  const double inv_w = 1.0 / (p[8] * point.x + p[9] * point.y + p[10] * point.z + p[11]);
  const double u = (p[0] * point.x + p[1] * point.y + p[2] * point.z + p[3]) * inv_w;
  const double v = (p[4] * point.x + p[5] * point.y + p[6] * point.z + p[7]) * inv_w;
  if (!(u > -1.0 && u < view.cam_width && v > -1.0 && v < view.cam_height))
    return Pixel::kOutOfFrame;
  const std::int64_t x = static_cast<std::int64_t>(u);
  const std::int64_t y = static_cast<std::int64_t>(v);
  const std::int64_t w = view.width;
  const unsigned char* px = view.pixels;
  if (px[x + y * w] < kForeground) return Pixel::kBackground;
  if (!outline) {
    outline = (x > 0 && px[(x - 1) + y * w] < kForeground) ||
              (y > 0 && px[x + (y - 1) * w] < kForeground) ||
              (x + 1 < w && px[(x + 1) + y * w] < kForeground) ||
              (y + 1 < view.height && px[x + (y + 1) * w] < kForeground);
  }
  return Pixel::kForeground;
}

// Folds pixels [xa, xb] of `row` (0 <= xa <= xb < width) into `all_fg` (cleared by a background
// pixel) and `any_fg` (set by a foreground pixel), eight pixels per 64-bit word: whole words
// first, then one last word that may overlap them, or one masked word for a short span.
inline void scan_row(const unsigned char* row, std::int64_t width, std::int64_t xa,
                     std::int64_t xb, bool& all_fg, bool& any_fg) {
  constexpr std::uint64_t kTopBits = 0x8080808080808080ull;  // set for 128 and above
  const std::int64_t len = xb - xa + 1;
  std::uint64_t word;
  if (len >= 8) {
    for (std::int64_t x = xa;; x += 8) {
      if (x + 8 > xb + 1) x = xb - 7;
      std::memcpy(&word, row + x, sizeof word);
      word &= kTopBits;
      all_fg = all_fg && word == kTopBits;
      any_fg = any_fg || word != 0;
      if (x + 8 == xb + 1) break;
    }
  } else if (width >= 8) {
    const std::int64_t start = std::min(xa, width - 8);
    std::memcpy(&word, row + start, sizeof word);
    const std::uint64_t mask = (((std::uint64_t{1} << (8 * len)) - 1) << (8 * (xa - start))) &
                               kTopBits;
    word &= mask;
    all_fg = all_fg && word == mask;
    any_fg = any_fg || word != 0;
  } else {
    for (std::int64_t x = xa; x <= xb; ++x) {
      const bool fg = row[x] >= kForeground;
      all_fg = all_fg && fg;
      any_fg = any_fg || fg;
    }
  }
}

// The tests that count cameras by their bits are built twice, for processors with the POPCNT
// instruction and for the others; the program takes the build for the processor it runs on
// when it starts (an indirect function of the C library). ThreadSanitizer builds take the
// default alone: their instrumented resolver would run before the sanitizer is ready.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__ELF__) && \
    !defined(__SANITIZE_THREAD__)
#define TERVIK_POPCOUNT_CLONES __attribute__((target_clones("popcnt", "default")))
#else
#define TERVIK_POPCOUNT_CLONES
#endif

// The number of set bits of x: the POPCNT instruction in the build for it, a library routine
// in the other.
[[gnu::always_inline]] inline int bit_count(std::uint64_t x) { return __builtin_popcountll(x); }

// Footprints larger than this many pixels are not scanned (the camera stays unknown).
constexpr std::int64_t kMaxFootprint = 1024;

}  // namespace

HullGrid::HullGrid(const SilhouetteViews& views, const Point3D& box_min, const Point3D& box_max,
                   double cell, unsigned threads)
    : views_(views) {
  const Point3D extent = box_max - box_min;
  enabled_ = views.size() <= kMaxCameras && cell > 0.0 && std::isfinite(cell) &&
             std::isfinite(extent.x) && std::isfinite(extent.y) &&
             std::isfinite(extent.z) && extent.x > 0 && extent.y > 0 && extent.z > 0;
  for (std::size_t i = 0; i < views.size() && enabled_; ++i) {
    const Camera& camera = views[i].get<0>();
    const ImageGray<unsigned char>& image = views[i].get<1>();
    // A silhouette smaller than its camera makes projection_test throw: left to it.
    if (image.width() < camera.im_width() || image.height() < camera.im_height()) {
      enabled_ = false;
      break;
    }
    View view;
    std::copy_n(camera.p().data(), 12, view.p);
    for (int r = 0; r < 3; ++r)
      view.abs_row[r] =
          std::abs(view.p[4 * r]) + std::abs(view.p[4 * r + 1]) + std::abs(view.p[4 * r + 2]);
    view.cam_width = static_cast<double>(camera.im_width());
    view.cam_height = static_cast<double>(camera.im_height());
    view.pixels = image.channel(0).data();
    view.width = static_cast<std::int64_t>(image.width());
    view.height = static_cast<std::int64_t>(image.height());
    table_.push_back(view);
  }
  if (!enabled_) return;
  // The block summaries, one camera per piece.
  blocks_.resize(table_.size());
  parallel_for(table_.size(), threads, [this](std::size_t i, unsigned) {
    blocks_[i] = SilhouetteBlocks(table_[i].pixels, table_[i].width, table_[i].height);
  });
  origin_ = box_min;
  // Cells of side `cell`, larger when the box would need too many.
  for (;;) {
    const double counts[3] = {std::ceil(extent.x / cell), std::ceil(extent.y / cell),
                              std::ceil(extent.z / cell)};
    const double total = counts[0] * counts[1] * counts[2];
    if (total <= static_cast<double>(kMaxCells)) {
      nx_ = static_cast<std::int64_t>(counts[0]);
      ny_ = static_cast<std::int64_t>(counts[1]);
      nz_ = static_cast<std::int64_t>(counts[2]);
      break;
    }
    cell *= std::cbrt(total / static_cast<double>(kMaxCells)) * 1.01;
  }
  for (std::size_t i = 0; i < table_.size(); ++i) table_[i].blocks = &blocks_[i];
  // Per camera, kRelativeMargin times the magnitudes summed in each row of the projection, for
  // any point of the grid (|x| + |y| + |z| at most `reach`).
  const Point3D far(origin_.x + static_cast<double>(nx_) * cell, origin_.y + static_cast<double>(ny_) * cell,
                    origin_.z + static_cast<double>(nz_) * cell);
  double reach = cell;
  for (int a = 0; a < 3; ++a) reach += std::max(std::abs(box_min[a]), std::abs(far[a]));
  for (View& view : table_) {
    view.sum_u = kRelativeMargin * (view.abs_row[0] * reach + std::abs(view.p[3]));
    view.sum_v = kRelativeMargin * (view.abs_row[1] * reach + std::abs(view.p[7]));
    view.sum_w = kRelativeMargin * (view.abs_row[2] * reach + std::abs(view.p[11]));
  }
  // The low bit of every camera's pair.
  for (std::size_t i = 0; i < table_.size(); ++i) camera_bits_ |= std::uint64_t{1} << (2 * i);
  cell_ = cell;
  inv_cell_ = 1.0 / cell;
  extent_[0] = static_cast<double>(nx_);
  extent_[1] = static_cast<double>(ny_);
  extent_[2] = static_cast<double>(nz_);
  cells_.assign(static_cast<std::size_t>(nx_ * ny_ * nz_), 0);
}

unsigned HullGrid::classify_camera(const View& view, const Point3D& c) const {
  const double* p = view.p;
  const double e = cell_ * (0.5 + kCellWidening);  // half side, widened
  const double nu = p[0] * c.x + p[1] * c.y + p[2] * c.z + p[3];
  const double nv = p[4] * c.x + p[5] * c.y + p[6] * c.z + p[7];
  const double nw = p[8] * c.x + p[9] * c.y + p[10] * c.z + p[11];
  // The denominator over the cell: W(c + d) = nw + w.d, |d_k| <= e.
  const double lo = nw - view.abs_row[2] * e;
  if (!(lo > 0.0)) return kUnknown;  // the cell reaches the focal plane (or NaN)
  // For X = c + d: u(X) - u(c) = ((a - u(c) w) . d) / W(X), with a and w the first three
  // entries of P's rows u and w, so |u(X) - u(c)| <= |a - u(c) w|_1 e / lo; likewise for v.
  const double inv = 1.0 / nw;
  const double uc = nu * inv, vc = nv * inv;
  const double inv_lo = 1.0 / lo;
  const double du = (std::abs(p[0] - uc * p[8]) + std::abs(p[1] - uc * p[9]) +
                     std::abs(p[2] - uc * p[10])) * e * inv_lo;
  const double dv = (std::abs(p[4] - vc * p[8]) + std::abs(p[5] - vc * p[9]) +
                     std::abs(p[6] - vc * p[10])) * e * inv_lo;
  // Rounding margin: a share of the magnitudes summed in the projections (the residual
  // nu - uc nw of the rounded uc included), far above the rounding of both computations.
  const double mu = du + (view.sum_u + std::abs(uc) * view.sum_w) * inv_lo + kPixelMargin;
  const double mv = dv + (view.sum_v + std::abs(vc) * view.sum_w) * inv_lo + kPixelMargin;
  const double umin = uc - mu, umax = uc + mu, vmin = vc - mv, vmax = vc + mv;
  // projection_test counts a camera when -1 < u < width and -1 < v < height.
  if (umax <= -1.0 || umin >= view.cam_width || vmax <= -1.0 || vmin >= view.cam_height)
    return kOutOfFrame;
  if (!(umin > -1.0 && umax < view.cam_width && vmin > -1.0 && vmax < view.cam_height))
    return kUnknown;
  // Every point's pixel lies in [x0, x1] x [y0, y1] (truncation is monotonic).
  const std::int64_t x0 = static_cast<std::int64_t>(umin), x1 = static_cast<std::int64_t>(umax);
  const std::int64_t y0 = static_cast<std::int64_t>(vmin), y1 = static_cast<std::int64_t>(vmax);
  // The blocks under the footprint and its ring of 4-neighbours (cut at the image border) all
  // lie within `reach` blocks of the centre's block; they share its class when that block's
  // nearest block of another class is farther.
  constexpr std::int64_t kSide = SilhouetteBlocks::kSide;
  const std::int64_t bx0 = std::max<std::int64_t>(x0 - 1, 0) / kSide;
  const std::int64_t bx1 = std::min<std::int64_t>(x1 + 1, view.width - 1) / kSide;
  const std::int64_t by0 = std::max<std::int64_t>(y0 - 1, 0) / kSide;
  const std::int64_t by1 = std::min<std::int64_t>(y1 + 1, view.height - 1) / kSide;
  const std::int64_t bx = ((x0 + x1) / 2) / kSide, by = ((y0 + y1) / 2) / kSide;
  const std::int64_t reach = std::max(std::max(bx - bx0, bx1 - bx), std::max(by - by0, by1 - by));
  const SilhouetteBlocks& blocks = *view.blocks;
  if (reach < blocks.distance(bx, by))  // never for a mixed block
    return blocks.block_class(bx, by) == SilhouetteBlocks::kForeground ? kInterior : kBackground;
  // Near another class: the pixels themselves, for a footprint of moderate size.
  if ((x1 - x0 + 1) * (y1 - y0 + 1) > kMaxFootprint) return kUnknown;
  const std::int64_t w = view.width;
  const unsigned char* px = view.pixels;
  bool all_fg = true, any_fg = false;
  for (std::int64_t y = y0; y <= y1; ++y) scan_row(px + y * w, w, x0, x1, all_fg, any_fg);
  if (!any_fg) return kBackground;
  if (!all_fg) return kUnknown;
  // All foreground: interior when no 4-neighbour within the image is background.
  if (y0 > 0) scan_row(px + (y0 - 1) * w, w, x0, x1, all_fg, any_fg);
  if (y1 + 1 < view.height) scan_row(px + (y1 + 1) * w, w, x0, x1, all_fg, any_fg);
  for (std::int64_t y = y0; y <= y1 && all_fg; ++y) {
    const unsigned char* row = px + y * w;
    if ((x0 > 0 && row[x0 - 1] < kForeground) || (x1 + 1 < w && row[x1 + 1] < kForeground))
      all_fg = false;
  }
  return all_fg ? kInterior : kUnknown;
}

std::uint64_t HullGrid::classify(std::int64_t ix, std::int64_t iy, std::int64_t iz,
                                 short tolerance) const {
  const Point3D centre(origin_.x + (static_cast<double>(ix) + 0.5) * cell_,
                       origin_.y + (static_cast<double>(iy) + 0.5) * cell_,
                       origin_.z + (static_cast<double>(iz) + 0.5) * cell_);
  std::uint64_t classes = kClassified;
  int background = 0;
  for (std::size_t i = 0; i < table_.size(); ++i) {
    const unsigned c = classify_camera(table_[i], centre);
    classes |= static_cast<std::uint64_t>(c) << (2 * i);
    // Every test in the cell stops at this camera at the latest: the cameras after it keep
    // the unknown class, which is never wrong, only slower, and which they never need unless
    // a test with a larger tolerance comes.
    if (c == kBackground && ++background > tolerance) break;
  }
  return classes;
}

void HullGrid::prepare(const Point3D& point, short tolerance) {
  if (!enabled_) return;
  const double fx = (point.x - origin_.x) * inv_cell_;
  const double fy = (point.y - origin_.y) * inv_cell_;
  const double fz = (point.z - origin_.z) * inv_cell_;
  if (!(fx >= 0.0 && fx < extent_[0] && fy >= 0.0 && fy < extent_[1] && fz >= 0.0 &&
        fz < extent_[2]))
    return;
  const std::int64_t ix = static_cast<std::int64_t>(fx);
  const std::int64_t iy = static_cast<std::int64_t>(fy);
  const std::int64_t iz = static_cast<std::int64_t>(fz);
  std::atomic_ref<std::uint64_t> word(cells_[static_cast<std::size_t>(ix + nx_ * (iy + ny_ * iz))]);
  if (!(word.load(std::memory_order_relaxed) & kClassified))
    word.store(classify(ix, iy, iz, tolerance), std::memory_order_relaxed);
}

[[gnu::always_inline]] inline bool HullGrid::cell_word(const Point3D& point, short tolerance,
                                                    std::uint64_t& slot) {
  if (!enabled_) return false;
  const double fx = (point.x - origin_.x) * inv_cell_;
  const double fy = (point.y - origin_.y) * inv_cell_;
  const double fz = (point.z - origin_.z) * inv_cell_;
  if (!(fx >= 0.0 && fx < extent_[0] && fy >= 0.0 && fy < extent_[1] && fz >= 0.0 &&
        fz < extent_[2]))
    return false;
  const std::int64_t ix = static_cast<std::int64_t>(fx);
  const std::int64_t iy = static_cast<std::int64_t>(fy);
  const std::int64_t iz = static_cast<std::int64_t>(fz);
  std::atomic_ref<std::uint64_t> word(cells_[static_cast<std::size_t>(ix + nx_ * (iy + ny_ * iz))]);
  slot = word.load(std::memory_order_relaxed);
  if (!(slot & kClassified)) {
    slot = classify(ix, iy, iz, tolerance);
    word.store(slot, std::memory_order_relaxed);
    ++classified_;
  }
  return true;
}

TERVIK_POPCOUNT_CLONES
bool HullGrid::admits(const Point3D& point, short min_cameras, short tolerance,
                      bool outline_needed) {
  // The verdict on test()'s counts. test() stops at the (tolerance + 1)-th background camera,
  // and then the verdict is no whatever came before, so it depends on the full counts alone
  // and the cameras may be visited in any order.
  const auto verdict = [&](bool outline, int inside, int outside) {
    return outline_needed ? outline && inside >= min_cameras && outside == tolerance
                          : inside >= min_cameras && outside <= tolerance;
  };
  std::uint64_t slot = 0;
  if (!cell_word(point, tolerance, slot)) {
    short inside = 0, outside = 0;
    const bool outline = projection_test(views_, point, inside, outside, tolerance);
    return verdict(outline, inside, outside);
  }
  ++tests_;
  const std::uint64_t lo = slot & camera_bits_;
  const std::uint64_t hi = (slot >> 1) & camera_bits_;
  std::uint64_t unknown = ~(lo | hi) & camera_bits_;
  int outside = bit_count(hi & ~lo);
  if (outside > tolerance) return false;
  // Only an unknown camera can show an outline, count a background pixel or fail to count.
  if (outline_needed && unknown == 0) return false;
  int inside = bit_count(lo & hi) + outside;
  int open = bit_count(unknown);  // unknown cameras not yet projected
  if (inside + open < min_cameras) return false;
  bool outline = false;
  // The camera that rejected the last point goes first: neighbouring candidates tend to fall
  // off the hull in the same view.
  std::uint64_t next = unknown & reject_bit_;
  if (next == 0) next = unknown & (~unknown + 1);  // the lowest
  while (next != 0) {
    unknown &= ~next;
    --open;
    ++projections_;
    const View& view = table_[static_cast<std::size_t>(std::countr_zero(next)) >> 1];
    const Pixel pixel = project(view, point, outline);
    if (pixel == Pixel::kOutOfFrame) {
      if (inside + open < min_cameras) return false;
    } else {
      ++inside;
      if (pixel == Pixel::kBackground && ++outside > tolerance) {
        reject_bit_ = next;
        return false;
      }
    }
    next = unknown & (~unknown + 1);
  }
  return verdict(outline, inside, outside);
}

TERVIK_POPCOUNT_CLONES
bool HullGrid::test(const Point3D& point, short& inside, short& outside, short tolerance) {
  // Outside the grid (or not a number): the plain test. The cell's word is read and written
  // atomically: prepare() may classify the same cell on another thread at the same time (and
  // then writes the same word).
  std::uint64_t slot = 0;
  if (!cell_word(point, tolerance, slot))
    return projection_test(views_, point, inside, outside, tolerance);
  // Two bits per camera: lo set for out of frame and interior, hi set for background and
  // interior. Only unknown and background cameras are visited, in list order; the interior
  // cameras before the camera where the test stops (all of them when it does not) are counted
  // in one go, as each adds 1 to `inside` and nothing else.
  const std::uint64_t lo = slot & camera_bits_;
  const std::uint64_t hi = (slot >> 1) & camera_bits_;
  const std::uint64_t interior = lo & hi;
  const std::uint64_t background = hi & ~lo;
  std::uint64_t visit = ~lo & camera_bits_;  // unknown or background
  ++tests_;
  bool outline = false;
  while (visit != 0) {
    const int bit = std::countr_zero(visit);
    visit &= visit - 1;
    const std::uint64_t below = (std::uint64_t{1} << bit) - 1;
    if ((background >> bit) & 1) {
      ++inside;
      ++outside;
      if (outside > tolerance) {
        inside = static_cast<short>(inside + bit_count(interior & below));
        return outline;
      }
      continue;
    }
    // Unknown: projection_test's step for this camera, term for term.
    ++projections_;
    const Pixel pixel = project(table_[static_cast<std::size_t>(bit) >> 1], point, outline);
    if (pixel == Pixel::kOutOfFrame) continue;
    ++inside;
    if (pixel == Pixel::kBackground) {
      ++outside;
      if (outside > tolerance) {
        inside = static_cast<short>(inside + bit_count(interior & below));
        return outline;
      }
    }
  }
  inside = static_cast<short>(inside + bit_count(interior));
  return outline;
}

}  // namespace tervik

