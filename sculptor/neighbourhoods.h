#pragma once
// The radius neighbourhoods of a frame's patches, found once and read by both the normal
// re-estimation and the smoothing, which query the same positions with the same radius.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/kdtree.h"
#include "common/patch.h"

namespace tervik {

// For every patch i of a set, the indices of the patches whose squared distance to it is below
// r2 (i itself included), in the order KDTree::neighbors lists them for a tree over the set.
// The lists are stored unless they would exceed kMaxStoredMean entries per patch on average
// (a radius that takes in much of the set); then they are found again on every request.
// Storage is kept from one build to the next.
class Neighbourhoods {
 public:
  // Finds the neighbourhoods of `patches` (positions only) for squared radius r2, on up to
  // `threads` threads; the result does not depend on the thread count.
  void build(const std::vector<Patch>& patches, double r2, unsigned threads);

  // Number of patches of the last build.
  std::size_t size() const { return count_; }

  // The neighbours of patch i (i < size()). `patches` must hold the positions of the build
  // (other members may differ); `scratch` holds the list when it was not stored.
  std::span<const std::uint32_t> of(std::size_t i, const std::vector<Patch>& patches,
                                    std::vector<std::uint32_t>& scratch) const;

  // Whether every list is stored.
  bool stored() const { return stored_; }

  // Patches per block, the unit of work of one thread.
  static constexpr std::size_t kBlock = 1024;
  // The most entries per patch, on average over the set, that are kept.
  static constexpr std::size_t kMaxStoredMean = 64;

 private:
  struct Block {
    std::vector<std::uint32_t> starts;   // one offset per patch of the block, then the end
    std::vector<std::uint32_t> indices;  // the lists of the block's patches, one after another
  };
  std::optional<KDTree<Patch>> tree_;
  std::vector<Block> blocks_;
  std::size_t count_ = 0;
  double r2_ = 0.0;
  bool stored_ = false;
};

}  // namespace tervik
