#pragma once
// Tests candidate points of a sampler ahead of time on a second thread. The sampler draws a
// batch of candidates from a copy of its random sequence, as it would draw them one after the
// other if each were rejected; the batch is tested on the calling thread and a helper thread,
// in increasing order, until one candidate passes. The sampler then replays the batch with its
// own draws up to that candidate, so its draws and decisions are those of one thread.
//
// The calling thread never waits long for the helper: a candidate the helper has claimed but not
// finished soon enough is tested again by the caller (the test is a pure function of the point),
// and whatever the helper finishes after its batch was closed is discarded. Between batches the
// helper spins briefly, then sleeps until the next batch opens.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>

#include "tervik/points.h"

namespace tervik {

class LookaheadTester {
 public:
  static constexpr std::size_t kMaxBatch = 64;

  // Starts the helper thread. `test` is called on both threads at once and must allow that.
  explicit LookaheadTester(std::function<bool(const Point3D&)> test);
  LookaheadTester(const LookaheadTester&) = delete;
  LookaheadTester& operator=(const LookaheadTester&) = delete;
  // Stops and joins the helper thread.
  ~LookaheadTester();

  // The index of the first of candidates[0 .. n) that passes the test, or n when none does
  // (1 <= n <= kMaxBatch). Every candidate before the returned index was tested and failed.
  std::size_t first_passing(const Point3D* candidates, std::size_t n);

  // Candidates of all batches so far that the helper's result decided (for tests).
  std::size_t helper_results() const { return helper_results_; }

 private:
  // A candidate, written by the caller and read by the helper (atomics: the helper may read a
  // slot while the caller rewrites it for the next batch; it then notices the new batch number
  // and drops what it read).
  struct Slot {
    std::atomic<double> x{0.0}, y{0.0}, z{0.0};
    std::atomic<std::uint64_t> done{0};  // batch number once the helper tested it
    std::atomic<bool> passed{false};     // its result, valid when `done` is the batch number
  };

  void helper_loop();
  // One claim of the helper on the open batch; false when there was nothing to claim.
  bool helper_step();

  std::function<bool(const Point3D&)> test_;
  Slot slots_[kMaxBatch];
  // Batch number (odd while the caller writes a batch, even once it is open) and the next index
  // the helper may claim, in one word: batch << 16 | index.
  std::atomic<std::uint64_t> cursor_{0};
  std::atomic<std::uint64_t> batch_{0};
  std::atomic<std::size_t> count_{0};
  // Smallest passing index the helper found in the open batch: batch << 16 | index.
  std::atomic<std::uint64_t> first_{0};
  std::atomic<bool> quit_{false};
  std::size_t helper_results_ = 0;
  std::thread helper_;
};

}  // namespace tervik
