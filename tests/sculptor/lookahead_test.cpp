// Tests of the look-ahead tester: the first passing candidate of every batch is the one a
// sequential scan finds, whatever the helper thread manages to do meanwhile.
#include "sculptor/lookahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

namespace tervik {
namespace {

// A pass rate `rate` decided by the point alone (its first coordinate is uniform in [0, 1)).
bool passes(const Point3D& p, double rate) { return p.x < rate; }

TEST(LookaheadTester, FindsTheFirstPassingCandidateOfEveryBatch) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (double rate : {0.0, 0.02, 0.3, 1.0}) {
    SCOPED_TRACE(rate);
    std::atomic<long> calls{0};
    LookaheadTester tester([&](const Point3D& p) {
      ++calls;
      return passes(p, rate);
    });
    long sequential = 0;  // what a scan in order would test
    for (int batch = 0; batch < 3000; ++batch) {
      const std::size_t n = 1 + rng() % LookaheadTester::kMaxBatch;
      std::vector<Point3D> candidates(n);
      for (Point3D& c : candidates) c = Point3D(u(rng), u(rng), u(rng));
      std::size_t expected = n;
      for (std::size_t k = 0; k < n && expected == n; ++k)
        if (passes(candidates[k], rate)) expected = k;
      sequential += static_cast<long>(std::min(expected + 1, n));
      ASSERT_EQ(tester.first_passing(candidates.data(), n), expected) << "batch " << batch;
    }
    // Every candidate up to the answer was tested at least once (the helper may test a few
    // beyond it, and the caller may test again one the helper was slow to finish).
    EXPECT_GE(calls.load(), sequential);
  }
}

// A test of uneven duration, so that the caller often finds the helper in the middle of a
// candidate and either waits for its result or tests the candidate itself.
TEST(LookaheadTester, SlowAndUnevenTestsGiveTheSameAnswers) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  LookaheadTester tester([](const Point3D& p) {
    volatile double sink = 0.0;
    const int work = static_cast<int>(p.y * 20000);
    for (int i = 0; i < work; ++i) sink = sink + std::sqrt(static_cast<double>(i));
    return passes(p, 0.05);
  });
  for (int batch = 0; batch < 400; ++batch) {
    const std::size_t n = 1 + rng() % LookaheadTester::kMaxBatch;
    std::vector<Point3D> candidates(n);
    for (Point3D& c : candidates) c = Point3D(u(rng), u(rng), u(rng));
    std::size_t expected = n;
    for (std::size_t k = 0; k < n && expected == n; ++k)
      if (passes(candidates[k], 0.05)) expected = k;
    ASSERT_EQ(tester.first_passing(candidates.data(), n), expected) << "batch " << batch;
  }
}

// The helper thread really tests candidates: the caller's first test waits (up to 10 s) until
// the helper has entered the test too (claiming candidate 1, which passes).
TEST(LookaheadTester, TheHelperThreadTakesPart) {
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<int> helper_calls{0};
  bool first = true;
  LookaheadTester tester([&](const Point3D& p) {
    if (std::this_thread::get_id() != caller) {
      ++helper_calls;
    } else if (first) {
      first = false;
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (helper_calls.load() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    }
    return passes(p, 0.5);
  });
  // Candidate 0 fails (the caller tests it), candidate 1 passes.
  const Point3D candidates[3] = {Point3D(0.9, 0, 0), Point3D(0.1, 0, 0), Point3D(0.2, 0, 0)};
  EXPECT_EQ(tester.first_passing(candidates, 3), 1u);
  EXPECT_GT(helper_calls.load(), 0);
}

}  // namespace
}  // namespace tervik
