#include "sculptor/neighbourhoods.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <span>

#include "sculptor/parallel.h"

namespace tervik {

namespace {

using Tree = KDTree<Patch>;

// The radius queries of up to kLanes points at once over one tree. Lane l is the query of point
// l; a bit mask tells which lanes take part in the walk of a subtree. Each lane sees the nodes
// in the order of its own query (Tree::append_neighbors): a node's element, then the subtree on
// the lane's side of the split, then the other one, which it skips when the offsets of that
// subtree's cell from the lane's point rule it out. Lanes on different sides of a split walk
// the two subtrees in different orders, so a subtree is walked twice with disjoint lane masks;
// the lists come out the same as from one query per point.
class alignas(64) GroupQuery {
 public:
  static constexpr int kLanes = static_cast<int>(Neighbourhoods::kGroup);
  using Mask = std::uint64_t;
  static_assert(kLanes == 64, "one bit of a Mask per lane");

  GroupQuery(const Tree& tree, double r2)
      : nodes_(tree.node_list()), pos_(tree.node_positions()), root_(tree.root_node()), r2_(r2) {}

  // Finds the lists of the points `points` (at most kLanes). Returns false, with the lists
  // incomplete, as soon as they hold more than `limit` entries together.
  bool run(std::span<const Point3D> points, std::size_t limit) {
    const int n = static_cast<int>(points.size());
    for (int l = 0; l < n; ++l) {
      for (int a = 0; a < 3; ++a) {
        q_[a][l] = points[l][a];
        off_[a][l] = 0.0;
      }
      sizes_[l] = 0;
      if (lists_[l].empty()) lists_[l].resize(64);
    }
    found_ = 0;
    limit_ = limit;
    if (n == 0 || root_ == Tree::kNoNode) return true;
    return visit(root_, n == kLanes ? ~Mask{0} : (Mask{1} << n) - 1);
  }

  // The number of entries of the last run's lists.
  std::size_t found() const { return found_; }

  // The list of lane l of the last run.
  std::span<const std::uint32_t> list(int l) const { return {lists_[l].data(), sizes_[l]}; }

 private:
  // Walks the subtree at `node` (not kNoNode) for the lanes of `mask`, whose cell offsets admit
  // it. Returns false when the lists grew beyond the limit.
  bool visit(std::uint32_t node, Mask mask) {
    const Tree::Node& n = nodes_[node];
    const Point3D& p = pos_[node];
    const unsigned a = n.axis;
    const double split = p[a];
    Mask right = 0;
    for (Mask m = mask; m != 0; m &= m - 1) {
      const int l = std::countr_zero(m);
      const Point3D d(q_[0][l] - p.x, q_[1][l] - p.y, q_[2][l] - p.z);
      // Written always, kept when within the radius: a branch here would be mispredicted often.
      std::vector<std::uint32_t>& list = lists_[l];
      if (sizes_[l] == list.size()) list.resize(2 * list.size());
      list[sizes_[l]] = n.index;
      const bool hit = r2_ > d.x * d.x + d.y * d.y + d.z * d.z;
      sizes_[l] += hit;
      found_ += hit;
      right |= Mask{q_[a][l] > split} << l;
    }
    if (found_ > limit_) return false;
    const Mask near_right = mask & right, near_left = mask & ~right;
    // The right subtree for the lanes it is near to, the left one for all (near for some, far
    // for the others), then the right one for the lanes it is far from.
    if (near_right != 0 && n.right != Tree::kNoNode && !visit(n.right, near_right)) return false;
    if (n.left != Tree::kNoNode && !visit_far(n.left, near_right, near_left, a, split))
      return false;
    if (near_left != 0 && n.right != Tree::kNoNode && !visit_far(n.right, near_left, 0, a, split))
      return false;
    return true;
  }

