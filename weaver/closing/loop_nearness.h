#pragma once
// How near a closed polygon lies to others all round it: the mean, over its corners, of the
// distance to the other polygon's nearest corner. A detached piece lies in the hole whose rim is
// nearest its own rim all round.
#include <cstddef>
#include <utility>
#include <vector>

#include "tervik/points.h"

namespace tervik {

// Of the polygons others[k], k in `tried`, the `keep` nearest to `rim` all round: for each, the
// mean over rim's corners of the distance to the polygon's nearest corner (the distances summed
// in rim's order, the sum divided by rim's corner count), taken where that sum is under `limit`
// times the count. Returns the least (mean, k) pairs, least first.
std::vector<std::pair<double, std::size_t>> nearest_all_round(const std::vector<Point3D>& rim,
                                                              const std::vector<std::vector<Point3D>>& others,
                                                              const std::vector<std::size_t>& tried,
                                                              double limit, std::size_t keep);

}  // namespace tervik
