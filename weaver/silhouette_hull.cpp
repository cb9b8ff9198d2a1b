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

SilhouetteHull::SilhouetteHull(std::vector<Camera> cameras,
                               const std::vector<std::vector<unsigned char>>& masks,
                               const std::vector<std::string>& names) {
  views_.resize(cameras.size());
  for (std::size_t c = 0; c < cameras.size(); ++c) {
    View& view = views_[c];
    view.width = long(cameras[c].im_width());
    view.height = long(cameras[c].im_height());
    if (masks[c].size() != std::size_t(view.width) * std::size_t(view.height))
      throw TervikError("ERROR: the silhouette " + names[c] + " is not " + std::to_string(view.width) +
                        " x " + std::to_string(view.height) + " pixels, its camera's image size");
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < 4; ++k) view.p[4 * r + k] = cameras[c].p().data()[4 * r + k];
    const double* d = cameras[c].distortion().data();
    view.distorted = d[0] != 0.0 || d[1] != 0.0 || d[2] != 0.0 || d[3] != 0.0;
    view.camera = cameras[c];
    // The foreground widened by one pixel: each pixel with a foreground pixel among its eight
    // neighbours or itself.
    const long w = view.width, h = view.height;
    std::vector<unsigned char> rows(masks[c].size(), 0);
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x) {
        const unsigned char* row = masks[c].data() + y * w;
        rows[std::size_t(y * w + x)] = (row[x] >= 128) || (x > 0 && row[x - 1] >= 128) ||
                                       (x + 1 < w && row[x + 1] >= 128);
      }
    view.foreground.assign(rows.size(), 0);
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x)
        view.foreground[std::size_t(y * w + x)] = rows[std::size_t(y * w + x)] ||
                                                  (y > 0 && rows[std::size_t((y - 1) * w + x)]) ||
                                                  (y + 1 < h && rows[std::size_t((y + 1) * w + x)]);
  }
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
  std::vector<Camera> cameras(n);
  std::vector<std::vector<unsigned char>> masks(n);
  std::vector<std::string> names(n);
  for (std::size_t c = 0; c < n; ++c) {
    const std::int64_t number = ids.empty() ? std::int64_t(c) : ids[c];
    cameras[c].read_parameters(cam_template.format(number));
    names[c] = fg_template.format(number, frame);
    ImageGray<unsigned char> image;
    io::ReadImage(names[c]).read(image);
    const Camera& camera = cameras[c];
    if (image.width() != camera.im_width() || image.height() != camera.im_height())
      throw TervikError("ERROR: the silhouette " + names[c] + " is " + std::to_string(image.width()) +
                        " x " + std::to_string(image.height()) + " pixels, its camera's image " +
                        std::to_string(camera.im_width()) + " x " + std::to_string(camera.im_height()));
    const unsigned char* data = image.channel(0).data();
    masks[c].assign(data, data + image.width() * image.height());
  }
  return SilhouetteHull(std::move(cameras), masks, names);
}

}  // namespace tervik
