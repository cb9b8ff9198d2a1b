#include "sculptor/lookahead.h"

#include <algorithm>
#include <utility>

namespace tervik {

namespace {

constexpr std::uint64_t kIndexBits = 16;
constexpr std::uint64_t kIndexMask = (std::uint64_t{1} << kIndexBits) - 1;

// Spins the caller allows the helper to finish a claimed candidate before testing it itself:
// about one test's time. A helper that takes longer has most likely lost its processor, and
// the caller is better off testing the candidate again.
constexpr int kPatience = 200;

// Idle rounds of the helper before it sleeps until the next batch.
constexpr int kSpinsBeforeSleep = 2000;

}  // namespace

LookaheadTester::LookaheadTester(std::function<bool(const Point3D&)> test)
    : test_(std::move(test)) {
  helper_ = std::thread([this] { helper_loop(); });
}

LookaheadTester::~LookaheadTester() {
  quit_.store(true, std::memory_order_release);
  // A cursor of an odd (unopened) batch wakes a sleeping helper without giving it work.
  cursor_.store((batch_.load(std::memory_order_relaxed) + 1) << kIndexBits,
                std::memory_order_release);
  cursor_.notify_one();
  helper_.join();
}

bool LookaheadTester::helper_step() {
  std::uint64_t c = cursor_.load(std::memory_order_acquire);
  const std::uint64_t batch = c >> kIndexBits;
  const std::size_t k = static_cast<std::size_t>(c & kIndexMask);
  if (batch % 2 != 0 || k >= count_.load(std::memory_order_acquire)) return false;
  if (!cursor_.compare_exchange_strong(c, c + 1, std::memory_order_acq_rel)) return true;
  // Past a candidate that passed already: nothing left worth testing in this batch.
  const std::uint64_t first = first_.load(std::memory_order_acquire);
  if (first >> kIndexBits == batch && k > (first & kIndexMask)) return false;
  Slot& slot = slots_[k];
  const Point3D p(slot.x.load(std::memory_order_relaxed), slot.y.load(std::memory_order_relaxed),
                  slot.z.load(std::memory_order_relaxed));
  // The point belongs to this batch only if no new batch was started meanwhile.
  std::atomic_thread_fence(std::memory_order_acquire);
  if (batch_.load(std::memory_order_relaxed) != batch) return true;
  const bool passed = test_(p);
  slot.passed.store(passed, std::memory_order_relaxed);
  slot.done.store(batch, std::memory_order_release);
  if (passed) {
    std::uint64_t current = first_.load(std::memory_order_acquire);
    const std::uint64_t mine = batch << kIndexBits | k;
    while ((current >> kIndexBits != batch || mine < current) &&
           !first_.compare_exchange_weak(current, mine, std::memory_order_acq_rel)) {
    }
  }
  return true;
}

void LookaheadTester::helper_loop() {
  int idle = 0;
  while (!quit_.load(std::memory_order_acquire)) {
    if (helper_step()) {
      idle = 0;
      continue;
    }
    // Batches follow each other closely while a sampler runs: spin a little, then sleep until
    // the cursor changes (a new batch is opened, or the tester is destroyed).
    if (++idle < kSpinsBeforeSleep) continue;
    idle = 0;
    const std::uint64_t seen = cursor_.load(std::memory_order_acquire);
    if (quit_.load(std::memory_order_acquire)) break;
    const std::uint64_t batch = seen >> kIndexBits;
    if (batch % 2 != 0 || (seen & kIndexMask) >= count_.load(std::memory_order_acquire))
      cursor_.wait(seen, std::memory_order_acquire);
  }
}

std::size_t LookaheadTester::first_passing(const Point3D* candidates, std::size_t n) {
  n = std::min(n, kMaxBatch);
  // 1. A new batch: marked as being written (odd), the slots filled, then opened (even). A
  //    helper still holding a slot of the last batch sees the number change and drops it.
  const std::uint64_t writing = batch_.load(std::memory_order_relaxed) + 1;
  batch_.store(writing, std::memory_order_relaxed);
  cursor_.store(writing << kIndexBits, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  for (std::size_t k = 0; k < n; ++k) {
    slots_[k].x.store(candidates[k].x, std::memory_order_relaxed);
    slots_[k].y.store(candidates[k].y, std::memory_order_relaxed);
    slots_[k].z.store(candidates[k].z, std::memory_order_relaxed);
  }
  const std::uint64_t batch = writing + 1;
  count_.store(n, std::memory_order_relaxed);
  batch_.store(batch, std::memory_order_release);
  cursor_.store(batch << kIndexBits, std::memory_order_release);
  cursor_.notify_one();
  // 2. Both threads claim candidates in increasing order until one has passed below the next
  //    index to claim. result[k]: 1 passed, 0 failed, -1 tested by the helper (or not at all).
  signed char result[kMaxBatch];
  std::fill_n(result, n, static_cast<signed char>(-1));
  std::size_t best = n;  // the first passing index known here
  for (;;) {
    std::uint64_t c = cursor_.load(std::memory_order_acquire);
    const std::size_t k = static_cast<std::size_t>(c & kIndexMask);
    const std::uint64_t helper_first = first_.load(std::memory_order_acquire);
    if (helper_first >> kIndexBits == batch)
      best = std::min(best, static_cast<std::size_t>(helper_first & kIndexMask));
    if (k >= best) break;
    if (!cursor_.compare_exchange_strong(c, c + 1, std::memory_order_acq_rel)) continue;
    result[k] = test_(candidates[k]) ? 1 : 0;
    if (result[k] == 1) best = std::min(best, k);
  }
  // 3. Closed: the helper claims nothing more. Then the candidates in order up to the first that
  //    passes: the helper's results, waited for a little, or tested here when it is slow.
  const std::size_t claimed =
      std::min<std::size_t>(cursor_.exchange(batch << kIndexBits | kIndexMask) & kIndexMask, n);
  std::size_t k = 0;
  for (; k < n; ++k) {
    bool passed;
    if (result[k] >= 0) {
      passed = result[k] == 1;
    } else if (k < claimed) {
      int spins = 0;
      while (slots_[k].done.load(std::memory_order_acquire) != batch && spins < kPatience) ++spins;
      if (slots_[k].done.load(std::memory_order_acquire) == batch) {
        passed = slots_[k].passed.load(std::memory_order_relaxed);
        ++helper_results_;
      } else {
        passed = test_(candidates[k]);
      }
    } else {
      passed = test_(candidates[k]);
    }
    if (passed) break;
  }
  return k;
}

}  // namespace tervik
