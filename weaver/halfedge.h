#pragma once
// Edge bookkeeping of the ball-pivoting mesher.
//
// Vertices are indices into the point vector, faces indices into the mesh's face list. Faces are
// oriented: a face stored as (a, b, c) owns the directed edges a->b, b->c and c->a, and the twin
// of a->b is b->a. An edge without its twin lies on the border of the surface grown so far.
#include <map>
#include <queue>

#include "tervik/points.h"

namespace tervik {

// A directed border edge waiting to be grown from: the face (from, to, opposite) exists, with
// unit right-hand normal `normal`, and a new face containing to->from may continue it.
struct HalfEdge {
  unsigned int from = 0;
  unsigned int to = 0;
  unsigned int opposite = 0;
  Point3D normal;
  bool flag = false;  // set to false on creation; not consulted

  HalfEdge() = default;
  HalfEdge(unsigned int from_, unsigned int to_, unsigned int opposite_, const Point3D& normal_)
      : from(from_), to(to_), opposite(opposite_), normal(normal_) {}
};

// First-in, first-out work queue of border edges. Records may go stale while queued (their edge
// removed or their twin added); consumers re-check them against the HalfEdgeMatrix.
using HalfEdgeQueue = std::queue<HalfEdge>;

// The directed edges of the current surface, each mapped to the index of the face that owns it.
// A row exists exactly for the vertices of at least one live face; empty rows are erased.
class HalfEdgeMatrix {
 public:
  // Row per start vertex a; in it, per end vertex b, the face that owns a->b.
  std::map<unsigned int, std::map<unsigned int, unsigned int>> edges;
  // Incremented by every add, decremented by every remove; informational only.
  unsigned int count = 0;

  // Whether the directed edge a->b exists.
  bool exists(unsigned int a, unsigned int b) const;
  // Whether vertex v is on the surface (has a row).
  bool on_surface(unsigned int v) const { return edges.count(v) != 0; }
  // Whether v may still receive a new face: true when v is not on the surface yet or when one
  // of its outgoing edges has no twin (v lies on the border); false when v is surrounded.
  bool valid_vertex(unsigned int v) const;
  // Sets the owner of a->b to face f, replacing an earlier owner.
  void add(unsigned int a, unsigned int b, unsigned int f);
  // Erases a->b if present, and row a when it becomes (or already was) empty.
  void remove(unsigned int a, unsigned int b);
  // Adds the three directed edges of face (a, b, c) with index f.
  void add_face(unsigned int a, unsigned int b, unsigned int c, unsigned int f);
  // Removes the three directed edges of face (a, b, c).
  void remove_face(unsigned int a, unsigned int b, unsigned int c);
  // The face that owns a->b; throws TervikError when the edge does not exist.
  unsigned int face(unsigned int a, unsigned int b) const;
};

}  // namespace tervik
