// Per-camera visibility of the faces: a z-buffer of the mesh, then a depth, silhouette and
// orientation test of four points per face.
#include "tools/texture/visibility.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "tervik/multiview.h"
#include "tervik/multiview_auxiliar.h"

namespace tervik::texture {

namespace {

bool has_distortion(const Camera& c) {
  for (int i = 0; i < 4; ++i)
    if (c.distortion()[i] != 0.0) return true;
  return false;
}

void project(const Camera& camera, bool distorted, const Point3D& X, Point2D& x) {
  if (distorted)
    multiview::fast_world2image(X, camera, x);
  else
    multiview::world_to_image_undistorted(X, camera, x);
}

}  // namespace

Projection project_mesh(const Camera& camera, const std::vector<Point3D>& positions) {
  Projection p;
  p.pixels.resize(positions.size());
  p.depths.resize(positions.size());
  const bool distorted = has_distortion(camera);
  for (std::size_t i = 0; i < positions.size(); ++i) {
    p.depths[i] = multiview::point_depth(positions[i], camera);
    project(camera, distorted, positions[i], p.pixels[i]);
  }
  return p;
}

std::vector<float> face_quality(const TriMesh& mesh, const View& view, const Projection& proj,
                                double tolerance, double min_cosine, bool front_only,
                                std::vector<float>& zbuf) {
  const Camera& camera = view.camera;
  const long w = camera.im_width(), h = camera.im_height();
  const bool distorted = has_distortion(camera);
  // The z-buffer holds the nearest depth per pixel centre; depth is interpolated through its
  // reciprocal, which is linear across a face's image. It covers only the pixels around the
  // vertices in front of the camera (every face drawn lies among them); elsewhere nothing is
  // drawn, as if the depth there were infinite.
  double min_x = 1e300, min_y = 1e300, max_x = -1e300, max_y = -1e300;
  for (std::size_t i = 0; i < proj.pixels.size(); ++i)
    if (proj.depths[i] > 0.0) {
      const Point2D& p = proj.pixels[i];
      min_x = std::min(min_x, p.x), max_x = std::max(max_x, p.x);
      min_y = std::min(min_y, p.y), max_y = std::max(max_y, p.y);
    }
  const auto first = [](double v, long lim) {  // as the rasteriser's box, by floor
    return std::clamp(long(std::floor(std::clamp(v, -1e9, 1e9) - 0.5)), 0L, lim);
  };
  const auto end = [](double v, long lim) {
    return std::clamp(long(std::ceil(std::clamp(v, -1e9, 1e9) - 0.5)) + 1, 0L, lim);
  };
  const long bx0 = first(min_x, w), bx1 = std::max(bx0, end(max_x, w));
  const long by0 = first(min_y, h), by1 = std::max(by0, end(max_y, h));
  const long bw = bx1 - bx0;
  zbuf.assign(std::size_t(bw) * std::size_t(by1 - by0), std::numeric_limits<float>::infinity());
  const auto depth_at = [&](long x, long y) -> float& {
    return zbuf[std::size_t(y - by0) * std::size_t(bw) + std::size_t(x - bx0)];
  };
  const Point3D eye = multiview::camera_position(camera);
  // Without lens distortion a face in front of the camera turns towards it exactly when its image
  // winds against det(M), M the projection's left 3 x 3 block: the image's signed area is
  // det(M) (A - eye) . n over the product of the corners' depths.
  const double* pm = camera.p().data();
  const double det = pm[0] * (pm[5] * pm[10] - pm[6] * pm[9]) - pm[1] * (pm[4] * pm[10] - pm[6] * pm[8]) +
                     pm[2] * (pm[4] * pm[9] - pm[5] * pm[8]);
  for (const Face& f : mesh.faces) {
    const double d0 = proj.depths[f[0]], d1 = proj.depths[f[1]], d2 = proj.depths[f[2]];
    if (!(d0 > 0.0 && d1 > 0.0 && d2 > 0.0)) continue;
    if (front_only && !distorted) {
      const Point2D &a = proj.pixels[f[0]], &b = proj.pixels[f[1]], &c = proj.pixels[f[2]];
      if (!(((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x)) * det < 0.0)) continue;
    } else if (front_only) {
      const Point3D& A = mesh.positions[f[0]];
      if (!(dot(cross(mesh.positions[f[1]] - A, mesh.positions[f[2]] - A), eye - A) > 0.0)) continue;
    }
    const double n0 = 1.0 / d0, n1 = 1.0 / d1, n2 = 1.0 / d2;
    rasterize(proj.pixels[f[0]], proj.pixels[f[1]], proj.pixels[f[2]], w, h,
              [&](long x, long y, double b0, double b1, double b2) {
                const float z = float(1.0 / (b0 * n0 + b1 * n1 + b2 * n2));
                float& slot = depth_at(x, y);
                slot = z < slot ? z : slot;
              });
  }
  const unsigned char* sil = view.silhouette.width() > 0 ? view.silhouette.channel(0).data() : nullptr;
  std::vector<float> quality(mesh.faces.size(), 0.0f);
  static const double weights[4][3] = {
      {1.0 / 3, 1.0 / 3, 1.0 / 3}, {0.6, 0.2, 0.2}, {0.2, 0.6, 0.2}, {0.2, 0.2, 0.6}};
  for (std::size_t fi = 0; fi < mesh.faces.size(); ++fi) {
    const Face& f = mesh.faces[fi];
    const Point2D& a = proj.pixels[f[0]];
    const Point2D& b = proj.pixels[f[1]];
    const Point2D& c = proj.pixels[f[2]];
    if (!(proj.depths[f[0]] > 0.0 && proj.depths[f[1]] > 0.0 && proj.depths[f[2]] > 0.0)) continue;
    bool inside = true;
    for (const Point2D* p : {&a, &b, &c})
      inside = inside && p->x >= 0.0 && p->y >= 0.0 && p->x < double(w) && p->y < double(h);
    if (!inside) continue;
    const Point3D& A = mesh.positions[f[0]];
    const Point3D& B = mesh.positions[f[1]];
    const Point3D& C = mesh.positions[f[2]];
    const Point3D n = cross(B - A, C - A);
    const Point3D sight = eye - (A + B + C) / 3.0;
    const double nn = norm(n) * norm(sight);
    if (!(nn > 0.0)) continue;
    const double cosine = dot(n, sight) / nn;
    if (!(cosine >= min_cosine)) continue;
    bool seen = true;
    for (const auto& wt : weights) {
      const Point3D X = A * wt[0] + B * wt[1] + C * wt[2];
      Point2D x;
      project(camera, distorted, X, x);
      if (!(x.x >= 0.0 && x.y >= 0.0 && x.x < double(w) && x.y < double(h))) {
        seen = false;
        break;
      }
      const long px = long(x.x), py = long(x.y);
      const std::size_t at = std::size_t(py) * std::size_t(w) + std::size_t(px);
      if (sil && sil[at] < 128) {
        seen = false;
        break;
      }
      const bool drawn = px >= bx0 && px < bx1 && py >= by0 && py < by1;
      if (drawn && multiview::point_depth(X, camera) > double(depth_at(px, py)) + tolerance) {
        seen = false;
        break;
      }
    }
    if (!seen) continue;
    const double area = 0.5 * std::abs((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x));
    quality[fi] = float(area * cosine);
  }
  return quality;
}

}  // namespace tervik::texture
