#pragma once
// How visible the seams are: the colour step across the edges of a textured mesh.
#include "tools/texture/texture_mesh.h"

namespace tervik::texture {

struct SeamSteps {
  double seam = 0.0;      // mean step across edges between faces of different views
  double interior = 0.0;  // the same across edges between faces of one chart
  long seam_edges = 0, interior_edges = 0;
};

// For every edge shared by two photo-textured faces: the atlas colours just inside each face,
// at the points a tenth of the way from the edge's midpoint towards each face's third corner
// (bilinear), and their difference (mean absolute difference over R, G, B, in 8-bit units).
// Seam edges and edges inside charts are averaged apart; inside a chart the step is the
// texture's own variation over that distance, the reference for a seam without a visible step.
SeamSteps measure_seam_steps(const TriMesh& mesh, const TexturedMesh& textured);

}  // namespace tervik::texture
