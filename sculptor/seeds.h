#pragma once
// Seeds of the first frame: points on the surface of the visual hull found by pure random search
// in the working box, judged against the coarse silhouettes (reduced by 8, cameras scaled by
// 0.125), where every test is cheap.
#include <iosfwd>
#include <vector>

#include "sculptor/silhouette.h"
#include "sculptor/stage_parameters.h"
#include "tervik/points.h"

namespace tervik {

// The search gives up after this many consecutive tries without a new seed (see below).
inline constexpr long long kSeedStallTries = 10'000'000;

// Replaces `seeds` with (npoints - trunc(0.75 npoints)) / 10 admissible points (projection_test:
// inside at least `min_cameras` images, on background in exactly `tolerance`, on an outline),
// drawn uniformly in the box [box_min, box_max] (world units) with sampler_rand(), z first, then
// y, then x; in acceptance order. Reads npoints, the box, min_cameras and tolerance of `params`. Writes
// "<n> lowres seeds after <tries> tries (<n / tries>)" to `progress`. When kSeedStallTries tries
// in a row find no seed (a box that misses the object, empty silhouettes, too few cameras), it
// stops with the seeds found and a "WARNING: " line saying so.
void lowres_seeds(const SilhouetteViews& views, std::vector<Point3D>& seeds,
                  const StageParameters& params, std::ostream& progress);

// The same with the stall bound given (at least 1).
void lowres_seeds(const SilhouetteViews& views, std::vector<Point3D>& seeds,
                  const StageParameters& params, std::ostream& progress, long long stall_tries);

}  // namespace tervik
