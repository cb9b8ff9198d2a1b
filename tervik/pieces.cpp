#include "tervik/pieces.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace tervik {

void run_pieces(std::size_t pieces, unsigned threads,
                const std::function<void(std::size_t)>& body) {
  const std::size_t workers = std::min<std::size_t>(std::max(threads, 1u), pieces);
  if (workers <= 1) {
    for (std::size_t i = 0; i < pieces; ++i) body(i);
    return;
  }
  std::vector<std::exception_ptr> errors(pieces);
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> first_failed{pieces};
  auto work = [&] {
    for (;;) {
      const std::size_t i = next.fetch_add(1, std::memory_order_relaxed);
      // Pieces are taken in ascending order: once one has failed, later ones cannot matter.
      if (i >= pieces || i > first_failed.load(std::memory_order_relaxed)) return;
      try {
        body(i);
      } catch (...) {
        errors[i] = std::current_exception();
        std::size_t seen = first_failed.load(std::memory_order_relaxed);
        while (i < seen && !first_failed.compare_exchange_weak(seen, i)) {
        }
      }
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(workers - 1);
  for (std::size_t w = 1; w < workers; ++w) {
    try {
      pool.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // the threads that did start share the pieces
    }
  }
  work();
  for (std::thread& t : pool) t.join();
  for (const std::exception_ptr& e : errors)
    if (e) std::rethrow_exception(e);
}

bool format_in_blocks(std::size_t count, std::size_t block, unsigned threads,
                      const std::function<void(std::string&, std::size_t, std::size_t)>& format,
                      const std::function<bool(std::string_view)>& write) {
  block = std::max<std::size_t>(block, 1);
  // A few blocks per thread are formatted together, then written in order: memory stays
  // bounded by the blocks of one round, whatever the record count.
  const std::size_t round = std::max(threads, 1u) * std::size_t{2};
  std::vector<std::string> buffers(round);
  for (std::size_t first = 0; first < count; first += round * block) {
    const std::size_t blocks = std::min(round, (count - first + block - 1) / block);
    run_pieces(blocks, threads, [&](std::size_t j) {
      const std::size_t from = first + j * block;
      buffers[j].clear();
      format(buffers[j], from, std::min(count, from + block));
    });
    for (std::size_t j = 0; j < blocks; ++j)
      if (!write(buffers[j])) return false;
  }
  return true;
}

}  // namespace tervik
