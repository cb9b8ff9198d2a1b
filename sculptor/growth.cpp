#include "sculptor/growth.h"

#include "sculptor/expansion.h"

namespace tervik {

void high_res_from_seeds(const SilhouetteViews& silhouettes, const std::vector<Point3D>& seeds,
                         std::vector<Patch>& out, const StageParameters& params,
                         std::ostream& progress, SamplingBuffers* buffers) {
  SurfaceSampler sampler(silhouettes, out, params, progress, {}, buffers);
  sampler.refine_starts(
      seeds.size(), [&seeds](std::size_t i) -> const Point3D& { return seeds[i]; },
      2 * params.step);
  sampler.expand();
  sampler.finish();
}

}  // namespace tervik