  // Walks `node` for the lanes `near` and for those of `far` whose offset from the cell, with
  // the one on `axis` set to their distance from `split`, admits it.
  bool visit_far(std::uint32_t node, Mask far, Mask near, unsigned axis, double split) {
    double saved[kLanes];
    Mask mask = near;
    for (Mask m = far; m != 0; m &= m - 1) {
      const int l = std::countr_zero(m);
      saved[l] = off_[axis][l];
      off_[axis][l] = q_[axis][l] - split;
      const double d2 = off_[0][l] * off_[0][l] + off_[1][l] * off_[1][l] + off_[2][l] * off_[2][l];
      if (r2_ > d2) mask |= Mask{1} << l;
    }
    const bool ok = mask == 0 || visit(node, mask);
    for (Mask m = far; m != 0; m &= m - 1) {
      const int l = std::countr_zero(m);
      off_[axis][l] = saved[l];
    }
    return ok;
  }

  const std::vector<Tree::Node>& nodes_;
  const std::vector<Point3D>& pos_;
  std::uint32_t root_;
  double r2_;
  double q_[3][kLanes] = {};    // the lanes' points, one row per axis
  double off_[3][kLanes] = {};  // per lane, the offsets of the current cell from its point
  std::vector<std::uint32_t> lists_[kLanes];  // lane l's list: its first sizes_[l] entries
  std::size_t sizes_[kLanes] = {};
  std::size_t found_ = 0;
  std::size_t limit_ = 0;
};

}  // namespace

void Neighbourhoods::build(const std::vector<Patch>& patches, double r2, unsigned threads) {
  count_ = patches.size();
  r2_ = r2;
  tree_.reset();
  tree_.emplace(patches, threads);
  entries_.resize(count_);
  const std::vector<Point3D>& pos = tree_->node_positions();
  const std::vector<Tree::Node>& nodes = tree_->node_list();
  const std::size_t nblocks = (count_ + kBlock - 1) / kBlock;
  if (blocks_.size() < nblocks) blocks_.resize(nblocks);
  std::vector<GroupQuery> walkers(worker_count(nblocks, threads), GroupQuery(*tree_, r2));
  // The lists of all blocks together may hold kMaxStoredMean entries per patch; the group that
  // takes the total past that ends the storing. Whether it is passed does not depend on the
  // order in which the groups add their entries.
  const std::size_t budget = count_ * kMaxStoredMean;
  std::atomic<std::size_t> total{0};
  std::atomic<bool> over{false};
  parallel_for(nblocks, threads, [&](std::size_t b, unsigned w) {
    std::vector<std::uint32_t>& block = blocks_[b];
    block.clear();
    const std::size_t end = std::min(count_, (b + 1) * kBlock);
    for (std::size_t first = b * kBlock; first < end; first += kGroup) {
      if (over.load(std::memory_order_relaxed)) return;
      const std::size_t n = std::min(kGroup, end - first);
      GroupQuery& walk = walkers[w];
      const std::size_t before = total.load(std::memory_order_relaxed);
      if (!walk.run({pos.data() + first, n}, budget - std::min(budget, before)) ||
          total.fetch_add(walk.found(), std::memory_order_relaxed) + walk.found() > budget) {
        over = true;
        return;
      }
      for (std::size_t l = 0; l < n; ++l) {
        const std::span<const std::uint32_t> list = walk.list(static_cast<int>(l));
        entries_[nodes[first + l].index] = Entry{static_cast<std::uint32_t>(b),
                                                 static_cast<std::uint32_t>(block.size()),
                                                 static_cast<std::uint32_t>(list.size())};
        block.insert(block.end(), list.begin(), list.end());
      }
    }
  });
  stored_ = !over;
  if (!stored_) {
    for (std::vector<std::uint32_t>& block : blocks_) std::vector<std::uint32_t>().swap(block);
  }
}

std::span<const std::uint32_t> Neighbourhoods::of(std::size_t i,
                                                  const std::vector<Patch>& patches,
                                                  std::vector<std::uint32_t>& scratch) const {
  if (stored_) {
    const Entry& e = entries_[i];
    return {blocks_[e.block].data() + e.start, e.count};
  }
  tree_->neighbors(patches[i].pos, patches, r2_, scratch);
  return {scratch.data(), scratch.size()};
}

}  // namespace tervik
