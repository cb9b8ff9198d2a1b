#include "sculptor/resources.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <new>
#include <sstream>

#include "tervik/exceptions.h"

namespace tervik {

namespace {

// Measured peaks are about 125 bytes per point and 13 bytes per pixel and camera; the
// estimate allows for three and one and a quarter times that, and a fixed base.
constexpr std::uint64_t kBytesPerPoint = 400;
constexpr std::uint64_t kBytesPerPixel = 16;
constexpr std::uint64_t kBaseBytes = 64ull << 20;

std::string gibibytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / (1ull << 30));
  return text;
}

}  // namespace

std::uint64_t estimate_run_bytes(long long npoints,
                                 const std::vector<std::pair<std::uint64_t, std::uint64_t>>& sizes) {
  std::uint64_t bytes = kBaseBytes + static_cast<std::uint64_t>(std::max(npoints, 0LL)) * kBytesPerPoint;
  for (const auto& [w, h] : sizes) bytes += w * h * kBytesPerPixel;
  return bytes;
}

std::uint64_t memory_limit_bytes() {
  std::uint64_t limit = 0;
  const auto take = [&](std::uint64_t v) {
    if (v > 0) limit = limit == 0 ? v : std::min(limit, v);
  };
  const long pages = ::sysconf(_SC_PHYS_PAGES), page = ::sysconf(_SC_PAGESIZE);
  if (pages > 0 && page > 0) take(static_cast<std::uint64_t>(pages) * page);
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit rl{};
    if (::getrlimit(resource, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) take(rl.rlim_cur);
  }
  // cgroup v2, then v1: "max" or a very large number means no limit.
  for (const char* file : {"/sys/fs/cgroup/memory.max",
                           "/sys/fs/cgroup/memory/memory.limit_in_bytes"}) {
    std::ifstream in(file);
    std::uint64_t v = 0;
    if (in >> v) take(v);
  }
  return limit;
}

void check_run_memory(long long npoints,
                      const std::vector<std::pair<std::uint64_t, std::uint64_t>>& sizes,
                      std::uint64_t limit) {
  const std::uint64_t need = estimate_run_bytes(npoints, sizes);
  if (limit == 0 || need <= limit) return;
  std::ostringstream os;
  os << "sampling " << npoints << " points per frame over " << sizes.size()
     << " cameras needs about " << gibibytes(need) << " of memory, more than the "
     << gibibytes(limit) << " this process may use: ask for fewer points";
  throw TervikError(os.str());
}

void run_stage(const std::string& what, const std::function<void()>& stage) {
  try {
    stage();
  } catch (const std::bad_alloc&) {
    throw TervikError("out of memory while " + what);
  }
}

}  // namespace tervik
