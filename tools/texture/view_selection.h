#pragma once
// Stage 2 of texturing: one camera per face.
#include <array>
#include <vector>

#include "tools/texture/texture_mesh.h"

namespace tervik::texture {

// The faces across each face's three edges (edge k joins corners k and k + 1); -1 where the
// edge is a border or is shared by more than two faces.
std::vector<std::array<long, 3>> face_neighbours(const TriMesh& mesh);

// Chooses a view for every face from quality[v][f] (0: view v does not see face f), or -1
// for a face that no view sees. Minimises the sum over faces of 1 - q / q_best (the face's data
// cost) plus `smoothness` for every pair of neighbouring faces with different views (Potts),
// by iterated conditional modes: every face starts at its best view, then sweeps over the faces
// in order move each to the view of least cost given its neighbours, until a sweep changes
// nothing (at most 50 sweeps). Deterministic; ties keep the current view or take the lower one.
std::vector<int> select_views(const std::vector<std::vector<float>>& quality,
                              const std::vector<std::array<long, 3>>& neighbours,
                              double smoothness);

}  // namespace tervik::texture
