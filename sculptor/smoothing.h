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

// The smoothed patches [first, last) of `patches` alone, written to out[j] as smooth_surface()
// moves them (`near` as there; `out` must already hold one patch per patch, and the others are
// left alone), on up to `threads` threads and without a line. Returns the neighbours they used:
// passes over complementary ranges add up to smooth_surface(). Throws TervikError when `out` is
// `patches` or the sizes or the range do not fit.
long long smooth_range(const std::vector<Patch>& patches, const Neighbourhoods& near,
                       std::size_t first, std::size_t last, unsigned threads,
                       std::vector<Patch>& out);

// The line of smooth_surface() for `n` patches that used `used` neighbours in all.
void report_smoothing(std::size_t n, long long used, std::ostream& progress);

}  // namespace tervik
