#pragma once
// Work cut into numbered pieces and done on several threads, with the outcome of doing the pieces
// one after the other: results land in per-piece places, and an error is that of the first
// failing piece. Used by the PLY reader and writers to parse and format records in parallel.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace tervik {

// Calls body(piece) for every piece in [0, pieces) on up to `threads` threads (0 or 1: in order
// on the calling thread). Once all threads have stopped, rethrows the exception of the
// lowest-numbered piece that threw, the one a single thread would have thrown; pieces after a
// failed one may be skipped. Pieces are handed out in ascending order.
void run_pieces(std::size_t pieces, unsigned threads,
                const std::function<void(std::size_t)>& body);

// Formats records [0, count) in blocks of `block` records on up to `threads` threads:
// format(out, first, last) appends the bytes of records [first, last) to the empty `out`. Each
// block's bytes go to write(bytes) in record order, on the calling thread, so the output is the
// same for every thread count. With several threads, blocks are formatted while earlier ones
// are written, at most two per thread ahead of the writing. Stops and returns false as soon as
// write returns false. When format throws, the blocks before the failing one are written and
// its exception is rethrown (the lowest-numbered block's, as with one thread), once every
// thread has stopped.
bool format_in_blocks(std::size_t count, std::size_t block, unsigned threads,
                      const std::function<void(std::string&, std::size_t, std::size_t)>& format,
                      const std::function<bool(std::string_view)>& write);

}  // namespace tervik
