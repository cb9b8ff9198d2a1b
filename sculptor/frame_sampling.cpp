#include "sculptor/frame_sampling.h"

#include <iostream>

#include "sculptor/dynamic_surface.h"
#include "sculptor/growth.h"
#include "sculptor/seeds.h"

namespace tervik {

double seconds_since(std::clock_t start) {
  return static_cast<double>(std::clock() - start) / 1000000.0;
}

void print_timing(std::ostream& out, const char* label, std::clock_t start) {
  const double t = seconds_since(start);
  out << label << 1.0 / t << " fps or " << t << " s/frame" << std::endl;
}

std::clock_t sample_frame(const ViewSets& views, const Options& options, bool first,
                          std::vector<Patch>& surface, std::vector<Patch>& scratch,
                          std::vector<Point3D>& seeds) {
  const std::clock_t start = std::clock();
  scratch.clear();
  // The stages test the silhouettes' pixels directly. Registering SilhouetteClasses here gives
  // the same points, but measured on 8 to 16 cameras of 640 x 480 to 1280 x 960 pixels its
  // per-frame set-up cost more processor time than the classes saved.
  if (first) {
    seeds.clear();
    lowres_seeds(views.coarse, seeds, options.box_min, options.box_max, kMinCameras, kTolerance,
                 options.npoints);
    high_res_from_seeds(views.silhouettes, seeds, surface, kMinCameras, kTolerance,
                        options.npoints, options.step);
  } else {
    dynamic_surface(views.silhouettes, scratch, surface, options.box_min, options.box_max,
                    kMinCameras, kTolerance, options.npoints, options.step,
                    options.motion_radius);
    surface.swap(scratch);  // the tracked points replace the previous surface
    scratch.clear();
  }
  print_timing(std::cerr, "Only points: ", start);
  return start;
}

}  // namespace tervik
