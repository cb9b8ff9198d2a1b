#pragma once
// Neighbour lists of queued border edges, computed ahead by helper threads.
//
// The mesher takes border edges from first-in, first-out queues and, for each live one, asks
// for the k points nearest to the edge's midpoint. That answer depends on the edge alone, so
// helper threads may compute it for the edges queued behind the one in work. The mesher never
// waits for a helper: an answer that is not ready when it is needed is computed on the spot.
// The results therefore do not depend on the number of threads or on their timing.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "common/patch.h"
#include "weaver/halfedge.h"
#include "weaver/point_tree.h"

namespace tervik {

// A first-in, first-out queue of border edges that numbers them: the i-th edge pushed is the
// i-th popped.
class EdgeQueue {
 public:
  void push(const HalfEdge& e) {
    q_.push_back(e);
    ++pushed_;
  }
  bool empty() const { return q_.empty(); }
  // Takes the front edge out of the queue.
  HalfEdge pop() {
    HalfEdge e = q_.front();
    q_.pop_front();
    ++popped_;
    return e;
  }
  // Edges pushed / popped so far.
  uint64_t pushed() const { return pushed_; }
  uint64_t popped() const { return popped_; }
  // The queued edge with number seq (popped() <= seq < pushed()).
  const HalfEdge& at(uint64_t seq) const { return q_[seq - popped_]; }

 private:
  std::deque<HalfEdge> q_;
  uint64_t pushed_ = 0, popped_ = 0;
};

// The midpoint of a border edge: 0.5 * (P[from] + P[to]).
inline Point3D edge_midpoint(const std::vector<Point3D>& pos, const HalfEdge& e) {
  return 0.5 * (pos[e.from] + pos[e.to]);
}

// The k-nearest lists of one queue's edges (positions `pos` by the tree's numbers), in a ring of
// `slots` entries (at least 2 * kLead) ahead of the edge in work. The mesher's thread calls
// get() and offer(); helpers call work().
class Lookahead {
 public:
  Lookahead(const PointTree& tree, const std::vector<Point3D>& pos, unsigned int k,
            unsigned int slots);

  // Mesher: the k nearest points of the midpoint of the edge just popped from q (nearest
  // first, `count` of them). `scratch` and `buffer` serve when the answer has to be computed
  // here.
  const unsigned int* get(const EdgeQueue& q, const HalfEdge& e, unsigned int& count,
                          PointTree::Scratch& scratch, std::vector<unsigned int>& buffer);
  // Mesher, after get(): offers the edges queued behind the current one to the helpers, those
  // for which worth(edge) holds. An edge left out costs nothing unless it is asked for, and
  // then its answer is computed on the spot.
  template <typename Worth>
  void offer(const EdgeQueue& q, Worth worth);
  // Mesher: no more edges of this queue will be asked for.
  void retire();
  // Helper: computes one offered answer; false when none is open.
  bool work(PointTree::Scratch& scratch, std::vector<unsigned int>& buffer);

 private:
  // A slot's tag: (edge number + 1) << 2 | state; 0 for a slot never used.
  enum State : uint64_t { kOffered = 1, kTaken = 2, kDone = 3 };
  // Helpers take only edges queued at least this many places after the one in work: the
  // mesher computes the lists just ahead of it itself, so that it seldom needs a list that a
  // helper is still computing (that list would be computed twice).
  static constexpr uint64_t kLead = 16;
  static uint64_t tag(uint64_t seq, State s) { return ((seq + 1) << 2) | s; }
  struct Slot {
    std::atomic<uint64_t> tag{0};
    Point3D query;
    unsigned int count = 0;
  };

  void compute(Slot& slot, std::size_t index, PointTree::Scratch& scratch,
               std::vector<unsigned int>& buffer);
  // Reserves the slot for edge seq; false while a helper still works on an older edge in it.
  bool claim(Slot& slot, uint64_t seq);
  // Lets helpers see the edges offered since edge `first`.
  void publish(uint64_t first);

  const PointTree& tree_;
  const std::vector<Point3D>& pos_;
  const unsigned int k_;
  std::vector<Slot> slots_;
  std::vector<unsigned int> lists_;  // k_ entries per slot
  uint64_t next_offer_ = 0;          // mesher only
  uint64_t current_seq_ = 0;         // mesher only: the edge of the last get()
  std::atomic<uint64_t> offered_{0};  // edges numbered below may be open
  std::atomic<uint64_t> current_{0};  // the mesher is past the edges numbered below
  std::atomic<uint64_t> cursor_{0};   // where helpers resume their search
};

template <typename Worth>
void Lookahead::offer(const EdgeQueue& q, Worth worth) {
  // The slot of the current edge (current + slots) stays untouched while its list is in use.
  next_offer_ = std::max(next_offer_, current_seq_ + 1);
  const uint64_t limit = std::min<uint64_t>(q.pushed(), current_seq_ + slots_.size());
  const uint64_t first = next_offer_;
  for (; next_offer_ < limit; ++next_offer_) {
    const HalfEdge& e = q.at(next_offer_);
    if (!worth(e)) continue;
    Slot& slot = slots_[next_offer_ % slots_.size()];
    if (!claim(slot, next_offer_)) break;
    slot.query = edge_midpoint(pos_, e);
    slot.tag.store(tag(next_offer_, kOffered), std::memory_order_release);
  }
  publish(first);
}

// Helper threads serving a set of Lookaheads until destroyed. They sleep while nothing is
// offered and are woken by poke().
class LookaheadHelpers {
 public:
  LookaheadHelpers(const std::vector<Lookahead*>& lookaheads, unsigned int threads);
  ~LookaheadHelpers();
  LookaheadHelpers(const LookaheadHelpers&) = delete;
  LookaheadHelpers& operator=(const LookaheadHelpers&) = delete;
  // Wakes sleeping helpers after new edges were offered.
  void poke();

 private:
  void loop();

  std::vector<Lookahead*> lookaheads_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_;
  uint64_t pokes_ = 0;  // under mutex_
  std::atomic<int> sleeping_{0};
  bool stop_ = false;   // under mutex_
};

}  // namespace tervik
