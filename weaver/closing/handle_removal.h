#pragma once
// Removal of small handles (tunnels and bridges) from a closed mesh.
//
// A geodesic region is grown from seed vertices up to a bounded radius, vertex by vertex in the
// order of their distance along the edges. Where the region's front meets itself at a vertex,
// the front closes a loop (two shortest paths from the seed and the vertex between them). If
// that loop does not separate the mesh, it goes around a handle: the mesh is cut along it and
// both sides are capped by the hole filler, which raises the Euler characteristic by two and
// lowers the genus by one. Only loops that fit in a region of the given radius are found, so
// handles wider than that (the hole of a real torus) are kept.
#include <cstdint>
#include <optional>
#include <vector>

#include "weaver/closing/hole_filling.h"
#include "weaver/closing/hole_mesh.h"
#include "weaver/closing/manifold_repair.h"

namespace tervik {

// What remove_handles did.
struct HandleRemoval {
  long handles = 0;         // loops cut and capped
  long longest_cut = 0;     // edges of the longest loop cut
  long faces_added = 0;     // faces of the caps
  long vertices_added = 0;  // vertex copies along the cuts and new vertices of the caps
  long euler_before = 0;    // Euler characteristic before and after (over the used vertices)
  long euler_after = 0;
};

// Loops of `hm` that do not separate it, each found in a region of geodesic radius `radius`
// around a seed vertex: vertex cycles (c0, c1, ..., c0 implied), pairwise without common
// vertices, and each non-separating also once the earlier ones are cut. Boundary vertices are
// never used. The search stops after `max_loops` loops. Regions grow from `first_seeds` first
// (where handles are likely: the search ends sooner when they are there), then from the others.
std::vector<std::vector<HoleMesh::VertexHandle>> find_handle_loops(
    const HoleMesh& hm, double radius, std::size_t max_loops = SIZE_MAX,
    const std::vector<HoleMesh::VertexHandle>& first_seeds = {});

// Cuts `mesh` along `loops` (as find_handle_loops returns them for to_hole_mesh(mesh)): each
// loop vertex gets a copy (appended, same position, colour and normal) that takes the faces on
// the loop's left side, so that every loop becomes two boundary loops.
void cut_along_loops(RepairMesh& mesh, const HoleMesh& hm,
                     const std::vector<std::vector<HoleMesh::VertexHandle>>& loops);

// Removes the handles of the closed, manifold, consistently oriented `mesh` whose loops fit in
// a geodesic region of radius `radius`, in up to `rounds` rounds (a round finds loops, cuts
// along all of them and caps the cuts). While handles are left (the Euler characteristic is
// below twice the pieces) and a round finds none, or the rounds are spent, one further search
// is made with 1.5 times the radius. `euler`, when given, is the mesh's Euler
// characteristic (the hole filler reports it), which saves counting the edges; `closed`, when
// given, is mesh as a half-edge mesh (as fill_holes leaves it), which saves building one; it is
// cleared once the first round has cut along its loops, so that the caps reuse its memory.
// `first_seeds` go to the first round's find_handle_loops. `piece_count`, when given, is
// component_count(mesh) (the hole filler reports it too).
HandleRemoval remove_handles(RepairMesh& mesh, double radius, int rounds = 2,
                             std::optional<long> euler = std::nullopt,
                             HoleMesh* closed = nullptr,
                             const std::vector<HoleMesh::VertexHandle>& first_seeds = {},
                             std::optional<long> piece_count = std::nullopt);

// Pieces of `mesh` (faces connected through shared vertices).
long component_count(const RepairMesh& mesh);

// V - E + F over the vertices that faces use.
long euler_characteristic(const RepairMesh& mesh);

// The mean edge length of `mesh` (every edge once).
double mean_edge_length(const RepairMesh& mesh);

}  // namespace tervik
