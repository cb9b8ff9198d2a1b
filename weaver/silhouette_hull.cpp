// One frame's silhouettes, as a test of where the object may lie.
#include "weaver/silhouette_hull.h"

#include <cmath>
#include <utility>

#include "sculptor/options.h"
#include "tervik/exceptions.h"
#include "tervik/imagegray.h"
#include "tervik/multiview.h"
#include "tervik/readimage.h"

namespace tervik {

void SilhouetteHull::add(const Camera& camera, const std::vector<unsigned char>& mask,
                         const std::string& name) {
  View view;
  view.width = long(camera.im_width());
  view.height = long(camera.im_height());
  if (mask.size() != std::size_t(view.width) * std::size_t(view.height))
    throw TervikError("the silhouette " + name + " is not " + std::to_string(view.width) + " x " +
                      std::to_string(view.height) + " pixels, its camera's image size");
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 4; ++k) view.p[4 * r + k] = camera.p().data()[4 * r + k];
  const double* d = camera.distortion().data();
  view.distorted = d[0] != 0.0 || d[1] != 0.0 || d[2] != 0.0 || d[3] != 0.0;
  view.camera = camera;
  // The foreground widened by one pixel: each pixel with a foreground pixel among its eight
  // neighbours or itself (rows first, then columns).
  const long w = view.width, h = view.height;
  std::vector<unsigned char> rows(mask.size(), 0);
  for (long y = 0; y < h; ++y) {
    const unsigned char* row = mask.data() + y * w;
    for (long x = 0; x < w; ++x)
      rows[std::size_t(y * w + x)] = (row[x] >= 128) || (x > 0 && row[x - 1] >= 128) ||
                                     (x + 1 < w && row[x + 1] >= 128);
  }
  view.foreground.assign(rows.size(), 0);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x)
      view.foreground[std::size_t(y * w + x)] = rows[std::size_t(y * w + x)] ||
                                                (y > 0 && rows[std::size_t((y - 1) * w + x)]) ||
                                                (y + 1 < h && rows[std::size_t((y + 1) * w + x)]);
  views_.push_back(std::move(view));
}

bool SilhouetteHull::inside(const Point3D& q) const {
  for (const View& v : views_) {
    const double* p = v.p;
    const double z = p[8] * q.x + p[9] * q.y + p[10] * q.z + p[11];
    if (!(z > 0.0)) continue;
    double x = (p[0] * q.x + p[1] * q.y + p[2] * q.z + p[3]) / z;
    double y = (p[4] * q.x + p[5] * q.y + p[6] * q.z + p[7]) / z;
    if (v.distorted) {
      Point2D seen;
      multiview::ideal_to_distorted(Point2D(x, y), v.camera, seen);
      x = seen.x;
      y = seen.y;
    }
    if (!(x >= 0.0 && y >= 0.0 && x < double(v.width) && y < double(v.height))) continue;
    if (!v.foreground[std::size_t(long(y) * v.width + long(x))]) return false;
  }
  return true;
}

SilhouetteHull read_silhouette_hull(const std::string& calibration, const std::string& silhouettes,
                                    int count, const std::vector<int>& ids, std::int64_t frame) {
  const NameTemplate cam_template(calibration, 1, "calibration template");
  const NameTemplate fg_template(silhouettes, 2, "silhouette template");
  const std::size_t n = ids.empty() ? std::size_t(count) : ids.size();
  // One camera at a time: only the widened masks stay, not every decoded image.
  SilhouetteHull hull;
  for (std::size_t c = 0; c < n; ++c) {
    const std::int64_t number = ids.empty() ? std::int64_t(c) : ids[c];
    Camera camera;
    camera.read_parameters(cam_template.format(number));
    const std::string name = fg_template.format(number, frame);
    ImageGray<unsigned char> image;
    io::ReadImage(name).read(image);
    const Camera& fixed = camera;
    if (image.width() != fixed.im_width() || image.height() != fixed.im_height())
      throw TervikError("the silhouette " + name + " is " + std::to_string(image.width()) + " x " +
                        std::to_string(image.height()) + " pixels, its camera's image " +
                        std::to_string(fixed.im_width()) + " x " + std::to_string(fixed.im_height()));
    const unsigned char* data = image.channel(0).data();
    hull.add(camera, std::vector<unsigned char>(data, data + image.width() * image.height()), name);
  }
  return hull;
}

}  // namespace tervik
