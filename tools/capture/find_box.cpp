// Coarse voxel hull of the silhouettes and the box around it.
#include "tools/capture/find_box.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "tervik/exceptions.h"
#include "tervik/multiview.h"
#include "tervik/multiview_auxiliar.h"
#include "tools/common/capture_files.h"

namespace tervik::capture {

ForegroundCounts::ForegroundCounts(const ImageGray<unsigned char>& silhouette)
    : width_(long(silhouette.width())), height_(long(silhouette.height())),
      sums_(std::size_t(width_ + 1) * std::size_t(height_ + 1), 0) {
  const unsigned char* pixels = silhouette.channel(0).data();
  const long stride = width_ + 1;
  for (long y = 0; y < height_; ++y) {
    long row = 0;
    for (long x = 0; x < width_; ++x) {
      row += pixels[y * width_ + x] >= kForeground ? 1 : 0;
      sums_[(y + 1) * stride + x + 1] = std::int32_t(sums_[y * stride + x + 1] + row);
    }
  }
}

long ForegroundCounts::count(long x0, long y0, long x1, long y1) const {
  x0 = std::clamp(x0, 0L, width_), x1 = std::clamp(x1, 0L, width_);
  y0 = std::clamp(y0, 0L, height_), y1 = std::clamp(y1, 0L, height_);
  if (x0 >= x1 || y0 >= y1) return 0;
  const long s = width_ + 1;
  return long(sums_[y1 * s + x1]) - sums_[y0 * s + x1] - sums_[y1 * s + x0] + sums_[y0 * s + x0];
}

namespace {

// The world direction of the camera's optical axis: the third row of R.
Point3D optical_axis(const Camera& c) {
  return Point3D(c.rot()[0][2], c.rot()[1][2], c.rot()[2][2]);
}

// Depth of X in camera coordinates: the third row of R applied to X, plus t's third element.
double camera_depth(const Camera& c, const Point3D& x) {
  return dot(optical_axis(c), x) + c.trans()[2];
}

// Half-extents in pixels of a rectangle around `uv`, the projection of a point at depth z
// (camera coordinates), that holds the projection of the ball of `radius` around the point
// (z > radius). A displacement d of the point moves its image by (fx dx + skew dy -
// (u - cx) dz) / (z + dz) along x and (fy dy - (v - cy) dz) / (z + dz) along y.
Point2D ball_reach(const Camera& c, const Point2D& uv, double radius, double z) {
  const double fx = std::abs(c.k()[0][0]), skew = std::abs(c.k()[1][0]), fy = std::abs(c.k()[1][1]);
  const double du = std::abs(uv.x - c.k()[2][0]), dv = std::abs(uv.y - c.k()[2][1]);
  const double s = radius / (z - radius);
  return Point2D(s * (fx + skew + du) + 1.0, s * (fy + dv) + 1.0);
}

// The point nearest to all lines centre + s * axis in the least-squares sense; false when the
// axes are (nearly) parallel.
bool nearest_to_axes(const std::vector<Camera>& cameras, Point3D& out) {
  double a[3][3] = {}, b[3] = {};
  for (const Camera& c : cameras) {
    const Point3D d = optical_axis(c) / norm(optical_axis(c));
    const Point3D o = multiview::camera_position(c);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        const double m = (i == j ? 1.0 : 0.0) - d[i] * d[j];
        a[i][j] += m;
        b[i] += m * o[j];
      }
  }
  const auto det3 = [](const double m[3][3]) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  };
  const double det = det3(a);
  if (!(std::abs(det) > 1e-9 * double(cameras.size() * cameras.size() * cameras.size())))
    return false;
  for (int k = 0; k < 3; ++k) {  // Cramer's rule
    double m[3][3];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m[i][j] = j == k ? b[i] : a[i][j];
    out[k] = det3(m) / det;
  }
  return true;
}

}  // namespace

void viewing_region(const std::vector<Camera>& cameras, Point3D& lo, Point3D& hi) {
  TERVIK_CHECK(!cameras.empty(), "viewing_region: no cameras");
  Point3D mean;
  for (const Camera& c : cameras) mean += multiview::camera_position(c);
  mean = mean / double(cameras.size());
  Point3D centre;
  if (!nearest_to_axes(cameras, centre)) {
    // Parallel axes: look one camera spread (at least one unit) ahead of the cameras.
    Point3D axis;
    double spread = 0.0;
    for (const Camera& c : cameras) {
      axis += optical_axis(c) / norm(optical_axis(c));
      spread = std::max(spread, norm(multiview::camera_position(c) - mean));
    }
    centre = mean + axis / norm(axis) * std::max(spread, 1.0);
  }
  double reach = 0.0;
  for (const Camera& c : cameras) reach = std::max(reach, norm(multiview::camera_position(c) - centre));
  lo = centre - Point3D(reach, reach, reach);
  hi = centre + Point3D(reach, reach, reach);
  for (const Camera& c : cameras) {
    const Point3D p = multiview::camera_position(c);
    for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
  }
}

