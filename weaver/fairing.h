#pragma once
// Fairing of the vertices that close a hole: they move to a smooth surface that continues the
// fixed vertices around them.
#include <vector>

#include "weaver/hole_mesh.h"

namespace tervik {

// Moves the `free` vertices of hm towards the solution of the bi-Laplace equation (uniform
// weights: the "umbrella" operator applied twice) with every other vertex fixed, by
// `iterations` Gauss-Seidel sweeps. The fixed vertices' own neighbourhoods enter the operator,
// so the surface meets its surroundings without a crease.
// With `bilaplacian` false, the sweeps solve the Laplace equation instead (each free vertex
// moves to the mean of its neighbours): a membrane that stays inside the hull of the fixed
// vertices, robust where the surroundings are noisy.
void fair_vertices(HoleMesh& hm, const std::vector<HoleMesh::VertexHandle>& free, int iterations,
                   bool bilaplacian);

// The uniform Laplacian at v: the mean of its neighbours minus v.
OpenMesh::Vec3d umbrella(const HoleMesh& hm, HoleMesh::VertexHandle v);

}  // namespace tervik
