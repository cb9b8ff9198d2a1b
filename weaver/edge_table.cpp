#include "weaver/edge_table.h"

#include "tervik/exceptions.h"

namespace tervik {

const EdgeTable::Block& EdgeTable::block_of(uint32_t v, uint32_t i, uint32_t& slot) const {
  const Block* b = &rows_[v];
  while (i >= kPerBlock) {
    b = &pool_[b->next];
    i -= kPerBlock;
  }
  slot = i;
  return *b;
}

EdgeTable::Block& EdgeTable::block_of(uint32_t v, uint32_t i, uint32_t& slot) {
  return const_cast<Block&>(static_cast<const EdgeTable*>(this)->block_of(v, i, slot));
}

uint32_t EdgeTable::find(uint32_t a, uint32_t b) const {
  if (a >= rows_.size()) return kNone;
  const Block* blk = &rows_[a];
  const uint32_t count = blk->count;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t slot = i % kPerBlock;
    if (slot == 0 && i != 0) blk = &pool_[blk->next];
    if (blk->to[slot] == b) return i;
  }
  return kNone;
}

bool EdgeTable::exists(uint32_t a, uint32_t b) const {
  if (a >= rows_.size()) return false;
  const Block& r = rows_[a];
  // The common case: the whole row in its first block.
  if (r.count <= kPerBlock) {
    for (uint32_t i = 0; i < r.count; ++i) {
      if (r.to[i] == b) return true;
    }
    return false;
  }
  return find(a, b) != kNone;
}

bool EdgeTable::valid_vertex(uint32_t v) const {
  if (!on_surface(v)) return true;
  const Block* blk = &rows_[v];
  const uint32_t count = blk->count;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t slot = i % kPerBlock;
    if (slot == 0 && i != 0) blk = &pool_[blk->next];
    if (!exists(blk->to[slot], v)) return true;
  }
  return false;
}

void EdgeTable::add(uint32_t a, uint32_t b, uint32_t f) {
  if (a >= rows_.size()) rows_.resize(static_cast<std::size_t>(a) + 1);
  const uint32_t found = find(a, b);
  uint32_t slot = 0;
  if (found != kNone) {
    block_of(a, found, slot).face[slot] = f;
    return;
  }
  const uint32_t i = rows_[a].count;
  if (i >= kPerBlock && i % kPerBlock == 0) {
    // The row's last block is full: chain a new one.
    uint32_t id = free_;
    if (id != kNone) {
      free_ = pool_[id].next;
      pool_[id] = Block{};
    } else {
      id = static_cast<uint32_t>(pool_.size());
      pool_.push_back(Block{});
    }
    Block& last = block_of(a, i - 1, slot);
    last.next = id;
  }
  Block& blk = block_of(a, i, slot);
  blk.to[slot] = b;
  blk.face[slot] = f;
  ++rows_[a].count;
  ++edges_;
}

void EdgeTable::remove(uint32_t a, uint32_t b) {
  const uint32_t found = find(a, b);
  if (found == kNone) return;
  // The row's last entry takes the place of the removed one.
  const uint32_t last = rows_[a].count - 1;
  uint32_t from_slot = 0, to_slot = 0;
  const Block& src = block_of(a, last, from_slot);
  const uint32_t moved_to = src.to[from_slot], moved_face = src.face[from_slot];
  Block& dst = block_of(a, found, to_slot);
  dst.to[to_slot] = moved_to;
  dst.face[to_slot] = moved_face;
  --rows_[a].count;
  --edges_;
  if (last >= kPerBlock && last % kPerBlock == 0) {
    // The last block is now empty: return it to the pool.
    uint32_t slot = 0;
    Block& prev = block_of(a, last - 1, slot);
    const uint32_t id = prev.next;
    prev.next = kNone;
    pool_[id].next = free_;
    free_ = id;
  }
}

uint32_t EdgeTable::face(uint32_t a, uint32_t b) const {
  const uint32_t found = find(a, b);
  TERVIK_CHECK(found != kNone, "EdgeTable: no edge " << a << "->" << b);
  uint32_t slot = 0;
  return block_of(a, found, slot).face[slot];
}

}  // namespace tervik
