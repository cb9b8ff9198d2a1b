#include "weaver/halfedge.h"

#include "tervik/exceptions.h"

namespace tervik {

bool HalfEdgeMatrix::exists(unsigned int a, unsigned int b) const {
  const auto row = edges.find(a);
  return row != edges.end() && row->second.count(b) != 0;
}

bool HalfEdgeMatrix::valid_vertex(unsigned int v) const {
  const auto row = edges.find(v);
  if (row == edges.end()) return true;
  // Entries are visited in ascending order of their end vertex; the first edge without a twin
  // shows that v lies on the border.
  for (const auto& entry : row->second) {
    if (!exists(entry.first, v)) return true;
  }
  return false;
}

void HalfEdgeMatrix::add(unsigned int a, unsigned int b, unsigned int f) {
  edges[a][b] = f;
  ++count;
}

void HalfEdgeMatrix::remove(unsigned int a, unsigned int b) {
  const auto row = edges.find(a);
  if (row != edges.end()) {
    row->second.erase(b);
    if (row->second.empty()) edges.erase(row);
  }
  --count;
}

void HalfEdgeMatrix::add_face(unsigned int a, unsigned int b, unsigned int c, unsigned int f) {
  add(a, b, f);
  add(b, c, f);
  add(c, a, f);
}

void HalfEdgeMatrix::remove_face(unsigned int a, unsigned int b, unsigned int c) {
  remove(a, b);
  remove(b, c);
  remove(c, a);
}

unsigned int HalfEdgeMatrix::face(unsigned int a, unsigned int b) const {
  const auto row = edges.find(a);
  TERVIK_CHECK(row != edges.end() && row->second.count(b) != 0,
               "HalfEdgeMatrix: no edge " << a << "->" << b);
  return row->second.at(b);
}

}  // namespace tervik
