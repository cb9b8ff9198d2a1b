#include "sculptor/neighbourhoods.h"

#include <algorithm>
#include <atomic>

#include "sculptor/parallel.h"

namespace tervik {

void Neighbourhoods::build(const std::vector<Patch>& patches, double r2, unsigned threads) {
  count_ = patches.size();
  r2_ = r2;
  tree_.reset();
  tree_.emplace(patches);
  const std::size_t nblocks = (count_ + kBlock - 1) / kBlock;
  if (blocks_.size() < nblocks) blocks_.resize(nblocks);
  // Every block may use its share of the budget; one that exceeds it ends the storing.
  const std::size_t block_budget = kBlock * kMaxStoredMean;
  std::atomic<bool> over{false};
  parallel_for(nblocks, threads, [&](std::size_t b, unsigned) {
    Block& block = blocks_[b];
    block.starts.clear();
    block.indices.clear();
    if (over.load(std::memory_order_relaxed)) return;
    const std::size_t begin = b * kBlock, end = std::min(count_, begin + kBlock);
    block.starts.reserve(end - begin + 1);
    block.starts.push_back(0);
    for (std::size_t i = begin; i < end; ++i) {
      tree_->append_neighbors(patches[i].pos, patches, r2, block.indices);
      if (block.indices.size() > block_budget) {
        over = true;
        return;
      }
      block.starts.push_back(static_cast<std::uint32_t>(block.indices.size()));
    }
  });
  stored_ = !over;
  if (!stored_) {
    for (Block& block : blocks_) std::vector<std::uint32_t>().swap(block.indices);
  }
}

std::span<const std::uint32_t> Neighbourhoods::of(std::size_t i,
                                                  const std::vector<Patch>& patches,
                                                  std::vector<std::uint32_t>& scratch) const {
  if (stored_) {
    const Block& b = blocks_[i / kBlock];
    const std::size_t k = i % kBlock;
    return {b.indices.data() + b.starts[k], b.starts[k + 1] - b.starts[k]};
  }
  tree_->neighbors(patches[i].pos, patches, r2_, scratch);
  return {scratch.data(), scratch.size()};
}

}  // namespace tervik
