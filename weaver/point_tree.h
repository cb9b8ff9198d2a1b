#pragma once
// The mesher's spatial index: the same tree as KDTree<Patch> (same splits, same node elements,
// same search order, so the same answers down to the order of equal distances), laid out for
// speed: every node carries its point's coordinates, nodes lie in depth-first order, and the
// k-nearest query keeps its candidates in a caller-owned buffer, so that several threads can
// query one tree at once.
#include <cstdint>
#include <vector>

#include "common/patch.h"
#include "tervik/points.h"

namespace tervik {

class PointTree {
 public:
  // Working buffer of a k-nearest query; one per thread, reused by every query. It keeps the
  // previous query and its k-th distance, which bound the search of the next one (answers do
  // not depend on it).
  struct Scratch {
    struct Candidate {
      double d2;
      uint32_t index;
    };
    std::vector<Candidate> candidates;
    uint32_t last_k = 0;  // 0: no previous answer to go by
    Point3D last_query;
    double last_d2 = 0.0;
  };

  // Builds the tree over the positions of `points` (indices 0 .. n - 1), the subtrees of large
  // ranges on up to `threads` threads (the same tree for every count). Throws TervikError for
  // 2^29 - 1 or more points.
  explicit PointTree(const std::vector<Patch>& points, unsigned int threads = 1);

  // Fills `out` (cleared first) with the indices of the min(k, n) points nearest to `query`,
  // nearest first; at equal distance the point found later in the search comes first, and
  // one as far as the worst of k candidates already held is not taken.
  void nearest(const Point3D& query, unsigned int k, std::vector<unsigned int>& out,
               Scratch& scratch) const;

  // Fills `out` (cleared first) with the indices of all points whose squared distance to
  // `query` is strictly less than r2, in visiting order: a node's own point, then its
  // subtree on the query's side, then the other subtree.
  void within(const Point3D& query, double r2, std::vector<unsigned int>& out) const;

  // The index of the point nearest to `query` among those that within(query, r2) lists, and of
  // several as near the one it lists first; kNone when it lists none. Subtrees that hold no
  // point nearer than the best so far are passed over, so this reads far fewer nodes.
  uint32_t nearest_within(const Point3D& query, double r2) const;

  // The squared distance from `query` to the nearest point; infinity where there is none.
  double nearest_distance2(const Point3D& query) const;

  static constexpr uint32_t kNone = 0xffffffffu;

  uint32_t size() const { return static_cast<uint32_t>(nodes_.size()); }

  // Numbers the points by their node (depth-first order, so that points near each other in
  // space get numbers near each other) and returns the original index of each number. Later
  // answers are in the new numbers; their order is unchanged.
  std::vector<uint32_t> renumber();
  // The position of the point with (new) number i.
  Point3D position(uint32_t i) const { return Point3D(nodes_[i].p[0], nodes_[i].p[1], nodes_[i].p[2]); }

 private:
  // 32 bytes: the point's coordinates and index, and in `links` the split axis (bits 0-1),
  // whether a left subtree follows at the next node (bit 2) and the right child (bits 3-31,
  // kNoRight when there is none).
  struct Node {
    double p[3];
    uint32_t index;
    uint32_t links;
  };
  static constexpr uint32_t kHasLeft = 4;
  static constexpr uint32_t kNoRight = (1u << 29) - 1;
  static uint32_t index_of(const Node& n) { return n.index; }
  static uint32_t axis_of(const Node& n) { return n.links & 3; }
  static uint32_t left_of(uint32_t id, const Node& n) { return (n.links & kHasLeft) ? id + 1 : kNone; }
  static uint32_t right_of(const Node& n) {
    const uint32_t r = n.links >> 3;
    return r == kNoRight ? kNone : r;
  }
  struct Build {
    Point3D pos;
    uint32_t index;
  };
  struct Search;

  // Builds the subtree of order[start, end) into the nodes from `id` on; returns its root.
  uint32_t build(std::vector<Build>& order, uint32_t start, uint32_t end, uint32_t id,
                 unsigned int threads);
  void within(uint32_t node, const double q[3], double r2, std::vector<unsigned int>& out) const;
  void nearest_within(uint32_t node, const double q[3], double& best2, uint32_t& best) const;

  std::vector<Node> nodes_;
  uint32_t root_ = kNone;
  bool has_nan_ = false;  // some position has a NaN coordinate: searches go unbounded
};

}  // namespace tervik
