#pragma once
// Sampling of every frame after the first: a motion search around the previous frame's first
// patches finds centres on the current visual hull, which the expansion passes then grow over
// the surface (sculptor/expansion.h).
#include <vector>

#include "common/patch.h"
#include "sculptor/silhouette.h"
#include "tervik/points.h"

namespace tervik {

// Replaces `out` (a different vector from `previous`) with the frame's patches, as
// high_res_from_seeds does, except that the first centres are searched in the cube of half-size
// `motion_radius` around the positions of previous[0], previous[1], ... (only their `pos` is
// read). `step` is the sampling length L; box_min and box_max are not read. Writes the same
// progress and "WARNING: " lines; an empty `previous` gives an empty result and a warning.
void dynamic_surface(const SilhouetteViews& silhouettes, std::vector<Patch>& out,
                     const std::vector<Patch>& previous, const Point3D& box_min,
                     const Point3D& box_max, short min_cameras, short tolerance,
                     long long npoints, double step, double motion_radius);

}  // namespace tervik
