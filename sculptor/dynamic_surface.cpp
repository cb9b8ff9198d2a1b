#include "sculptor/dynamic_surface.h"

#include "sculptor/expansion.h"
#include "tervik/exceptions.h"

namespace tervik {

void dynamic_surface(const SilhouetteViews& silhouettes, std::vector<Patch>& out,
                     const std::vector<Patch>& previous, const StageParameters& params,
                     std::ostream& progress, SamplingBuffers* buffers) {
  TERVIK_CHECK(&out != &previous,
               "dynamic_surface: the output vector must not be the previous surface");
  SurfaceSampler sampler(silhouettes, out, params, progress, {}, buffers);
  sampler.refine_starts(
      previous.size(), [&previous](std::size_t i) -> const Point3D& { return previous[i].pos; },
      params.motion_radius);
  sampler.expand();
  sampler.finish();
}

}  // namespace tervik
