#include "weaver/point_tree.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <system_error>
#include <thread>

#include "tervik/exceptions.h"

namespace tervik {

namespace {

// Squared distance with the operations in the order of dist2(): (dx dx + dy dy) + dz dz.
inline double squared_distance(const double q[3], const double p[3]) {
  const double dx = q[0] - p[0], dy = q[1] - p[1], dz = q[2] - p[2];
  return dx * dx + dy * dy + dz * dz;
}

}  // namespace

PointTree::PointTree(const std::vector<Patch>& points, unsigned int threads) {
  TERVIK_CHECK(points.size() < kNoRight,
               "PointTree over " << points.size() << " points: at most 2^29 - 2 are supported");
  const auto count = static_cast<uint32_t>(points.size());
  std::vector<Build> order(count);
  for (uint32_t i = 0; i < count; ++i) order[i] = Build{points[i].pos, i};
  nodes_.resize(count);
  root_ = build(order, 0, count, 0, threads);
  for (const Node& n : nodes_) {
    if (std::isnan(n.p[0]) || std::isnan(n.p[1]) || std::isnan(n.p[2])) has_nan_ = true;
  }
}

uint32_t PointTree::build(std::vector<Build>& order, uint32_t start, uint32_t end, uint32_t id,
                          unsigned int threads) {
  if (start == end) return kNone;
  // Bounding box of the range; a coordinate below the minimum is not compared with the
  // maximum.
  Point3D lo = order[start].pos, hi = lo;
  for (uint32_t i = start + 1; i < end; ++i) {
    const Point3D& p = order[i].pos;
    for (int a = 0; a < 3; ++a) {
      if (p[a] < lo[a]) {
        lo[a] = p[a];
      } else if (p[a] > hi[a]) {
        hi[a] = p[a];
      }
    }
  }
  // Split along the longest extent; ties prefer x, then y.
  const double ex = hi.x - lo.x, ey = hi.y - lo.y, ez = hi.z - lo.z;
  uint32_t axis = 2;
  if (ex >= ey && ex >= ez) {
    axis = 0;
  } else if (ey >= ex && ey >= ez) {
    axis = 1;
  }
  // The median element by that coordinate (NaN after every number) becomes the node.
  const uint32_t m = static_cast<uint32_t>((uint64_t{start} + end) / 2);
  std::nth_element(order.begin() + start, order.begin() + m, order.begin() + end,
                   [axis](const Build& a, const Build& b) {
                     const double u = a.pos[axis], v = b.pos[axis];
                     return u < v || (!std::isnan(u) && std::isnan(v));
                   });
  const Point3D& p = order[m].pos;
  // Depth-first layout: the left subtree, when there is one, starts at the next node and the
  // right one after the left's m - start nodes.
  nodes_[id] = Node{{p.x, p.y, p.z}, order[m].index, axis | (m > start ? kHasLeft : 0)};
  const uint32_t right_id = id + 1 + (m - start);
  uint32_t right = kNone;
  // The two subtrees touch disjoint ranges of `order` and of the nodes: large ones are built
  // side by side.
  constexpr uint32_t kParallelRange = 1 << 15;
  bool left_done = false;
  if (threads > 1 && end - start >= kParallelRange) {
    try {
      std::thread left([&] { build(order, start, m, id + 1, threads / 2); });
      right = build(order, m + 1, end, right_id, threads - threads / 2);
      left.join();
      left_done = true;
    } catch (const std::system_error&) {
      // No thread to be had: built here, below.
    }
  }
  if (!left_done) {
    build(order, start, m, id + 1, 1);
    right = build(order, m + 1, end, right_id, 1);
  }
  nodes_[id].links |= (right == kNone ? kNoRight : right) << 3;
  return id;
}

// One k-nearest search: the candidate list (ascending by squared distance) and its bounds.
struct PointTree::Search {
  const Node* nodes;
  double q[3];
  Scratch::Candidate* list;
  uint32_t k;
  uint32_t held;
  bool unordered;  // a NaN distance was taken: the list may not be sorted
  double bound;    // kBounded: points at squared distance bound or more are passed over

