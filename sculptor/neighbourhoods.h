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
// The lists are stored unless they would hold more than kMaxStoredMean entries per patch on
// average (a radius that takes in much of the set); then they are found again on every request.
// Storage is kept from one build to the next.
//
// The lists are found by walking the tree once for a group of kGroup patches that are
// consecutive in the tree's node order (and so lie close together): every node is tested
// against the group's patches that can reach it, and each patch's list still comes out in its
// own query's visiting order.
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

  // The patch whose list is stored k-th (k < size()). The lists lie in the order of the tree's
  // nodes, near neighbours close together: a walk over the patches that reads their lists in
  // this order reads memory in sequence and finds the neighbours' data cached more often.
  std::uint32_t patch(std::size_t k) const { return tree_->node_list()[k].index; }

  // Whether every list is stored.
  bool stored() const { return stored_; }

  // Patches per block (for the lists: tree nodes per block), the unit of work of one thread.
  static constexpr std::size_t kBlock = 1024;
  // Patches whose queries share one walk of the tree.
  static constexpr std::size_t kGroup = 64;
  // The most entries per patch, on average over the set, that are kept.
  static constexpr std::size_t kMaxStoredMean = 64;

 private:
  // Where a patch's list lies: in block `block`, entries [start, start + count).
  struct Entry {
    std::uint32_t block;
    std::uint32_t start;
    std::uint32_t count;
  };
  std::optional<KDTree<Patch>> tree_;
  std::vector<std::vector<std::uint32_t>> blocks_;  // the lists of a block's nodes, in node order
  std::vector<Entry> entries_;                      // per patch
  std::size_t count_ = 0;
  double r2_ = 0.0;
  bool stored_ = false;
};

}  // namespace tervik
