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

void smooth_surface(std::vector<Patch>& patches, const Neighbourhoods& near,
                    const StageParameters& params, std::ostream& progress,
                    std::vector<Patch>& work) {
  TERVIK_CHECK(near.size() == patches.size(), "smooth_surface: neighbourhoods of "
                                                  << near.size() << " patches given for "
                                                  << patches.size());
  TERVIK_CHECK(&work != &patches, "smooth_surface: the work vector must not be the patches");
  const std::size_t n = patches.size();
  work.resize(n);
  const std::size_t nblocks = (n + Neighbourhoods::kBlock - 1) / Neighbourhoods::kBlock;
  const unsigned workers = worker_count(nblocks, params.threads);
  std::vector<std::vector<std::uint32_t>> scratch(workers);
  std::vector<long long> used(nblocks, 0);  // neighbours used per block (an exact integer sum)
  parallel_for(nblocks, params.threads, [&](std::size_t b, unsigned w) {
    const std::size_t begin = b * Neighbourhoods::kBlock;
    const std::size_t end = std::min(n, begin + Neighbourhoods::kBlock);
    long long block_used = 0;  // stored once: other threads write the neighbouring blocks' counts
    for (std::size_t k = begin; k < end; ++k) {
      const std::uint32_t j = near.patch(k);
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
  patches.swap(work);
  progress << static_cast<double>(total) / static_cast<double>(patches.size())
           << " neighs per patch" << std::endl;
}

}  // namespace tervik
