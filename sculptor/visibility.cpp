#include "sculptor/visibility.h"

#include <sstream>

#include "sculptor/depth_maps.h"
#include "tervik/exceptions.h"

namespace tervik {

std::vector<Point3D> facing_vectors(const multiview::MultiView<ImageRGB<unsigned char>>& views) {
  std::vector<Point3D> out;
  out.reserve(views.size());
  for (const auto& view : views) {
    // Elements (0, 2), (1, 2), (2, 2) of rot(): its third row, stored row after row.
    const double* r = view.get<0>().rot().data();
    out.push_back(Point3D(-r[6], -r[7], -r[8]));
  }
  return out;
}

void check_colour_images(const std::string& caller,
                         const multiview::MultiView<ImageRGB<unsigned char>>& views) {
  for (std::size_t k = 0; k < views.size(); ++k) {
    const Camera& cam = views[k].get<0>();
    const ImageRGB<unsigned char>& image = views[k].get<1>();
    TERVIK_CHECK(image.width() >= cam.im_width() && image.height() >= cam.im_height(),
                 caller << ": colour image " << k << " is " << image.width() << " x "
                        << image.height() << ", smaller than its camera's " << cam.im_width()
                        << " x " << cam.im_height());
  }
}

void check_visibility_inputs(const std::string& caller,
                             const std::vector<DepthMap>& maps,
                             const multiview::MultiView<ImageRGB<unsigned char>>& views) {
  TERVIK_CHECK(maps.size() == views.size(), caller << ": " << maps.size() << " depth maps for "
                                                   << views.size() << " cameras");
  for (std::size_t k = 0; k < views.size(); ++k) {
    const Camera& cam = views[k].get<0>();
    TERVIK_CHECK(maps[k].width == cam.im_width() && maps[k].height == cam.im_height(),
                 caller << ": depth map " << k << " is " << maps[k].width << " x "
                        << maps[k].height << ", its camera " << cam.im_width() << " x "
                        << cam.im_height());
  }
  check_colour_images(caller, views);
}

bool sees(const Camera& cam, const DepthMap& map, const Point3D& X, double tol, long& x,
          long& y) {
  if (!project_to_pixel(X, cam, x, y)) return false;
  const double d = multiview::point_depth(X, cam);
  // A point behind the camera projects to a finite position but cannot be seen.
  if (d <= 0) return false;
  // Hidden when more than tol behind the nearest point rendered at this pixel.
  return !(map.at(x, y) + tol < d);
}

}  // namespace tervik
