// Ray casting of silhouettes and colour images.
#include <algorithm>
#include <cmath>
#include <sstream>

#include "tervik/exceptions.h"
#include "tervik/multiarray.h"
#include "tervik/multiview.h"
#include "tools/scene/render.h"

namespace tervik::scene {
namespace {

constexpr Coord3D<unsigned char> palette[4] = {
    {220, 40, 40}, {40, 190, 60}, {50, 80, 230}, {230, 200, 30}};

// The pixels whose centre rays can hit the object: the rectangle around the projections of its
// bounding box's corners (x0 <= x < x1, y0 <= y < y1). The whole image, and false, when a corner
// does not lie in front of the camera. For a distorted camera the rectangle bounds the ideal
// positions of the candidate pixels' centres instead.
bool candidate_pixels(const Solid& object, const ViewCamera& cam, long& x0, long& x1, long& y0,
                      long& y1) {
  x0 = 0, x1 = cam.width, y0 = 0, y1 = cam.height;
  Point3D lo, hi;
  object.bounding_box(lo, hi);
  double u0 = 1e300, u1 = -1e300, v0 = 1e300, v1 = -1e300;
  for (int corner = 0; corner < 8; ++corner) {
    const Point3D c(corner & 1 ? hi.x : lo.x, corner & 2 ? hi.y : lo.y, corner & 4 ? hi.z : lo.z);
    if (!(cam.depth(c) > 0.0)) return false;
    const Point2D uv = cam.project(c);
    u0 = std::min(u0, uv.x), u1 = std::max(u1, uv.x);
    v0 = std::min(v0, uv.y), v1 = std::max(v1, uv.y);
  }
  // Pixel centres x + 0.5 in [u0, u1], with a pixel to spare for rounding.
  auto clampl = [](double v, long lim) { return std::clamp(long(std::floor(v)), 0L, lim); };
  x0 = clampl(u0 - 1.5, cam.width), x1 = clampl(u1 + 1.5, cam.width);
  y0 = clampl(v0 - 1.5, cam.height), y1 = clampl(v1 + 1.5, cam.height);
  return true;
}

// Maps a pixel of a camera's image to the ideal image position its ray passes through.
class PixelRays {
 public:
  explicit PixelRays(const ViewCamera& cam) : cam_(cam), dist_(4), focal_(2) {
    for (int i = 0; i < 4; ++i) dist_[i] = cam.distortion[i];
    focal_[0] = cam.k[0][0];
    focal_[1] = cam.k[1][1];
  }
  // The ideal position of the centre of pixel (x, y): the centre itself without distortion.
  Point2D ideal(long x, long y) const {
    const Point2D centre(double(x) + 0.5, double(y) + 0.5);
    if (!cam_.distorted()) return centre;
    return multiview::undistorter(centre, dist_, Point2D(cam_.k[0][2], cam_.k[1][2]), focal_);
  }

