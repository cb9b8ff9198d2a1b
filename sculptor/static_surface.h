#pragma once
// Sampling of one frame from its silhouettes and the working box alone: first centres drawn
// uniformly in the box, then grown over the visual hull by the shared expansion passes
// (sculptor/expansion.h). Needs neither seeds nor a previous frame.
#include <iosfwd>
#include <vector>

#include "common/patch.h"
#include "sculptor/silhouette.h"
#include "sculptor/stage_parameters.h"
#include "tervik/points.h"

namespace tervik {

// Phase 1 gives up after this many attempts in a row that add no centre (see below).
inline constexpr long long kStaticStallAttempts = 10'000'000;

// Replaces `out` with the frame's patches: centres (in order of acceptance) followed by their
// three companions each, colour (128, 128, 128), 4 M patches when the target is reached (M =
// npoints - trunc(0.75 npoints)). Phase 1 draws points uniformly in the box of `params` with
// sampler_rand() (z first, then y, then x) until S = M / 10 centres are built on admissible
// points;
// Phase 2 expands them with in-plane step 4 L (L = params.step), halved every pass. Writes the
// samplers' progress lines to `progress`. When kStaticStallAttempts attempts in a row add no
// centre (a box that misses the object, empty silhouettes), Phase 1 stops with a "WARNING: " line
// and the expansion goes on from the centres found, if any.
void static_surface(const SilhouetteViews& silhouettes, std::vector<Patch>& out,
                    const StageParameters& params, std::ostream& progress);

// The same with the stall bound of Phase 1 given (at least 1).
void static_surface(const SilhouetteViews& silhouettes, std::vector<Patch>& out,
                    const StageParameters& params, std::ostream& progress,
                    long long stall_attempts);

}  // namespace tervik
