#pragma once
// Sampling of every frame after the first: a motion search around the previous frame's first
// patches finds centres on the current visual hull, which the expansion passes then grow over
// the surface (sculptor/expansion.h).
#include <iosfwd>
#include <vector>

#include "common/patch.h"
#include "sculptor/silhouette.h"
#include "sculptor/stage_parameters.h"
#include "tervik/points.h"

namespace tervik {

struct SamplingBuffers;  // sculptor/expansion.h

// Replaces `out` (a different vector from `previous`) with the frame's patches, as
// high_res_from_seeds does, except that the first centres are searched in the cube of half-size
// `params.motion_radius` around the positions of previous[0], previous[1], ... (only their `pos`
// is read). Reads what high_res_from_seeds reads of `params` and the motion radius. Writes the
// same progress and "WARNING: " lines to `progress`; an empty `previous` gives an empty result
// and a warning. `buffers`, when given, lends the sampler its working storage.
void dynamic_surface(const SilhouetteViews& silhouettes, std::vector<Patch>& out,
                     const std::vector<Patch>& previous, const StageParameters& params,
                     std::ostream& progress, SamplingBuffers* buffers = nullptr);

}  // namespace tervik
