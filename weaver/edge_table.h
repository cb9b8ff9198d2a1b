#pragma once
// Flat directed-edge table of the mesher: the same questions as HalfEdgeMatrix, answered from
// one small fixed-size row per vertex instead of nested maps. A row holds up to seven outgoing
// edges (end vertex and owning face) in one 64-byte block; a vertex with more chains further
// blocks from a shared pool. Nothing is allocated per edge once the rows exist.
#include <cstdint>
#include <vector>

namespace tervik {

class EdgeTable {
 public:
  // A table for the vertices 0 .. vertices - 1 (more are added on demand).
  explicit EdgeTable(std::size_t vertices = 0) : rows_(vertices) {}

  // Whether the directed edge a->b exists.
  bool exists(uint32_t a, uint32_t b) const;
  // Whether vertex v has an outgoing edge (is on the surface).
  bool on_surface(uint32_t v) const { return v < rows_.size() && rows_[v].count != 0; }
  // Whether v may still receive a new face: not on the surface, or one of its outgoing edges
  // has no twin (v lies on the border).
  bool valid_vertex(uint32_t v) const;
  // Sets the owner of a->b to face f, replacing an earlier owner.
  void add(uint32_t a, uint32_t b, uint32_t f);
  // Erases a->b if present.
  void remove(uint32_t a, uint32_t b);
  // Adds / removes the three directed edges of face (a, b, c).
  void add_face(uint32_t a, uint32_t b, uint32_t c, uint32_t f) {
    add(a, b, f);
    add(b, c, f);
    add(c, a, f);
  }
  void remove_face(uint32_t a, uint32_t b, uint32_t c) {
    remove(a, b);
    remove(b, c);
    remove(c, a);
  }
  // The face that owns a->b; throws TervikError when the edge does not exist.
  uint32_t face(uint32_t a, uint32_t b) const;
  // Number of directed edges held.
  std::size_t size() const { return edges_; }

 private:
  static constexpr uint32_t kNone = 0xffffffffu;
  static constexpr uint32_t kPerBlock = 7;
  struct Block {
    uint32_t count = 0;    // in a row's first block: the entries of the whole row
    uint32_t next = kNone;  // next block of the row in pool_
    uint32_t to[kPerBlock];
    uint32_t face[kPerBlock];
  };

  // Entry i of row v: the block that holds it and its slot there.
  Block& block_of(uint32_t v, uint32_t i, uint32_t& slot);
  const Block& block_of(uint32_t v, uint32_t i, uint32_t& slot) const;
  // Slot number (0 .. count - 1) of b in row a, or kNone.
  uint32_t find(uint32_t a, uint32_t b) const;

  std::vector<Block> rows_;
  std::vector<Block> pool_;
  uint32_t free_ = kNone;  // first free pool block, chained through next
  std::size_t edges_ = 0;
};

}  // namespace tervik
