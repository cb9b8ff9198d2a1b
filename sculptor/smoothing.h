#pragma once
// Smoothing of a sampled surface along the point normals.
#include <vector>

#include "common/patch.h"

namespace tervik {

// Moves every patch along its own normal onto the mean of its neighbours' positions measured
// along that normal. Neighbours are the other patches closer than L (strictly) whose normal has
// a dot product above -0.3 with the patch's normal; a patch without such neighbours stays put.
// All patches move from their positions on entry; count, order, normals and colours are kept.
// Prints "<mean neighbours used per patch> neighs per patch" to standard output.
void smooth_surface(std::vector<Patch>& patches, double L);

}  // namespace tervik