namespace {

}  // namespace

VoxelView view_voxel(const std::vector<Camera>& cameras,
                     const std::vector<ForegroundCounts>& silhouettes, const Point3D& centre,
                     double size) {
  const double radius = 0.5 * size * std::sqrt(3.0);  // of the ball around the voxel
  const Point3D half(0.5 * size, 0.5 * size, 0.5 * size);
  VoxelView out;
  int& seen = out.seen;
  const auto carved = [&] {
    out.carved = true;
    return out;
  };
  for (std::size_t i = 0; i < cameras.size(); ++i) {
    const Camera& c = cameras[i];
    const double z = camera_depth(c, centre);
    if (!(z > 0.0)) continue;
    Point2D uv;
    multiview::world_to_image_undistorted(centre, c, uv);
    if (!(uv.x >= 0.0 && uv.y >= 0.0 && uv.x < double(silhouettes[i].width()) &&
          uv.y < double(silhouettes[i].height())))
      continue;
    ++seen;
    if (z <= radius) continue;  // the voxel reaches the camera: it cannot be carved
    const long x = long(uv.x), y = long(uv.y);
    if (silhouettes[i].count(x, y, x + 1, y + 1) > 0) {  // centre on foreground
      ++out.centre_foreground;
      continue;
    }
    // Cheap first: the rectangle that holds the projection of the ball around the voxel (and
    // so the voxel's projection). Empty there means empty everywhere.
    const Point2D reach = ball_reach(c, uv, radius, z);
    if (silhouettes[i].count(long(std::floor(uv.x - reach.x)), long(std::floor(uv.y - reach.y)),
                             long(std::floor(uv.x + reach.x)) + 1,
                             long(std::floor(uv.y + reach.y)) + 1) == 0)
      return carved();
    // The rectangle of pixels that the projections of the voxel's corners span; it holds the
    // voxel's whole projection, which is their convex hull.
    double u0 = uv.x, u1 = uv.x, v0 = uv.y, v1 = uv.y;
    for (int corner = 0; corner < 8; ++corner) {
      Point2D q;
      multiview::world_to_image_undistorted(box_corner(centre - half, centre + half, corner), c, q);
      u0 = std::min(u0, q.x), u1 = std::max(u1, q.x);
      v0 = std::min(v0, q.y), v1 = std::max(v1, q.y);
    }
    if (silhouettes[i].count(long(std::floor(u0)), long(std::floor(v0)), long(std::floor(u1)) + 1,
                             long(std::floor(v1)) + 1) == 0)
      return carved();
  }
  return out;
}

namespace {

// True when the cubic voxel of edge `size` around `centre` is kept (see the header).
bool voxel_kept(const std::vector<Camera>& cameras, const std::vector<ForegroundCounts>& silhouettes,
                const Point3D& centre, double size, int min_cameras) {
  const VoxelView v = view_voxel(cameras, silhouettes, centre, size);
  return !v.carved && v.seen >= min_cameras;
}

}  // namespace

HullBounds carve_hull(const std::vector<Camera>& cameras,
                      const std::vector<ForegroundCounts>& silhouettes, const Point3D& lo,
                      const Point3D& hi, int cells, int min_cameras) {
  TERVIK_CHECK(cameras.size() == silhouettes.size() && cells > 0,
               "carve_hull: " << cameras.size() << " cameras, " << silhouettes.size()
                              << " silhouettes, " << cells << " cells");
  const Point3D extent = hi - lo;
  const double size = std::max({extent.x, extent.y, extent.z}) / cells;
  // range[k] = first and last voxel index along axis k that may still hold kept voxels.
  long range[3][2];
  for (int k = 0; k < 3; ++k)
    range[k][0] = 0, range[k][1] = std::max(1L, long(std::ceil(extent[k] / size - 1e-9))) - 1;
  const auto kept = [&](const long index[3]) {
    const Point3D centre = lo + Point3D((double(index[0]) + 0.5) * size,
                                        (double(index[1]) + 0.5) * size,
                                        (double(index[2]) + 0.5) * size);
    return voxel_kept(cameras, silhouettes, centre, size, min_cameras);
  };
  // Only the bounds matter: close in on them slab by slab from each side, so that the interior
  // is never visited. A slab is searched only within the ranges found so far.
  HullBounds out;
  out.voxel_size = size;
  for (int k = 0; k < 3; ++k) {
    const int a = (k + 1) % 3, b = (k + 2) % 3;
    for (int side = 0; side < 2; ++side) {
      const long step = side == 0 ? 1 : -1;
      bool found = false;
      for (long i = range[k][side]; !found && i >= range[k][0] && i <= range[k][1]; i += step) {
        long index[3];
        index[k] = i;
        for (index[a] = range[a][0]; !found && index[a] <= range[a][1]; ++index[a])
          for (index[b] = range[b][0]; !found && index[b] <= range[b][1]; ++index[b])
            found = kept(index);
        if (found) range[k][side] = i;
      }
      if (!found) return out;  // nothing kept: empty
    }
  }
  out.empty = false;
  for (int k = 0; k < 3; ++k) {
    out.lo[k] = lo[k] + double(range[k][0]) * size;
    out.hi[k] = lo[k] + double(range[k][1] + 1) * size;
  }
  return out;
}

