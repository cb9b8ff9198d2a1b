#include "sculptor/seeds.h"

#include <ostream>

#include "sculptor/expansion.h"
#include "sculptor/random.h"
#include "tervik/exceptions.h"

namespace tervik {

void lowres_seeds(const SilhouetteViews& views, std::vector<Point3D>& seeds,
                  const StageParameters& params, std::ostream& progress) {
  lowres_seeds(views, seeds, params, progress, kSeedStallTries);
}

void lowres_seeds(const SilhouetteViews& views, std::vector<Point3D>& seeds,
                  const StageParameters& params, std::ostream& progress, long long stall_tries) {
  const Point3D& min = params.box_min;
  const Point3D& max = params.box_max;
  TERVIK_CHECK(stall_tries >= 1, "lowres_seeds: stall bound " << stall_tries << " is below 1");
  seeds.clear();
  const long long target = SamplingTargets::from_npoints(params.npoints).starts;
  if (target > 0) seeds.reserve(static_cast<std::size_t>(target));
  // A draw times this scale spans the box side.
  constexpr double kToUnit = 4.656612875245797e-10;  // 1 / 2147483647
  const Point3D scale((max.x - min.x) * kToUnit, (max.y - min.y) * kToUnit,
                      (max.z - min.z) * kToUnit);
  long long tries = 0, since_last = 0;
  while (static_cast<long long>(seeds.size()) < target) {
    if (since_last == stall_tries) break;
    const int r1 = sampler_rand();
    const int r2 = sampler_rand();
    const int r3 = sampler_rand();
    const Point3D candidate(r3 * scale.x + min.x, r2 * scale.y + min.y, r1 * scale.z + min.z);
    ++tries;
    ++since_last;
    if (is_admissible(views, candidate, params.min_cameras, params.tolerance)) {
      seeds.push_back(candidate);
      since_last = 0;
    }
  }
  const double rate =
      tries > 0 ? static_cast<double>(seeds.size()) / static_cast<double>(tries) : 0.0;
  progress << seeds.size() << " lowres seeds after " << tries << " tries (" << rate << ")"
           << std::endl;
  if (static_cast<long long>(seeds.size()) < target)
    progress << "WARNING: seed search gave up after " << stall_tries
              << " tries in a row without a seed: " << seeds.size() << " of " << target
              << " seeds found (check the box, the silhouettes and the calibration)"
              << std::endl;
}

}  // namespace tervik