 private:
  const ViewCamera& cam_;
  MultiArray<double, 1> dist_, focal_;
};

// Calls visit(x, y, direction) for every pixel whose ray can hit the object, with the world
// direction of that pixel's ray.
template <typename Visit>
void for_candidate_rays(const Solid& object, const ViewCamera& cam, Visit&& visit) {
  long x0, x1, y0, y1;
  const bool bounded = candidate_pixels(object, cam, x0, x1, y0, y1);
  const PixelRays rays(cam);
  if (!cam.distorted()) {
    for (long y = y0; y < y1; ++y)
      for (long x = x0; x < x1; ++x) {
        const Point2D c = rays.ideal(x, y);
        visit(x, y, cam.ray_direction(c.x, c.y));
      }
    return;
  }
  for (long y = 0; y < cam.height; ++y)
    for (long x = 0; x < cam.width; ++x) {
      const Point2D c = rays.ideal(x, y);
      if (bounded && !(c.x >= double(x0) && c.x <= double(x1) && c.y >= double(y0) &&
                       c.y <= double(y1)))
        continue;
      visit(x, y, cam.ray_direction(c.x, c.y));
    }
}

}  // namespace

Coord3D<unsigned char> checker_color(const ColorPattern& pattern, const Point3D& q) {
  const long ix = static_cast<long>(std::floor(q.x / pattern.cell));
  const long iy = static_cast<long>(std::floor(q.y / pattern.cell));
  const long iz = static_cast<long>(std::floor(q.z / pattern.cell));
  // Steps of 1, 2 and 3 along x, y and z: neighbouring cells always differ.
  long index = (ix + 2 * iy + 3 * iz) % 4;
  if (index < 0) index += 4;
  return palette[index];
}

Coord3D<unsigned char> surface_color(const ColorPattern& pattern, const Point3D& q,
                                     const Point3D& n) {
  const Point3D light = pattern.light / norm(pattern.light);
  const double shade = pattern.ambient + pattern.diffuse * std::max(0.0, dot(n, light));
  const Coord3D<unsigned char> base = checker_color(pattern, q);
  Coord3D<unsigned char> out;
  for (int c = 0; c < 3; ++c)
    out[c] = static_cast<unsigned char>(std::clamp(std::lround(base[c] * shade), 0L, 255L));
  return out;
}

void render_view(const Solid& object, const ViewCamera& cam, const ColorPattern& pattern,
                 ImageGray<unsigned char>& silhouette, ImageRGB<unsigned char>& color) {
  const long w = cam.width, h = cam.height;
  silhouette = ImageGray<unsigned char>(w, h);
  color = ImageRGB<unsigned char>(w, h);
  unsigned char* sil = silhouette.channel(0).data();
  unsigned char* rgb[3] = {color.channel(0).data(), color.channel(1).data(),
                           color.channel(2).data()};
  for (long i = 0; i < w * h; ++i)
    for (int k = 0; k < 3; ++k) rgb[k][i] = background_color[k];
  const Point3D origin = cam.centre();
  for_candidate_rays(object, cam, [&](long x, long y, const Point3D& dir) {
    const long at = x + y * w;  // memory order: row after row
    double t = 0.0;
    Point3D n;
    Coord3D<unsigned char> c = background_color;
    if (object.cast_ray(origin, dir, t, n)) {
      sil[at] = 255;
      c = surface_color(pattern, origin + dir * t, n);
    }
    for (int k = 0; k < 3; ++k) rgb[k][at] = c[k];
  });
}

ImageGray<unsigned char> render_silhouette(const Solid& object, const ViewCamera& cam) {
  const long w = cam.width, h = cam.height;
  ImageGray<unsigned char> silhouette(w, h);
  unsigned char* sil = silhouette.channel(0).data();
  const Point3D origin = cam.centre();
  for_candidate_rays(object, cam, [&](long x, long y, const Point3D& dir) {
    if (object.ray_hits(origin, dir)) sil[x + y * w] = 255;
  });
  return silhouette;
}

void check_distortion(const ViewCamera& cam) {
  if (!cam.distorted()) return;
  const PixelRays rays(cam);
  try {
    // The border pixels, where the distortion moves positions most.
    for (long x = 0; x < cam.width; ++x) {
      rays.ideal(x, 0);
      rays.ideal(x, cam.height - 1);
    }
    for (long y = 0; y < cam.height; ++y) {
      rays.ideal(0, y);
      rays.ideal(cam.width - 1, y);
    }
  } catch (const TervikError& e) {
    std::ostringstream os;
    os << "lens distortion k1 k2 p1 p2 = " << cam.distortion[0] << " " << cam.distortion[1] << " "
       << cam.distortion[2] << " " << cam.distortion[3] << " is too strong for a " << cam.width
       << " x " << cam.height << " image with focal length " << cam.k[0][0] << ": " << e.what();
    throw TervikError(os.str());
  }
}

}  // namespace tervik::scene
