#pragma once
// The first frame's sampling: seeds refined at full resolution into centre patches, then grown
// over the surface of the visual hull by the expansion passes (sculptor/expansion.h).
#include <iosfwd>
#include <vector>

#include "common/patch.h"
#include "sculptor/silhouette.h"
#include "sculptor/stage_parameters.h"
#include "tervik/points.h"

namespace tervik {

struct SamplingBuffers;  // sculptor/expansion.h

// Replaces `out` with the first frame's patches: M = npoints - trunc(0.75 npoints) centres
// followed by their three companions each (4 M patches when the target is reached), all grey,
// every companion carrying its centre's normal. Up to M / 10 first centres come from points
// drawn within 2 L of the seeds (in order). Reads npoints, min_cameras, tolerance and the
// sampling length L (`step`) of `params`. Writes a progress line to `progress` after the seeds
// and after every expansion pass, and "WARNING: " lines when the sampling ends short of its
// target. `buffers`, when given, lends the sampler its working storage (SurfaceSampler).
void high_res_from_seeds(const SilhouetteViews& silhouettes, const std::vector<Point3D>& seeds,
                         std::vector<Patch>& out, const StageParameters& params,
                         std::ostream& progress, SamplingBuffers* buffers = nullptr);

}  // namespace tervik
