// The fixture's cameras and silhouettes, compiled with the libraries' optimisation: rendered
// at -O0 under the sanitizers they took most of the sampling tests' time.
#include "hull_fixture.h"

#include <cmath>

namespace tervik::testing {

Camera look_at_camera(const Point3D& centre, const Point3D& target, double f, long width,
                      long height, const Point3D& up) {
  const Point3D forward = (target - centre) / norm(target - centre);
  Point3D right = cross(forward, up);
  right = right / norm(right);
  const Point3D down = cross(forward, right);
  const Point3D rows[3] = {right, down, forward};
  Camera c;
  c.im_width() = width;
  c.im_height() = height;
  const double cx = static_cast<double>(width) / 2.0, cy = static_cast<double>(height) / 2.0;
  const double K[3][3] = {{f, 0, cx}, {0, f, cy}, {0, 0, 1}};
  double t[3];
  for (int r = 0; r < 3; ++r) t[r] = -dot(rows[r], centre);
  for (int r = 0; r < 3; ++r) {
    for (int col = 0; col < 3; ++col) {
      c.rot()[col][r] = rows[r][col];
      c.k()[col][r] = K[r][col];
    }
    c.trans()[r] = t[r];
  }
  // P = K [R | t], stored (column, row).
  for (int r = 0; r < 3; ++r)
    for (int col = 0; col < 4; ++col) {
      double s = 0;
      for (int m = 0; m < 3; ++m) s += K[r][m] * (col < 3 ? rows[m][col] : t[m]);
      c.p()[col][r] = s;
    }
  return c;
}

Camera look_at_camera(const Point3D& centre, const Point3D& target, double f, int width,
                      int height) {
  const Point3D forward = (target - centre) / norm(target - centre);
  const Point3D up = std::abs(forward.z) > 0.99 ? Point3D(0, 1, 0) : Point3D(0, 0, 1);
  return look_at_camera(centre, target, f, long{width}, long{height}, up);
}

Point3D centre_of(const Camera& c) {
  Point3D t(c.trans()[0], c.trans()[1], c.trans()[2]);
  Point3D out;
  for (int col = 0; col < 3; ++col)
    for (int r = 0; r < 3; ++r) out[col] -= c.rot()[col][r] * t[r];
  return out;
}

ImageGray<unsigned char> sphere_silhouette(const Camera& c, const Point3D& centre, double radius) {
  const int w = static_cast<int>(c.im_width()), h = static_cast<int>(c.im_height());
  ImageGray<unsigned char> img(w, h);
  const Point3D eye = centre_of(c);
  const double f = c.k()[0][0], cx = c.k()[2][0], cy = c.k()[2][1];
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Point3D cam((x + 0.5 - cx) / f, (y + 0.5 - cy) / f, 1.0);
      Point3D dir;  // R^T cam
      for (int col = 0; col < 3; ++col)
        for (int r = 0; r < 3; ++r) dir[col] += c.rot()[col][r] * cam[r];
      dir = dir / norm(dir);
      const Point3D to = centre - eye;
      const double along = dot(to, dir);
      const double d2 = norm2(to) - along * along;
      img[x][y] = (along > 0 && d2 <= radius * radius) ? 255 : 0;
    }
  return img;
}

Views sphere_views(const std::vector<Camera>& cams, const Point3D& centre, double radius) {
  Views views(cams.size());
  for (std::size_t i = 0; i < cams.size(); ++i) {
    views[i].get<0>() = cams[i];
    views[i].get<1>() = sphere_silhouette(cams[i], centre, radius);
  }
  return views;
}

}  // namespace tervik::testing
