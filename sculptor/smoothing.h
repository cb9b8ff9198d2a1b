#pragma once
// Smoothing of a sampled surface along the point normals.
#include <iosfwd>
#include <vector>

#include "common/patch.h"
#include "sculptor/neighbourhoods.h"
#include "sculptor/stage_parameters.h"

namespace tervik {

// Moves every patch along its own normal onto the mean of its neighbours' positions measured
// along that normal. Neighbours are the other patches closer than L (strictly) whose normal has
// a dot product above -0.3 with the patch's normal; a patch without such neighbours stays put.
// All patches move from their positions on entry; count, order, normals and colours are kept.
// Reads L (`step`) and `threads` of `params`. Writes "<mean neighbours used per patch> neighs per
// patch" to `progress`.
void smooth_surface(std::vector<Patch>& patches, const StageParameters& params,
                    std::ostream& progress);

// The same with the neighbourhoods of the patches' positions for radius L given (`near`, built
// with squared radius L * L, as normals() takes them: it keeps the positions). `work` is scratch
// storage whose capacity is kept for the next call.
void smooth_surface(std::vector<Patch>& patches, const Neighbourhoods& near,
                    const StageParameters& params, std::ostream& progress,
                    std::vector<Patch>& work);

}  // namespace tervik