  // With kBounded, points at squared distance `bound` or more are neither taken nor searched
  // for. When k points are still found, bound exceeds the k-th distance, and the answer is
  // the unbounded one: such points would only have been taken to be dropped again, behind
  // every nearer candidate, and the nearer ones are met in the same order.
  template <bool kBounded>
  void run(uint32_t node) {
    while (node != kNone) {
      const Node& n = nodes[node];
      const double d2 = squared_distance(q, n.p);
      // Take the point if the list has room or it beats the worst candidate; it goes in front
      // of every candidate that is not strictly nearer.
      if ((!kBounded || d2 < bound) && (held < k || d2 < list[held - 1].d2)) {
        if (held == k) --held;
        if (unordered || std::isnan(d2)) {
          // Only with NaN positions: the list may be out of order, so scan it from the front.
          unordered = true;
          uint32_t at = 0;
          while (at < held && list[at].d2 < d2) ++at;
          for (uint32_t i = held; i > at; --i) list[i] = list[i - 1];
          list[at] = Scratch::Candidate{d2, index_of(n)};
        } else {
          // The list is sorted: shift the candidates that are not strictly nearer one place back.
          uint32_t at = held;
          while (at > 0 && !(list[at - 1].d2 < d2)) {
            list[at] = list[at - 1];
            --at;
          }
          list[at] = Scratch::Candidate{d2, index_of(n)};
        }
        ++held;
      }
      // The query's side first, then the far side only if it may hold nearer points.
      const uint32_t a = axis_of(n);
      const double diff = q[a] - n.p[a];
      const bool right_is_near = q[a] > n.p[a];
      run<kBounded>(right_is_near ? right_of(n) : left_of(node, n));
      if ((!kBounded || bound > diff * diff) && (held < k || list[held - 1].d2 > diff * diff)) {
        node = right_is_near ? left_of(node, n) : right_of(n);
      } else {
        break;
      }
    }
  }
};

void PointTree::nearest(const Point3D& query, unsigned int k_wanted,
                        std::vector<unsigned int>& out, Scratch& scratch) const {
  out.clear();
  const uint32_t k = std::min<uint32_t>(k_wanted, size());
  if (k == 0) return;
  if (scratch.candidates.size() < k) scratch.candidates.resize(k);
  Search s{nodes_.data(), {query.x, query.y, query.z}, scratch.candidates.data(), k, 0, false, 0.0};
  // The previous answer for the same k bounds this one: no point of it is farther from this
  // query than its k-th distance plus the distance between the two queries.
  const bool finite = std::isfinite(query.x) && std::isfinite(query.y) && std::isfinite(query.z);
  bool done = false;
  if (finite && !has_nan_ && scratch.last_k == k) {
    const double r = std::sqrt(scratch.last_d2) + std::sqrt(dist2(query, scratch.last_query));
    s.bound = r * r * (1 + 1e-9);
    if (std::isfinite(s.bound)) {
      s.run<true>(root_);
      done = s.held == k;
    }
  }
  if (!done) {
    s.held = 0;
    s.unordered = false;
    s.run<false>(root_);
  }
  if (finite && s.held == k && std::isfinite(s.list[k - 1].d2)) {
    scratch.last_k = k;
    scratch.last_query = query;
    scratch.last_d2 = s.list[k - 1].d2;
  } else {
    scratch.last_k = 0;
  }
  out.resize(s.held);
  for (uint32_t i = 0; i < s.held; ++i) out[i] = s.list[i].index;
}

std::vector<uint32_t> PointTree::renumber() {
  std::vector<uint32_t> original(nodes_.size());
  for (uint32_t i = 0; i < nodes_.size(); ++i) {
    original[i] = nodes_[i].index;
    nodes_[i].index = i;
  }
  return original;
}

void PointTree::within(const Point3D& query, double r2, std::vector<unsigned int>& out) const {
  out.clear();
  const double q[3] = {query.x, query.y, query.z};
  within(root_, q, r2, out);
}

void PointTree::within(uint32_t node, const double q[3], double r2,
                       std::vector<unsigned int>& out) const {
  while (node != kNone) {
    const Node& n = nodes_[node];
    if (r2 > squared_distance(q, n.p)) out.push_back(index_of(n));
    const uint32_t a = axis_of(n);
    const double diff = q[a] - n.p[a];
    const bool right_is_near = q[a] > n.p[a];
    within(right_is_near ? right_of(n) : left_of(node, n), q, r2, out);
    if (r2 > diff * diff) {
      node = right_is_near ? left_of(node, n) : right_of(n);
    } else {
      break;
    }
  }
}

uint32_t PointTree::nearest_within(const Point3D& query, double r2) const {
  const double q[3] = {query.x, query.y, query.z};
  // Starting from r2, only points strictly nearer than every one before count: the first of
  // equal distances stays, as it would when scanning within()'s list.
  double best2 = r2;
  uint32_t best = kNone;
  nearest_within(root_, q, best2, best);
  return best;
}

double PointTree::nearest_distance2(const Point3D& query) const {
  const double q[3] = {query.x, query.y, query.z};
  double best2 = std::numeric_limits<double>::infinity();
  uint32_t best = kNone;
  nearest_within(root_, q, best2, best);
  return best2;
}

// The search of within() in the same order, bounded by the best squared distance so far instead
// of r2: every point of the far subtree is at least |diff| away along the axis, and the rounded
// squared distance keeps that order, so a subtree with diff^2 >= best2 holds no nearer point.
// The far subtrees wait on a stack with their diff^2 and are looked at once everything below
// the near side is done (against the best distance then), as a recursion would. The best
// distance only falls, so a far subtree already out of reach when met is not stacked at all.
void PointTree::nearest_within(uint32_t node, const double q[3], double& best2_io,
                               uint32_t& best_io) const {
  struct Far {
    uint32_t node;
    double diff2;
  };
  // One entry per level at most: the median splits keep the depth under 30.
  Far pending[64];
  int held = 0;
  // Kept in registers: the stores through the references would be read back at every node.
  double best2 = best2_io;
  uint32_t best = best_io;
  const Node* const nodes = nodes_.data();
  for (;;) {
    while (node != kNone) {
      const Node& n = nodes[node];
      const uint32_t a = axis_of(n);
      const double diff = q[a] - n.p[a];
      const double diff2 = diff * diff;
      const bool right_is_near = q[a] > n.p[a];
      // The node's own squared distance is no less than diff^2 (a rounded sum of squares is no
      // less than one of them, and a NaN diff makes it NaN): where best2 does not exceed diff^2,
      // neither the node nor its far subtree can hold a nearer point.
      if (best2 > diff2) {
        const double d2 = squared_distance(q, n.p);
        if (d2 < best2) {
          best2 = d2;
          best = index_of(n);
        }
        const uint32_t far = right_is_near ? left_of(node, n) : right_of(n);
        if (far != kNone && best2 > diff2) pending[held++] = Far{far, diff2};
      }
      node = right_is_near ? right_of(n) : left_of(node, n);
    }
    do {
      if (held == 0) {
        best2_io = best2;
        best_io = best;
        return;
      }
      --held;
    } while (!(best2 > pending[held].diff2));
    node = pending[held].node;
  }
}

}  // namespace tervik
