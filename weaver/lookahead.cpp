#include "weaver/lookahead.h"

#include <algorithm>

namespace tervik {

Lookahead::Lookahead(const PointTree& tree, const std::vector<Point3D>& pos, unsigned int k,
                     unsigned int slots)
    : tree_(tree), pos_(pos), k_(k), slots_(std::max<std::size_t>(slots, 2 * kLead)),
      lists_(slots_.size() * static_cast<std::size_t>(k)) {}

void Lookahead::compute(Slot& slot, std::size_t index, PointTree::Scratch& scratch,
                        std::vector<unsigned int>& buffer) {
  tree_.nearest(slot.query, k_, buffer, scratch);
  slot.count = static_cast<unsigned int>(buffer.size());
  std::copy(buffer.begin(), buffer.end(), lists_.begin() + index * k_);
}

const unsigned int* Lookahead::get(const EdgeQueue& q, const HalfEdge& e, unsigned int& count,
                                   PointTree::Scratch& scratch,
                                   std::vector<unsigned int>& buffer) {
  const uint64_t seq = q.popped() - 1;
  current_seq_ = seq;
  current_.store(seq, std::memory_order_relaxed);
  const std::size_t index = seq % slots_.size();
  Slot& slot = slots_[index];
  const unsigned int* result = nullptr;
  uint64_t t = slot.tag.load(std::memory_order_acquire);
  if (t == tag(seq, kDone)) {
    count = slot.count;
    result = lists_.data() + index * k_;
  } else if (t == tag(seq, kOffered) &&
             slot.tag.compare_exchange_strong(t, tag(seq, kTaken), std::memory_order_acq_rel)) {
    compute(slot, index, scratch, buffer);
    slot.tag.store(tag(seq, kDone), std::memory_order_release);
    count = slot.count;
    result = lists_.data() + index * k_;
  } else {
    // Not offered, or a helper is still at it: computed here rather than waited for.
    tree_.nearest(edge_midpoint(pos_, e), k_, buffer, scratch);
    count = static_cast<unsigned int>(buffer.size());
    result = buffer.data();
  }
  return result;
}

bool Lookahead::claim(Slot& slot, uint64_t seq) {
  uint64_t t = slot.tag.load(std::memory_order_acquire);
  if ((t & 3) == kTaken) return false;
  return slot.tag.compare_exchange_strong(t, tag(seq, kTaken), std::memory_order_acq_rel);
}

void Lookahead::publish(uint64_t first) {
  if (next_offer_ != first) offered_.store(next_offer_, std::memory_order_release);
}

void Lookahead::retire() { current_.store(next_offer_, std::memory_order_relaxed); }

bool Lookahead::work(PointTree::Scratch& scratch, std::vector<unsigned int>& buffer) {
  const uint64_t hi = offered_.load(std::memory_order_acquire);
  uint64_t seq = std::max(current_.load(std::memory_order_relaxed) + kLead,
                          cursor_.load(std::memory_order_relaxed));
  for (; seq < hi; ++seq) {
    const std::size_t index = seq % slots_.size();
    Slot& slot = slots_[index];
    uint64_t t = tag(seq, kOffered);
    if (slot.tag.load(std::memory_order_relaxed) != t) continue;
    if (!slot.tag.compare_exchange_strong(t, tag(seq, kTaken), std::memory_order_acq_rel))
      continue;
    uint64_t c = cursor_.load(std::memory_order_relaxed);
    while (c < seq + 1 && !cursor_.compare_exchange_weak(c, seq + 1, std::memory_order_relaxed)) {
    }
    compute(slot, index, scratch, buffer);
    slot.tag.store(tag(seq, kDone), std::memory_order_release);
    return true;
  }
  return false;
}

LookaheadHelpers::LookaheadHelpers(const std::vector<Lookahead*>& lookaheads,
                                   unsigned int threads)
    : lookaheads_(lookaheads) {
  threads_.reserve(threads);
  for (unsigned int i = 0; i < threads; ++i) threads_.emplace_back([this] { loop(); });
}

LookaheadHelpers::~LookaheadHelpers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void LookaheadHelpers::poke() {
  // A helper that goes to sleep just after this check is woken by a later poke; the mesher
  // never waits for helpers, so a late wake-up costs only time.
  if (sleeping_.load() == 0) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++pokes_;
  }
  wake_.notify_all();
}

void LookaheadHelpers::loop() {
  PointTree::Scratch scratch;
  std::vector<unsigned int> buffer;
  uint64_t seen = 0;
  for (;;) {
    bool worked = false;
    for (Lookahead* l : lookaheads_) {
      if (l->work(scratch, buffer)) {
        worked = true;
        break;
      }
    }
    if (worked) continue;
    std::unique_lock<std::mutex> lock(mutex_);
    if (stop_) return;
    if (pokes_ != seen) {
      seen = pokes_;
      continue;
    }
    ++sleeping_;
    wake_.wait(lock, [&] { return stop_ || pokes_ != seen; });
    --sleeping_;
    seen = pokes_;
  }
}

}  // namespace tervik
