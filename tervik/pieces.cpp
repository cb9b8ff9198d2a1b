#include "tervik/pieces.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
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

namespace {

// The blocks of one format_in_blocks() call on several threads. A block is formatted into the
// slot (block mod slots) once the block that held the slot before has been written; the calling
// thread writes the blocks in order and, while the next one is not ready, formats blocks too.
// So formatting goes on while a block is written, and the memory stays bounded by the slots.
class BlockPipeline {
 public:
  using Format = std::function<void(std::string&, std::size_t, std::size_t)>;

  BlockPipeline(std::size_t count, std::size_t block, std::size_t slots, const Format& format)
      : count_(count),
        block_(block),
        blocks_((count + block - 1) / block),
        slots_(slots),
        format_(format) {}
  BlockPipeline(const BlockPipeline&) = delete;
  BlockPipeline& operator=(const BlockPipeline&) = delete;
  ~BlockPipeline() { stop(); }

  // Starts up to `helpers` threads that format blocks; fewer when the system refuses threads.
  void start(std::size_t helpers) {
    for (std::size_t h = 0; h < helpers; ++h) {
      try {
        helpers_.emplace_back([this] { help(); });
      } catch (const std::system_error&) {
        break;  // the calling thread formats what the others do not
      }
    }
  }

  // Writes the blocks in order; see format_in_blocks.
  bool run(const std::function<bool(std::string_view)>& write) {
    for (std::size_t b = 0; b < blocks_; ++b) {
      Slot& slot = slots_[b % slots_.size()];
      std::unique_lock lock(mutex_);
      while (!slot.ready) {
        if (claimable()) {
          format_claimed(lock);
        } else {
          changed_.wait(lock);
        }
      }
      lock.unlock();
      if (slot.error) std::rethrow_exception(slot.error);
      const bool written = write(slot.bytes);
      lock.lock();
      slot.ready = false;
      written_ = b + 1;
      changed_.notify_all();
      if (!written) return false;
    }
    return true;
  }

  // Tells the helpers to end after their current block and waits for them.
  void stop() {
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : helpers_)
      if (t.joinable()) t.join();
    helpers_.clear();
  }

 private:
  struct Slot {
    std::string bytes;
    std::exception_ptr error;
    bool ready = false;
  };

  // Whether the next block may be formatted now: it exists and its slot has been written.
  bool claimable() const {
    return !stopped_ && claimed_ < blocks_ && claimed_ < written_ + slots_.size();
  }

  // Formats the next block, with the lock released meanwhile. The lock is held on entry and
  // on return.
  void format_claimed(std::unique_lock<std::mutex>& lock) {
    const std::size_t b = claimed_++;
    Slot& slot = slots_[b % slots_.size()];
    lock.unlock();
    slot.bytes.clear();
    try {
      const std::size_t first = b * block_;
      format_(slot.bytes, first, std::min(count_, first + block_));
    } catch (...) {
      slot.error = std::current_exception();
    }
    lock.lock();
    slot.ready = true;
    changed_.notify_all();
  }

  void help() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return stopped_ || claimed_ >= blocks_ || claimable(); });
      if (stopped_ || claimed_ >= blocks_) return;
      format_claimed(lock);
    }
  }

  const std::size_t count_, block_, blocks_;
  std::vector<Slot> slots_;
  const Format& format_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t claimed_ = 0;  // blocks handed out for formatting
  std::size_t written_ = 0;  // blocks written
  bool stopped_ = false;
  std::vector<std::thread> helpers_;
};

}  // namespace

bool format_in_blocks(std::size_t count, std::size_t block, unsigned threads,
                      const std::function<void(std::string&, std::size_t, std::size_t)>& format,
                      const std::function<bool(std::string_view)>& write) {
  block = std::max<std::size_t>(block, 1);
  const std::size_t blocks = count / block + (count % block != 0);
  const std::size_t workers = std::min<std::size_t>(std::max(threads, 1u), blocks);
  if (workers <= 1) {
    std::string bytes;
    for (std::size_t first = 0; first < count; first += block) {
      bytes.clear();
      format(bytes, first, std::min(count, first + block));
      if (!write(bytes)) return false;
    }
    return true;
  }
  // Two slots per thread: a block can wait for its turn while each thread formats another.
  BlockPipeline pipeline(count, block, workers * 2, format);
  pipeline.start(workers - 1);
  const bool written = pipeline.run(write);
  pipeline.stop();
  return written;
}

}  // namespace tervik
