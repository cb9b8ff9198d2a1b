#pragma once
// KD-tree over a vector of records with a `pos` member (Point3D), normally Patch.
//
// Conventions:
// - The tree stores indices into the vector it was built from. Every query must be given that
//   same vector, unchanged, as its `points` argument; changing the vector invalidates the tree.
// - All distances are squared Euclidean distances of positions; radius queries take the
//   squared radius r2 (pass radius * radius).
// - A tree serves one k-nearest query at a time (they reuse the tree's candidate buffer); radius
//   queries are const and may run in several threads at once.
//
// Nodes live in one vector in depth-first order and refer to their children by node number,
// so the tree is built with two allocations, copies as a plain value and queries allocate
// nothing beyond growing the caller's output vector and, once per larger k, the candidates.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <system_error>
#include <thread>
#include <vector>

#include "common/patch.h"
#include "tervik/exceptions.h"
#include "tervik/points.h"

namespace tervik {

// Build-time record: the position of an element and its index in the source vector.
template <typename T>
struct Ordered {
  Point3D pos;
  uint32_t index = 0;
};

// Spatial index answering k-nearest and radius queries about the positions of T records.
template <typename T>
class KDTree {
 public:
  // Orders two build records by one coordinate of their positions, ascending. NaN sorts after
  // every number, so that corrupt positions cannot break the sort.
  struct Compare {
    uint32_t axis = 0;  // 0 = x, 1 = y, 2 = z
    bool operator()(const Ordered<T>& a, const Ordered<T>& b) const {
      const double u = a.pos[axis], v = b.pos[axis];
      return u < v || (!std::isnan(u) && std::isnan(v));
    }
  };

  // One stored element: its source index, split axis and children (kNoNode when empty).
  struct Node {
    uint32_t index;
    uint32_t axis;
    uint32_t left;
    uint32_t right;
  };
  static constexpr uint32_t kNoNode = std::numeric_limits<uint32_t>::max();

  // Builds the tree over `points` in O(n log n). Throws TervikError if there are 2^32 or more.
  explicit KDTree(const std::vector<T>& points) : KDTree(points, 1) {}

  // The same tree, built on up to `threads` threads: the subtrees below the top splits are built
  // side by side.
  KDTree(const std::vector<T>& points, unsigned threads);

  // Fills `out` (cleared first) with the indices of the min(k, n) elements nearest to `query`,
  // nearest first. At equal distance the element found later in the search comes first, and
  // one as far as the worst of k candidates already held is not taken.
  void nearest_neighbors(const Point3D& query, const std::vector<T>& points,
                         std::vector<unsigned int>& out, unsigned int k);
  void nearest_neighbors(const T& query, const std::vector<T>& points,
                         std::vector<unsigned int>& out, unsigned int k) {
    nearest_neighbors(query.pos, points, out, k);
  }

  // Fills `out` (cleared first, room for 5000 reserved) with the indices of all elements whose
  // squared distance to `query` is strictly less than `r2`, in visiting order: a node's own
  // element, then its subtree on the query's side, then the other subtree. Not sorted.
  void neighbors(const Point3D& query, const std::vector<T>& points, double r2,
                 std::vector<unsigned int>& out) const;
  void neighbors(const T& query, const std::vector<T>& points, double r2,
                 std::vector<unsigned int>& out) const {
    neighbors(query.pos, points, r2, out);
  }

  // The same indices in the same order as neighbors(), appended to `out` (not cleared, no
  // reservation). Returns how many were appended.
  std::size_t append_neighbors(const Point3D& query, const std::vector<T>& points, double r2,
                               std::vector<unsigned int>& out) const;

  // Number of elements the tree was built over.
  uint32_t size() const { return count; }
  // The nodes in depth-first order and the root's number (kNoNode when empty), for walks made
  // outside the class.
  const std::vector<Node>& node_list() const { return nodes; }
  // The position of every node's element, in node order (the same as node_list()).
  const std::vector<Point3D>& node_positions() const { return node_pos; }
  uint32_t root_node() const { return root; }
  bool empty() const { return root == kNoNode; }
  // Releases all nodes and the candidate buffer; the tree is then empty.
  void destroy();

 private:
  struct Candidate {
    uint32_t index;
    double d2;
  };

