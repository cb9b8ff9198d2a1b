// Scene options, the in-memory ground truth and the sculptor command line.
#include <algorithm>
#include <cmath>

#include "tervik/exceptions.h"
#include "tools/common/capture_files.h"
#include "tools/scene/scene.h"

namespace tervik::scene {
namespace {

// Throws TervikError with `message` unless `ok`.
void require(bool ok, const std::string& message) {
  if (!ok) throw TervikError(message);
}

using capture::shell_quote;
using capture::shortest;

}  // namespace

void validate(const SceneOptions& o) {
  using std::to_string;
  require(o.cameras >= 4 && o.cameras <= 64, "cameras must be 4 to 64, not " + to_string(o.cameras));
  require(o.width >= 16 && o.width <= 8192, "width must be 16 to 8192, not " + to_string(o.width));
  require(o.height >= 16 && o.height <= 8192,
          "height must be 16 to 8192, not " + to_string(o.height));
  require(o.focal == 0.0 || (o.focal > 0.0 && o.focal <= 1e6),
          "focal length must be positive and at most 1e6 pixels, not " + shortest(o.focal));
  require(o.first_frame >= 0 && o.first_frame <= 1000000,
          "first frame must be 0 to 1000000, not " + to_string(o.first_frame));
  require(o.frames >= 1 && o.frames <= 1000, "frames must be 1 to 1000, not " + to_string(o.frames));
  require(o.points >= 1 && o.points <= 2147483647L,
          "points must be 1 to 2147483647, not " + to_string(o.points));
  require(o.threads >= 1 && o.threads <= 64, "threads must be 1 to 64, not " + to_string(o.threads));
  for (double d : o.distortion)
    require(std::isfinite(d) && std::fabs(d) <= 10.0,
            "distortion coefficients must be finite and at most 10 in size, not " + shortest(d));
  require(o.pattern_cell == 0.0 || (o.pattern_cell >= 0.001 && o.pattern_cell <= 10.0),
          "pattern cell must be 0.001 to 10 world units, not " + shortest(o.pattern_cell));
}

GroundTruth build_scene(const SceneOptions& options) {
  validate(options);
  GroundTruth truth;
  truth.object = options.object;
  truth.first_frame = options.first_frame;
  truth.last_frame = options.first_frame + options.frames - 1;
  truth.pattern.cell = options.pattern_cell > 0.0 ? options.pattern_cell
                       : options.object == ObjectKind::sphere ? 0.125 : 0.1;
  Point3D lo, hi;
  for (long f = truth.first_frame; f <= truth.last_frame; ++f) {
    truth.solids.push_back(object_at_frame(options.object, f));
    Point3D a, b;
    truth.solids.back().bounding_box(a, b);
    if (f == truth.first_frame) { lo = a; hi = b; }
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::min(lo[k], a[k]);
      hi[k] = std::max(hi[k], b[k]);
    }
  }
  // A margin of 4% of the diagonal, then outward to multiples of 0.01 so that the box prints
  // exactly in a few digits.
  const double margin = 0.04 * norm(hi - lo);
  for (int k = 0; k < 3; ++k) {
    truth.box_min[k] = std::floor((lo[k] - margin) * 100.0) / 100.0;
    truth.box_max[k] = std::ceil((hi[k] + margin) * 100.0) / 100.0;
  }
  const double focal = options.focal > 0.0 ? options.focal : 1.25 * double(options.width);
  truth.cameras = place_cameras(options.cameras, options.layout, options.width, options.height,
                                focal, (truth.box_min + truth.box_max) * 0.5,
                                0.5 * norm(truth.box_max - truth.box_min));
  for (ViewCamera& cam : truth.cameras) cam.distortion = options.distortion;
  // Every camera has the same intrinsics, so one check covers them all.
  if (!truth.cameras.empty()) check_distortion(truth.cameras.front());
  return truth;
}

std::vector<std::string> GeneratedScene::sculptor_arguments() const {
  return {std::to_string(cameras), camera_template,  image_template,
          silhouette_template,     output_template,  std::to_string(first_frame),
          std::to_string(last_frame), shortest(box_min.x), shortest(box_min.y),
          shortest(box_min.z),     shortest(box_max.x), shortest(box_max.y),
          shortest(box_max.z),     std::to_string(points)};
}

std::string GeneratedScene::sculptor_command(const std::string& program) const {
  std::string out = shell_quote(program);
  for (const std::string& a : sculptor_arguments()) out += " " + shell_quote(a);
  return out;
}

Camera to_camera(const ViewCamera& v) {
  Camera c;
  c.im_width() = v.width;
  c.im_height() = v.height;
  // Library matrices are indexed (column, row).
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      c.rot()[col][row] = v.r[row][col];
      c.k()[col][row] = v.k[row][col];
    }
    c.trans()[row] = v.t[row];
    for (int col = 0; col < 4; ++col) c.p()[col][row] = v.p[row][col];
  }
  for (int i = 0; i < 4; ++i) c.distortion()[i] = v.distortion[i];
  return c;
}

}  // namespace tervik::scene
