#include "sculptor/static_surface.h"

#include <ostream>

#include "sculptor/expansion.h"
#include "sculptor/random.h"
#include "tervik/exceptions.h"

namespace tervik {

void static_surface(const SilhouetteViews& silhouettes, std::vector<Patch>& out,
                    const StageParameters& params, std::ostream& progress) {
  static_surface(silhouettes, out, params, progress, kStaticStallAttempts);
}

void static_surface(const SilhouetteViews& silhouettes, std::vector<Patch>& out,
                    const StageParameters& params, std::ostream& progress,
                    long long stall_attempts) {
  const Point3D& box_min = params.box_min;
  const Point3D& box_max = params.box_max;
  TERVIK_CHECK(stall_attempts >= 1,
               "static_surface: the stall bound must be at least 1, got " << stall_attempts);
  SurfaceSampler sampler(silhouettes, out, params, progress);

  // Phase 1: uniform seeding in the box.
  const long long wanted = sampler.targets().starts;
  long long accepted = 0;
  if (wanted >= 1) {
    const Point3D scale = (box_max - box_min) * (1.0 / 2147483647);
    long long since_last = 0;
    while (accepted < wanted && since_last < stall_attempts) {
      const int r1 = sampler_rand();
      const int r2 = sampler_rand();
      const int r3 = sampler_rand();
      const Point3D p(box_min.x + r3 * scale.x, box_min.y + r2 * scale.y,
                      box_min.z + r1 * scale.z);
      if (sampler.attempt(p)) {
        ++accepted;
        since_last = 0;
      } else {
        ++since_last;
      }
    }
  }
  sampler.print_progress();
  if (accepted < wanted) {
    progress << "WARNING: uniform seeding gave up after " << stall_attempts
              << " attempts in a row without a centre: " << accepted << " of " << wanted
              << " first centres found (check the box, the silhouettes and the calibration)"
              << std::endl;
  }

  // Phase 2 and the finish are those of the other samplers.
  sampler.expand();
  sampler.finish();
}

}  // namespace tervik
