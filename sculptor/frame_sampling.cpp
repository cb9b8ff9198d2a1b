#include "sculptor/frame_sampling.h"

#include <ostream>

#include "sculptor/dynamic_surface.h"
#include "sculptor/growth.h"
#include "sculptor/seeds.h"

namespace tervik {

void sample_frame(const ViewSets& views, const StageParameters& params, bool first,
                  const std::vector<Patch>& previous, std::vector<Patch>& out,
                  std::vector<Point3D>& seeds, const FrameTimer& timer, std::ostream& progress,
                  std::ostream& timing, SamplingBuffers* buffers) {
  // The samplers test candidates through a HullGrid over the box (sculptor/hull_grid.h), which
  // gives projection_test's answers. Per-pixel SilhouetteClasses give the same points too, but
  // measured on 8 to 16 cameras of 640 x 480 to 1280 x 960 pixels their per-frame set-up cost
  // more processor time than the classes saved.
  if (first) {
    seeds.clear();
    lowres_seeds(views.coarse, seeds, params, progress);
    high_res_from_seeds(views.silhouettes, seeds, out, params, progress, buffers);
  } else {
    dynamic_surface(views.silhouettes, out, previous, params, progress, buffers);
  }
  timer.print(timing, "Only points: ");
}

}  // namespace tervik
