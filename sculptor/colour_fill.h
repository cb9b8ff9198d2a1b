#pragma once
// Colours for the points that no camera sees (the soles of feet, the inside of a fold), taken
// from their coloured neighbours along the surface, so that no point keeps the grey that marks
// a point without colour.
#include <cstdint>
#include <vector>

#include "common/patch.h"
#include "sculptor/neighbourhoods.h"

namespace tervik {

// Gives every patch i with coloured[i] == 0 a colour from the coloured patches around it, in
// waves spreading along the surface: in each wave, every patch still without colour that has
// coloured patches among its neighbours (`near`, the neighbourhoods of the frame, built over
// these patches or over their positions before the smoothing) takes the colour of the nearest of
// them (the lowest index at equal distance: a copy keeps the edges of a pattern, where an
// average would blur them); it counts as coloured from the next wave on. Patches that no wave
// reaches (pieces of the surface apart from every coloured point) take the colour of the nearest
// coloured patch. `coloured` (one entry per patch, non-zero = coloured) is updated; positions and
// normals are not changed. Does nothing when no patch is coloured. Runs on up to `threads`
// threads; the colours do not depend on it. Returns the number of patches coloured. Throws
// TervikError when `coloured` or `near` does not match `patches` in size.
std::size_t fill_unseen_colours(std::vector<Patch>& patches, std::vector<std::uint8_t>& coloured,
                                const Neighbourhoods& near, unsigned threads = 1);

}  // namespace tervik
