#pragma once
// Stage 4 of texturing: levelling the colour steps along seams.
//
// Every output vertex i (a mesh vertex in one chart) gets a colour correction g_i, added to the
// chart's texels and interpolated across its faces. With f_i the colour the chart's photo has
// at the vertex (the vertex colour for a face no camera sees), the corrections minimise
//   sum over copies i, j of one mesh vertex   (f_i + g_i - f_j - g_j)^2
//   + sum over the edges (i, j) of each chart  (g_i - g_j)^2
//   + 1e-3 * sum over all copies               g_i^2,
// over the copies in photo charts, so the two sides of a seam meet at one colour and the
// corrections spread smoothly over the charts. The faces no camera sees do not take part (their
// vertex colours would pull the photos towards them): a copy of theirs takes the mean levelled
// colour of the photo copies of its mesh vertex, where there are any, so that they blend in. The sparse system is solved per colour channel by a Cholesky factorisation (Eigen's
// SimplicialLDLT), once for all three channels.
#include <array>
#include <vector>

#include "tools/texture/texture_mesh.h"

namespace tervik::texture {

// `colour` is f per output vertex, `source` the mesh vertex of every output vertex, `indices`
// three output vertices per face, `photo` 1 for the copies in photo charts. Returns g per
// output vertex. Throws TervikError when the
// factorisation fails.
std::vector<std::array<float, 3>> level_seams(const std::vector<std::array<float, 3>>& colour,
                                              const std::vector<std::uint32_t>& source,
                                              const std::vector<std::uint32_t>& indices,
                                              const std::vector<char>& photo);

}  // namespace tervik::texture
