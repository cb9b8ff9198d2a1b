#pragma once
// Work shared out over threads, for stages whose results do not depend on the order in which
// their pieces are done: every piece writes only its own part of the output.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tervik {

// Calls body(piece, worker) once for every piece in [0, pieces), on up to min(threads, pieces) threads
// (the calling thread is worker 0; the others are started here and joined before the return).
// Pieces are handed out in ascending order to whichever thread is free; worker numbers are below
// min(threads, pieces), so a body may keep per-worker scratch. With threads <= 1 the pieces run
// in order on the calling thread. The first exception a body throws is rethrown here once all
// threads have stopped; pieces not yet started are then skipped.
template <typename Body>
void parallel_for(std::size_t pieces, unsigned threads, Body&& body) {
  const std::size_t workers = std::min<std::size_t>(threads < 1 ? 1 : threads, pieces);
  if (workers <= 1) {
    for (std::size_t i = 0; i < pieces; ++i) body(i, 0u);
    return;
  }
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;
  std::mutex error_mutex;
  auto work = [&](unsigned worker) {
    for (;;) {
      const std::size_t i = next.fetch_add(1, std::memory_order_relaxed);
      if (i >= pieces || failed.load(std::memory_order_relaxed)) return;
      try {
        body(i, worker);
      } catch (...) {
        const std::lock_guard<std::mutex> lock(error_mutex);
        if (!error) error = std::current_exception();
        failed = true;
        return;
      }
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(workers - 1);
  for (std::size_t w = 1; w < workers; ++w) {
    try {
      pool.emplace_back(work, static_cast<unsigned>(w));
    } catch (const std::system_error&) {
      break;  // the threads that did start share the pieces
    }
  }
  work(0u);
  for (std::thread& t : pool) t.join();
  if (error) std::rethrow_exception(error);
}

// The number of workers parallel_for uses for `pieces` pieces on `threads` threads.
inline unsigned worker_count(std::size_t pieces, unsigned threads) {
  return static_cast<unsigned>(std::min<std::size_t>(threads < 1 ? 1 : threads, pieces));
}

}  // namespace tervik
