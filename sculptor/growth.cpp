#include "sculptor/growth.h"

#include "sculptor/expansion.h"

namespace tervik {

void high_res_from_seeds(const SilhouetteViews& silhouettes, const std::vector<Point3D>& seeds,
                         std::vector<Patch>& out, short min_cameras, short tolerance,
                         long long npoints, double step) {
  SurfaceSampler sampler(silhouettes, out, min_cameras, tolerance, npoints, step);
  sampler.refine_starts(
      seeds.size(), [&seeds](std::size_t i) -> const Point3D& { return seeds[i]; }, 2 * step);
  sampler.expand();
  sampler.finish();
}

}  // namespace tervik
