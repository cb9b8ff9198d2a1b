#pragma once
// Widening holes whose rim overlaps itself.
//
// Where the triangulation left a fold (the surface runs on, turns back and runs on again) and
// the backward layer was removed, the hole left behind is bounded by two layers that overlap
// seen along the surface normal: its loop winds the wrong way round, or crosses itself. Any
// patch spanning such a loop has to turn against the surface somewhere. The faces around such
// a loop are removed, so that the hole reaches past the overlap and its patch can face along
// the surface.
#include "weaver/closing/hole_mesh.h"
#include "weaver/closing/manifold_repair.h"

namespace tervik {

// What untangle_rims did.
struct RimUntangling {
  long faces_removed = 0;  // faces removed from mesh.faces
  long loops_tangled = 0;  // loops of at most 128 corners that were tangled at first
  long loops_left = 0;     // of those, loops still tangled when it stopped
};

// The pieces of `hm` (faces connected across edges): piece[f] for every face f, numbered in
// the order of their first faces; `largest` is the one with the most faces (the first of
// equals; -1 without faces). Returns how many pieces there are.
int face_pieces(const HoleMesh& hm, std::vector<int>& piece, int& largest);

// Widens the tangled boundary loops of `hm`, which must have been built from `mesh` by
// to_hole_mesh with no face refused (same vertices, same faces in the same order). A loop is
// tangled when, projected along the mean of its corners' unit normals (mesh.normals), it winds
// clockwise or crosses itself; loops whose normals turn too far apart to project them, and the
// clockwise rims of pieces other than the largest (detached pieces, whose hole is the outside),
// are not. A tangled loop of at most 128 corners loses every face at its corners, then, at each
// vertex left with several fans, every fan but the largest (so that every vertex stays a
// manifold one; a hole the widening reaches becomes part of it); a loop whose widening would
// remove more than 8 faces per corner and 16 more keeps its faces. So does a loop whose
// widening would remove faces whose corners rise along their mean normal by more than 3 % of the
// mesh's bounding box diagonal (4 % for a loop of over 24 corners), or, for a loop of over 24
// corners, reach a hole more than 4 times as long as the loop (a deep region's patch would cut
// across the surface there; a long hole's patch would be made anew). Small bits of the largest piece cut off by the widening go too. Repeats for
// `rounds` rounds on the loops still tangled. Keeps the other faces of mesh.faces in their order
// and removes the same faces from `hm` (whose remaining faces may then come in another order).
// `pieces`, when given, receives the pieces of hm as it leaves it (as face_pieces finds them),
// for the next steps. `across`, when not empty, is faces_across(hm) (as to_hole_mesh gives it),
// which saves listing it again.
RimUntangling untangle_rims(RepairMesh& mesh, HoleMesh& hm, int rounds, FacePieces* pieces = nullptr,
                            std::vector<int> across = {});

}  // namespace tervik
