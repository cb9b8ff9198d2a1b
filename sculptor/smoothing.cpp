#include "sculptor/smoothing.h"

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <span>

#include "sculptor/parallel.h"
#include "tervik/exceptions.h"

namespace tervik {

void smooth_surface(std::vector<Patch>& patches, const StageParameters& params,
                    std::ostream& progress) {
  Neighbourhoods near;
  near.build(patches, params.step * params.step, params.threads);
  std::vector<Patch> work;
  smooth_surface(patches, near, params, progress, work);
}

namespace {

// Smooths the patches j of `patches` for which want(j) holds into work[j] (sized for all);
// returns the neighbours they used.
template <typename Want>
long long smooth_into(std::vector<Patch>& work, const std::vector<Patch>& patches,
                      const Neighbourhoods& near, unsigned threads, Want want) {
  const std::size_t n = patches.size();
  const std::size_t nblocks = (n + Neighbourhoods::kBlock - 1) / Neighbourhoods::kBlock;
  const unsigned workers = worker_count(nblocks, threads);
  std::vector<std::vector<std::uint32_t>> scratch(workers);
  std::vector<long long> used(nblocks, 0);  // neighbours used per block (an exact integer sum)
  parallel_for(nblocks, threads, [&](std::size_t b, unsigned w) {
    const std::size_t begin = b * Neighbourhoods::kBlock;
    const std::size_t end = std::min(n, begin + Neighbourhoods::kBlock);
    long long block_used = 0;  // stored once: other threads write the neighbouring blocks' counts
    for (std::size_t k = begin; k < end; ++k) {
      const std::uint32_t j = near.patch(k);
      if (!want(j)) continue;
      const Patch& p = patches[j];
      const Point3D& x = p.pos;
      const Point3D& normal = p.normal;
      // Sum the positions of the neighbours that face the same way, in query order.
      Point3D sum;
      long m = 0;
      for (std::uint32_t k : near.of(j, patches, scratch[w])) {
        if (k == j || !(dot(normal, patches[k].normal) > -0.3)) continue;
        sum += patches[k].pos;
        ++m;
      }
      Patch moved = p;
      if (m > 0) {
        const Point3D mean = sum * (1.0 / static_cast<double>(m));
        const double t = dot(mean - x, normal);
        moved.pos = x + normal * t;
      }
      work[j] = moved;
      block_used += m;
    }
    used[b] = block_used;
  });
  long long total = 0;
  for (long long u : used) total += u;
  return total;
}

void check_smoothing_arguments(const std::vector<Patch>& patches, const Neighbourhoods& near,
                               const std::vector<Patch>& work) {
  TERVIK_CHECK(near.size() == patches.size(), "smooth_surface: neighbourhoods of "
                                                  << near.size() << " patches given for "
                                                  << patches.size());
  TERVIK_CHECK(&work != &patches, "smooth_surface: the work vector must not be the patches");
}

}  // namespace

void smooth_surface(std::vector<Patch>& patches, const Neighbourhoods& near,
                    const StageParameters& params, std::ostream& progress,
                    std::vector<Patch>& work) {
  check_smoothing_arguments(patches, near, work);
  work.resize(patches.size());
  const long long total =
      smooth_into(work, patches, near, params.threads, [](std::uint32_t) { return true; });
  patches.swap(work);
  report_smoothing(patches.size(), total, progress);
}

long long smooth_range(const std::vector<Patch>& patches, const Neighbourhoods& near,
                       std::size_t first, std::size_t last, unsigned threads,
                       std::vector<Patch>& out) {
  check_smoothing_arguments(patches, near, out);
  TERVIK_CHECK(out.size() == patches.size() && first <= last && last <= patches.size(),
               "smooth_range: patches [" << first << ", " << last << ") and " << out.size()
                                         << " output patches given for " << patches.size());
  return smooth_into(out, patches, near, threads,
                     [first, last](std::uint32_t j) { return j >= first && j < last; });
}

void report_smoothing(std::size_t n, long long used, std::ostream& progress) {
  progress << static_cast<double>(used) / static_cast<double>(n) << " neighs per patch"
           << std::endl;
}

}  // namespace tervik
