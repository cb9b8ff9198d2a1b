#pragma once
// Repairs of a triangle list before it is closed: degenerate and duplicate faces, edges of more
// than two faces, inconsistent orientation, faces folded against the point normals, vertices
// where several fans of faces meet, and detached specks.
//
// Faces are vertex-index triples; a face (a, b, c) owns the directed edges a->b, b->c, c->a and
// its normal follows the right-hand rule. Every function keeps the surviving faces in their
// order and returns how many faces it removed.
#include <cstdint>
#include <vector>

#include "tervik/points.h"

namespace tervik {

// A mesh under repair: per vertex its position, colour and unit point normal (zero when
// unknown), and the faces.
struct RepairMesh {
  std::vector<Point3D> vertices;
  std::vector<Coord3D<unsigned char>> colors;
  std::vector<Point3D> normals;
  std::vector<Coord3D<long long>> faces;
};

// One use of an undirected edge by a face; `forward` when the face traverses it from the
// smaller to the larger vertex index. key = smaller index << 32 | larger index. (16 bytes: the
// tables are large, and touching fresh memory is a good part of their cost.)
struct EdgeUse {
  std::uint64_t key;
  std::uint32_t face;
  bool forward;
  bool operator<(const EdgeUse& o) const { return key != o.key ? key < o.key : face < o.face; }
  bool operator==(const EdgeUse& o) const {
    return key == o.key && face == o.face && forward == o.forward;
  }
};

// Every edge use of every face, sorted by edge, then face, so that the uses of one edge are
// adjacent. Several repairs look faces up by their edges: computed once, the table is passed on
// from one repair to the next, each keeping it equal to edge_uses(mesh.faces).
std::vector<EdgeUse> edge_uses(const std::vector<Coord3D<long long>>& faces);

// Removes faces with a repeated vertex and every later copy of a face over the same three
// vertices (in either orientation).
long remove_degenerate_faces(RepairMesh& mesh);
// The same, with `uses` = edge_uses(mesh.faces), kept so.
long remove_degenerate_faces(RepairMesh& mesh, std::vector<EdgeUse>& uses);

// Leaves at most two faces on every edge. Of the faces on an edge with more, it keeps the pair
// that traverses the edge in opposite directions and shares most other edges with the rest of
// the mesh, and removes the others.
long remove_nonmanifold_edges(RepairMesh& mesh);
// The same, with `uses` = edge_uses(mesh.faces), kept so.
long remove_nonmanifold_edges(RepairMesh& mesh, std::vector<EdgeUse>& uses);

// Orients every edge-connected piece consistently (faces meeting across an edge traverse it in
// opposite directions), then turns each piece so that its faces agree with the point normals
// (area-weighted vote). A face that cannot be made consistent with its neighbours is removed.
// Expects at most two faces per edge.
long orient_faces(RepairMesh& mesh);
// The same, with `uses` = edge_uses(mesh.faces), kept so.
long orient_faces(RepairMesh& mesh, std::vector<EdgeUse>& uses);
// The same for the table's last reader: `uses` = edge_uses(mesh.faces) is read, not kept so.
long orient_faces(RepairMesh& mesh, const std::vector<EdgeUse>& uses);

// Removes the faces whose normal points against the sum of their three point normals: folds
// of the surface that consistent orientation cannot fix.
long remove_folded_faces(RepairMesh& mesh);

// Joins the two fans of faces at a vertex where exactly two meet, each a strip with two open
// ends, by a face across the gap between them on either side: (v, the corner one fan comes to
// v from, the corner the other leaves v towards), in the fans' orientation. Where a thin part's
// front and back sheets meet at a vertex of its outline, this keeps both sheets. A face is added
// only where its third edge is at most `reach` times the longest edge of the two fans at v and
// free (no face along it that way, at most one the other), its normal leans less than acos
// `least_cos` from each corner's point normal, and no other added face shares an edge with it.
// Expects oriented faces with at most two per edge, and point normals for every vertex.
// Returns the faces added (appended to mesh.faces).
long join_fans(RepairMesh& mesh, double reach, double least_cos);

// Makes every vertex manifold: where the faces around a vertex form several fans (groups
// connected across edges at the vertex), the smaller fans of at most `max_removed` faces are
// removed, repeatedly; fans still left over get their own copy of the vertex (appended, with
// the same position, colour and normal). Returns the faces removed; `split` counts the copies.
long resolve_nonmanifold_vertices(RepairMesh& mesh, long max_removed, long& split);

// Removes every piece (faces connected through shared vertices) with fewer than `min_faces`
// faces, except the largest piece (or pieces, when several are equally large).
long remove_small_components(RepairMesh& mesh, long min_faces);

// For each of `pieces` pieces (label[v]: the piece of vertex v, or -1), whether every vertex of
// it lies within `reach` of a vertex of piece `body`. Such a piece is a second layer of points
// over the body's surface (a fin of the visual hull leaves them) or a fragment at its edge,
// rather than a limb reaching away from it. The body's own entry is false.
std::vector<char> pieces_lying_on(const std::vector<Point3D>& vertices, const std::vector<int>& label,
                                  std::size_t pieces, int body, double reach);

}  // namespace tervik
