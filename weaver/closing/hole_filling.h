#pragma once
// Closing the holes of a manifold, consistently oriented triangle mesh.
//
// Short loops that wind the wrong way or cross themselves, seen along their normals (a fold of
// the surface beside the hole), are first widened until they do not (weaver/rim_untangling.h).
// Each boundary loop longer than 64 edges is first split by chords across the hole into parts
// (weaver/loop_split.h); each part is triangulated over its corners (least area, needles
// penalised, by dynamic programming, or for a part that no chord brought down to 64 corners by
// cutting off the sharpest corner first; see weaver/loop_triangulation.h; a part of a few corners avoids
// triangles facing against its corners' normals, a larger one whose normals agree triangles
// facing against their mean), then the patch is refined until
// its edges are about as long as the loop's edges (long edges split at their middle, edges
// flipped towards better triangles), and its new vertices are moved to the smooth membrane that
// the loop spans (fairing); last, patch edges (and, once every hole is closed, the edges on
// the patches' rims) are flipped where that leaves fewer triangles facing against their
// corners' normals. A detached piece lying in a hole of another piece is joined to it
// by a band stitched between the two rims (weaver/band_stitch.h), refined and faired alike,
// instead of both rims being closed on their own (which would leave the piece a closed
// pancake, half of it facing inward).
#include <vector>

#include "weaver/closing/hole_mesh.h"
#include "weaver/closing/loop_triangulation.h"
#include "weaver/closing/manifold_repair.h"

namespace tervik {

// What fill_holes did.
struct HoleFilling {
  long holes_closed = 0;   // loops that were closed
  long largest_hole = 0;   // edges of the longest loop closed
  long faces_added = 0;
  long vertices_added = 0;
  long holes_left = 0;     // loops that could not be closed
  long faces_refused = 0;  // input faces the half-edge structure refused (left out)
  long faces_opened = 0;   // input faces removed to widen holes whose rim overlapped them
  long euler = 0;          // Euler characteristic of the result (vertices in use; fill_holes)
  long euler_change = 0;   // what the patches added to it (+1 for each patch that is a disc)
  long pieces = -1;        // pieces of the result, faces connected across edges (fill_holes,
                           // where no face was refused and no hole is left; else -1)
  long bridges = 0;        // pairs of faces that joined two pieces before their holes were closed
};

// Closes every hole of `mesh`, which must have at most two faces per edge, manifold vertices and
// consistent orientation. New vertices are appended (colour: the mean of the vertices they are
// made from; normal likewise); new faces follow the old ones, oriented like their neighbours.
HoleFilling fill_holes(RepairMesh& mesh);

// The same, leaving the closed mesh also in `hm` as a half-edge mesh (same vertices, faces in
// the same order), for a next step that needs one.
HoleFilling fill_holes(RepairMesh& mesh, HoleMesh& hm);

// Closes only the holes of `mesh` whose vertices are all marked (marked[v] != 0), looking at
// the faces around marked vertices only, so that closing a few holes in a large mesh costs
// little; the other holes stay open. New vertices and faces are appended as by fill_holes;
// mean_edge is the mesh's mean edge length (half of it bounds the patches' edges from below).
HoleFilling fill_marked_holes(RepairMesh& mesh, const std::vector<char>& marked, double mean_edge);

}  // namespace tervik
