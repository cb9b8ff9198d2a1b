#pragma once
// Memory bounds of a sculptor run: an estimate of what a run needs, taken before the first
// frame, and the names of the stages in which an allocation can still fail.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tervik {

// An upper estimate of the memory, in bytes, that sampling `npoints` points per frame over
// cameras with the given image sizes (width, height) needs: the point vectors and KD-trees of
// a frame, and per camera its colour image, silhouettes, silhouette classes and depth map.
std::uint64_t estimate_run_bytes(long long npoints,
                                 const std::vector<std::pair<std::uint64_t, std::uint64_t>>& sizes);

// The memory this process may use, in bytes: the smallest of the machine's physical memory, the
// control group's memory limit and the address-space and data-size limits; 0 when unknown.
std::uint64_t memory_limit_bytes();

// Throws TervikError, saying how much the run needs and how much there is, when the estimate
// exceeds `limit` bytes (a limit of 0 checks nothing).
void check_run_memory(long long npoints,
                      const std::vector<std::pair<std::uint64_t, std::uint64_t>>& sizes,
                      std::uint64_t limit);

// Runs `stage`; an allocation failure inside it becomes TervikError "out of memory while
// <what>", so that the message says where the run ran out.
void run_stage(const std::string& what, const std::function<void()>& stage);

}  // namespace tervik