  uint32_t kdtree(std::vector<Ordered<T>>& ordered, uint32_t start, uint32_t end, uint32_t id,
                  unsigned threads);
  void nn(uint32_t node, const Point3D& q, const std::vector<T>& points);
  void _check_points(const std::vector<T>& points) const {
    TERVIK_CHECK(points.size() == count, "KDTree query given " << points.size()
                                             << " points, the tree was built over " << count);
  }

  // Subtrees of fewer elements are built on the thread that reached them.
  static constexpr uint32_t kParallelBuild = 20000;

  uint32_t root = kNoNode;
  std::vector<Node> nodes;
  // The position of every node's element, in node order: the radius query reads these instead
  // of reaching into the source vector.
  std::vector<Point3D> node_pos;
  // Working result of a k-nearest query: the first `held` entries, ascending by d2.
  std::vector<Candidate> candidates;
  uint32_t held = 0;
  uint32_t k = 0;
  uint32_t count = 0;
};

template <typename T>
KDTree<T>::KDTree(const std::vector<T>& points, unsigned threads) {
  TERVIK_CHECK(points.size() < std::numeric_limits<uint32_t>::max(),
               "KDTree over " << points.size() << " points: at most 2^32 - 2 are supported");
  count = static_cast<uint32_t>(points.size());
  std::vector<Ordered<T>> ordered(count);
  for (uint32_t i = 0; i < count; ++i) ordered[i] = Ordered<T>{points[i].pos, i};
  nodes.resize(count);
  // Filled with the nodes: a gather from `points` afterwards would read them in scattered order,
  // on one thread (at 200000 points, 13 of the build's 60 ms).
  node_pos.resize(count);
  root = kdtree(ordered, 0, count, 0, threads);
}

// Builds the subtree over ordered[start, end) with its root at node `id`; its nodes take the
// numbers id to id + (end - start) - 1 in depth-first order, the left subtree's first.
template <typename T>
uint32_t KDTree<T>::kdtree(std::vector<Ordered<T>>& ordered, uint32_t start, uint32_t end,
                           uint32_t id, unsigned threads) {
  if (start == end) return kNoNode;
  // 1. Bounding box of the range.
  Point3D lo = ordered[start].pos, hi = lo;
  for (uint32_t i = start + 1; i < end; ++i) {
    const Point3D& p = ordered[i].pos;
    for (int a = 0; a < 3; ++a) {
      if (p[a] < lo[a]) {
        lo[a] = p[a];
      } else if (p[a] > hi[a]) {
        hi[a] = p[a];
      }
    }
  }
  // 2. Split along the longest extent; ties prefer x, then y.
  const double ex = hi.x - lo.x, ey = hi.y - lo.y, ez = hi.z - lo.z;
  uint32_t axis = 2;
  if (ex >= ey && ex >= ez) {
    axis = 0;
  } else if (ey >= ex && ey >= ez) {
    axis = 1;
  }
  // 3. The median by that coordinate goes to the middle; smaller ones before, larger after.
  const uint32_t m = static_cast<uint32_t>((uint64_t{start} + end) / 2);
  std::nth_element(ordered.begin() + start, ordered.begin() + m, ordered.begin() + end,
                   Compare{axis});
  // 4. Depth-first: the node first, then its two subtrees. They own disjoint ranges of the
  //    elements and of the nodes, so a large one may be built on a thread of its own.
  const uint32_t right_id = id + 1 + (m - start);
  uint32_t right = kNoNode;
  std::thread side;
  if (threads > 1 && end - start >= kParallelBuild) {
    try {
      side = std::thread([&, threads] {
        right = kdtree(ordered, m + 1, end, right_id, threads / 2);
      });
    } catch (const std::system_error&) {
      // No thread to spare: both subtrees are built here.
    }
  }
  const unsigned left_threads = side.joinable() ? threads - threads / 2 : threads;
  const uint32_t left = kdtree(ordered, start, m, id + 1, left_threads);
  if (side.joinable()) {
    side.join();
  } else {
    right = kdtree(ordered, m + 1, end, right_id, threads);
  }
  nodes[id] = Node{ordered[m].index, axis, left, right};
  node_pos[id] = ordered[m].pos;
  return id;
}

template <typename T>
void KDTree<T>::nearest_neighbors(const Point3D& query, const std::vector<T>& points,
                                  std::vector<unsigned int>& out, unsigned int k_wanted) {
  _check_points(points);
  out.clear();
  // The list never holds more than the whole set, so neither buffer is sized beyond it.
  k = std::min<uint32_t>(k_wanted, count);
  held = 0;
  if (k == 0) return;
  if (candidates.size() < k) candidates.resize(k);
  nn(root, query, points);
  out.reserve(k);
  for (uint32_t i = 0; i < held; ++i) out.push_back(candidates[i].index);
}

template <typename T>
void KDTree<T>::nn(uint32_t node, const Point3D& q, const std::vector<T>& points) {
  Candidate* list = candidates.data();
  while (node != kNoNode) {
    const Node& n = nodes[node];
    const Point3D& p = points[n.index].pos;
    const double d2 = dist2(q, p);
    // 1. Take the element if the list has room or it beats the worst candidate; it goes in
    //    front of every candidate that is not strictly nearer.
    if (held < k || d2 < list[held - 1].d2) {
      if (held == k) --held;
      uint32_t at = 0;
      while (at < held && list[at].d2 < d2) ++at;
      for (uint32_t i = held; i > at; --i) list[i] = list[i - 1];
      list[at] = Candidate{n.index, d2};
      ++held;
    }
    // 2. Search the query's side first, then the far side only if it may hold nearer ones.
    const uint32_t a = n.axis;
    const double diff = q[a] - p[a];
    const bool right_is_near = q[a] > p[a];
    nn(right_is_near ? n.right : n.left, q, points);
    if (held < k || list[held - 1].d2 > diff * diff) {
      node = right_is_near ? n.left : n.right;
    } else {
      break;
    }
  }
}

template <typename T>
void KDTree<T>::neighbors(const Point3D& query, const std::vector<T>& points, double r2,
                          std::vector<unsigned int>& out) const {
  out.clear();
  out.reserve(5000);
  append_neighbors(query, points, r2, out);
}

template <typename T>
std::size_t KDTree<T>::append_neighbors(const Point3D& q, const std::vector<T>& points, double r2,
                                        std::vector<unsigned int>& out) const {
  _check_points(points);
  const std::size_t before = out.size();
  // Depth-first: a node's element, then its subtree on the query's side, then the other one.
  // Far subtrees wait on a stack with the per-axis offsets of their cell from the query (0 on an
  // axis where the query lies within the cell's range). A cell whose squared distance, summed in
  // the order dist2 sums, is not below r2 holds no element that could be found: every element's
  // coordinate offsets are at least as large and rounding preserves the order. Skipping such
  // cells therefore leaves the elements and their order as a plain walk finds them; the plain
  // walk skips a far side only when the split plane's own offset rules it out.
  struct Pending {
    uint32_t node;
    double off[3];
  };
  // A median-split tree over fewer than 2^32 elements is at most 32 levels deep, and each level
  // of the current path leaves at most one pending far side.
  Pending stack[64];
  int top = 0;
  uint32_t node = root;
  double off[3] = {0.0, 0.0, 0.0};
  for (;;) {
    while (node != kNoNode) {
      const Node& n = nodes[node];
      const Point3D& p = node_pos[node];
      if (r2 > dist2(q, p)) out.push_back(n.index);
      const uint32_t a = n.axis;
      const bool right_is_near = q[a] > p[a];
      const uint32_t far = right_is_near ? n.left : n.right;
      if (far != kNoNode) {
        Pending& next = stack[top];
        next.node = far;
        next.off[0] = off[0];
        next.off[1] = off[1];
        next.off[2] = off[2];
        next.off[a] = q[a] - p[a];
        const double d2 = next.off[0] * next.off[0] + next.off[1] * next.off[1] +
                          next.off[2] * next.off[2];
        if (r2 > d2) ++top;
      }
      node = right_is_near ? n.right : n.left;
    }
    if (top == 0) break;
    --top;
    node = stack[top].node;
    off[0] = stack[top].off[0];
    off[1] = stack[top].off[1];
    off[2] = stack[top].off[2];
  }
  return out.size() - before;
}

template <typename T>
void KDTree<T>::destroy() {
  root = kNoNode;
  std::vector<Node>().swap(nodes);
  std::vector<Point3D>().swap(node_pos);
  std::vector<Candidate>().swap(candidates);
  held = 0;
  k = 0;
  count = 0;
}

}  // namespace tervik
