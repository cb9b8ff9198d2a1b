#include "sculptor/sequence.h"

#include <ctime>
#include <iostream>
#include <sstream>
#include <vector>

#include "common/patch.h"
#include "sculptor/frame_postprocess.h"
#include "sculptor/frame_sampling.h"
#include "sculptor/loading.h"
#include "tervik/exceptions.h"

namespace tervik {

std::string no_points_message(const Options& options, std::int64_t frame, bool first) {
  std::ostringstream os;
  const Point3D& a = options.box_min;
  const Point3D& b = options.box_max;
  os << "frame " << frame << " yields no surface point. Check that the box from (" << a.x << ", "
     << a.y << ", " << a.z << ") to (" << b.x << ", " << b.y << ", " << b.z
     << ") holds the object, that its silhouettes show the object as foreground (values above 128) "
        "in at least "
     << kMinCameras << " cameras, and that the calibration files match the images";
  if (!first)
    os << "; or the object moved more than " << options.motion_radius
       << " (8 sampling lengths) since the previous frame";
  return os.str();
}

void run_sequence(const Options& options) {
  ViewSets views = load_cameras(options.numcams, options.camtemplate, std::cout);
  std::vector<Patch> surface;  // the current frame's points; the previous surface of the next
  std::vector<Patch> scratch;
  std::vector<Point3D> seeds;
  std::vector<MultiArray<double, 2>> depth_maps;  // one per camera, refilled every frame
  for (std::int64_t f = options.first_frame; f <= options.last_frame; ++f) {
    std::cout << "Frame " << f << std::endl;
    const std::string out_file = options.outtemplate.format(f);
    load_frame(views, options.fgtemplate, options.imtemplate, f, std::cout);
    const bool first = f == options.first_frame;
    const std::clock_t start = sample_frame(views, options, first, surface, scratch, seeds);
    if (surface.empty()) throw TervikError(no_points_message(options, f, first));

    // ---- Post-processing of the frame ----
    postprocess_frame(views.colour, options.box_min, options.box_max, options.step, start, surface,
                      scratch, depth_maps);

    try {
      write_file_normal_color(out_file, surface);
    } catch (const BacktracedTervikException& e) {
      throw TervikError("cannot write the points of frame " + std::to_string(f) + " to '" +
                        out_file + "': " + e.what());
    }
  }
}

}  // namespace tervik
