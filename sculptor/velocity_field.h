#pragma once
// Motion between two sampled surfaces, and its display as patch colours.
#include <iosfwd>
#include <vector>

#include "common/patch.h"
#include "tervik/points.h"

namespace tervik {

// Motion vectors of the centre patches of `second` relative to `first`. With M = npoints minus
// npoints * 0.75 (truncated), the number of centre patches a sampler lists first, and M limited
// to the size of `second`: for each of the first M patches B of `second`, the raw vector is
// B.pos - A.pos for the nearest of its 20 nearest patches A in `first` whose normal agrees
// (n_A . n_B > 0.5), or zero when none agrees. out[j] (M entries, replaced) is the mean raw
// vector of the 20 patches nearest to patch j among those first M, itself included.
// Writes "<not found> non-found motion vectors out of <M>" to `progress`.
void velocity_field(const std::vector<Patch>& first, const std::vector<Patch>& second,
                    std::vector<Point3D>& out, long long npoints, std::ostream& progress);

// Writes motion vectors into patch colours: each component c (x to r, y to g, z to b) becomes
// 127 + c * 127 / scale, truncated and limited to 0 to 255, so that a zero vector is
// (127, 127, 127) and a component of +-scale gives 254 or 0; a negative scale inverts the
// coding. Throws TervikError when there are fewer vectors than patches, or when scale is zero
// or not finite.
void vel_color_code(std::vector<Patch>& patches, const std::vector<Point3D>& vectors,
                    double scale);

}  // namespace tervik
