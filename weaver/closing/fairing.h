#pragma once
// Fairing of the vertices that close a hole: they move to a smooth surface spanned by the fixed
// vertices around them.
#include <vector>

#include "tervik/points.h"
#include "weaver/closing/hole_mesh.h"

namespace tervik {

// Moves the `free` vertices of hm towards the solution of the Laplace equation with every other
// vertex fixed (uniform weights: each free vertex goes to the mean of its neighbours), by
// `iterations` Gauss-Seidel sweeps. The result is a membrane that stays inside the hull of the
// fixed vertices, so it cannot overshoot where the surroundings are noisy.
void fair_vertices(HoleMesh& hm, const std::vector<HoleMesh::VertexHandle>& free, int iterations);

// The same, where a move that leaves more of the vertex's faces against the sum of their
// corners' normals (normals[v] for vertex v) than before is not made: the membrane then settles
// without folding faces over where the loop's corners crowd. The sweeps stop early after one
// in which no vertex moved by more than `settled` (a length; 0: all of them are made).
void fair_vertices_unfolded(HoleMesh& hm, const std::vector<HoleMesh::VertexHandle>& free,
                            int iterations, const std::vector<Point3D>& normals, double settled = 0.0);

// Re-fairs each patch of hm, a largest set of vertices numbered from `first_new` on that edges
// join, of at least `min_vertices` vertices, to least bending: its vertices go where the sum of
// the squared uniform Laplacians (umbrellas) over them and the fixed vertices around them is
// least (a sparse linear system, solved by Cholesky factorisation). A membrane spans a hole flat;
// this surface carries on the slope and curvature of the mesh around the hole, so a patch over a
// hole in a round object bulges with it. Returns the patches re-faired (a patch whose system
// cannot be factorised keeps its places).
long fair_bending(HoleMesh& hm, std::size_t first_new, std::size_t min_vertices);

// The uniform Laplacian at v: the mean of its neighbours minus v (zero for an isolated vertex).
OpenMesh::Vec3d umbrella(const HoleMesh& hm, HoleMesh::VertexHandle v);

}  // namespace tervik