HullBounds frame_hull(const std::vector<Camera>& cameras,
                      const std::vector<ImageGray<unsigned char>>& silhouettes,
                      const FindBoxOptions& options) {
  TERVIK_CHECK(cameras.size() == silhouettes.size(),
               "frame_hull: " << cameras.size() << " cameras but " << silhouettes.size()
                              << " silhouettes");
  if (int(cameras.size()) < options.min_cameras)
    throw TervikError("the hull needs at least " + std::to_string(options.min_cameras) +
                      " cameras (the minimum that must see a point), not " +
                      std::to_string(cameras.size()));
  std::vector<ForegroundCounts> counts;
  for (std::size_t i = 0; i < cameras.size(); ++i) {
    if (silhouettes[i].width() != cameras[i].im_width() ||
        silhouettes[i].height() != cameras[i].im_height())
      throw TervikError("the silhouette of camera " + std::to_string(i) + " is " +
                        std::to_string(silhouettes[i].width()) + " x " +
                        std::to_string(silhouettes[i].height()) + " but the camera is " +
                        std::to_string(cameras[i].im_width()) + " x " +
                        std::to_string(cameras[i].im_height()));
    counts.emplace_back(silhouettes[i]);
  }
  Point3D lo, hi;
  viewing_region(cameras, lo, hi);
  HullBounds hull = carve_hull(cameras, counts, lo, hi, 64, options.min_cameras);
  // Refine over the previous bounds (with a voxel to spare) until the grid no longer shrinks
  // by half; two refinements at most.
  for (int pass = 0; pass < 3 && !hull.empty; ++pass) {
    const Point3D spare(hull.voxel_size, hull.voxel_size, hull.voxel_size);
    const Point3D a = hull.lo - spare, b = hull.hi + spare;
    const HullBounds finer = carve_hull(cameras, counts, a, b, options.resolution, options.min_cameras);
    const Point3D old_extent = b - a, new_extent = finer.hi - finer.lo;
    hull = finer;
    if (hull.empty || std::max({new_extent.x, new_extent.y, new_extent.z}) >
                          0.5 * std::max({old_extent.x, old_extent.y, old_extent.z}))
      break;
  }
  return hull;
}

HullBounds merge(const HullBounds& a, const HullBounds& b) {
  if (a.empty) return b;
  if (b.empty) return a;
  HullBounds out = a;
  for (int k = 0; k < 3; ++k) out.lo[k] = std::min(a.lo[k], b.lo[k]), out.hi[k] = std::max(a.hi[k], b.hi[k]);
  out.voxel_size = std::max(a.voxel_size, b.voxel_size);
  return out;
}

void padded_box(const HullBounds& hull, double pad, Point3D& lo, Point3D& hi) {
  TERVIK_CHECK(!hull.empty, "padded_box: the hull is empty");
  const Point3D extent = hull.hi - hull.lo;
  const double longest = std::max({extent.x, extent.y, extent.z});
  const double step = std::pow(10.0, std::floor(std::log10(longest)) - 2.0);
  // Multiples of the step as the decimal numbers they stand for: n * step is often a digit off
  // (-51 * 0.01 = -0.51000000000000001), which would then be printed in full.
  const int decimals = std::max(0, 2 - int(std::floor(std::log10(longest))));
  const auto decimal = [&](double multiple) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, multiple * step);
    return std::strtod(buf, nullptr);
  };
  for (int k = 0; k < 3; ++k) {
    lo[k] = decimal(std::floor((hull.lo[k] - pad * extent[k]) / step));
    hi[k] = decimal(std::ceil((hull.hi[k] + pad * extent[k]) / step));
  }
}

std::string touched_borders(const ImageGray<unsigned char>& sil) {
  const long w = long(sil.width()), h = long(sil.height());
  const unsigned char* p = sil.channel(0).data();
  bool side[4] = {};  // left, right, top, bottom
  for (long y = 0; y < h; ++y) {
    side[0] = side[0] || p[y * w] >= kForeground;
    side[1] = side[1] || p[y * w + w - 1] >= kForeground;
  }
  for (long x = 0; x < w; ++x) {
    side[2] = side[2] || p[x] >= kForeground;
    side[3] = side[3] || p[(h - 1) * w + x] >= kForeground;
  }
  static const char* names[4] = {"left", "right", "top", "bottom"};
  std::string out;
  for (int s = 0; s < 4; ++s) {
    if (!side[s]) continue;
    if (!out.empty()) out += ", ";
    out += names[s];
  }
  return out;
}

}  // namespace tervik::capture
