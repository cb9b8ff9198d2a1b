// Tests of the work sharing over threads.
#include "sculptor/parallel.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tervik {
namespace {

// Every piece runs exactly once, on a worker numbered below worker_count.
TEST(ParallelFor, RunsEveryPieceOnceOnNumberedWorkers) {
  for (std::size_t pieces : {0u, 1u, 5u, 1000u}) {
    for (unsigned threads : {0u, 1u, 2u, 7u}) {
      std::vector<std::atomic<int>> runs(pieces);
      std::atomic<unsigned> highest{0};
      parallel_for(pieces, threads, [&](std::size_t i, unsigned worker) {
        ++runs[i];
        unsigned seen = highest.load();
        while (worker > seen && !highest.compare_exchange_weak(seen, worker)) {
        }
      });
      for (std::size_t i = 0; i < pieces; ++i) {
        ASSERT_EQ(runs[i].load(), 1) << i;
      }
      if (pieces > 0) {
        EXPECT_LT(highest.load(), worker_count(pieces, threads));
      }
      const std::size_t wanted = threads == 0 ? 1 : threads;
      EXPECT_EQ(worker_count(pieces, threads), std::min(pieces, wanted));
    }
  }
}

// One thread runs the pieces in order on the caller's thread.
TEST(ParallelFor, OneThreadKeepsTheOrder) {
  std::vector<std::size_t> order;
  parallel_for(6, 1, [&](std::size_t i, unsigned worker) {
    EXPECT_EQ(worker, 0u);
    order.push_back(i);
  });
  EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5}));
}

// An exception of a piece reaches the caller once every thread has stopped.
TEST(ParallelFor, RethrowsAPiecesException) {
  for (unsigned threads : {1u, 3u}) {
    std::atomic<int> done{0};
    try {
      parallel_for(200, threads, [&](std::size_t i, unsigned) {
        if (i == 17) throw std::runtime_error("piece 17 failed");
        ++done;
      });
      FAIL() << "no exception with " << threads << " threads";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "piece 17 failed");
    }
    EXPECT_LT(done.load(), 200);
  }
}

}  // namespace
}  // namespace tervik
