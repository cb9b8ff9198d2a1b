#include "sculptor/colour_fill.h"

#include <algorithm>
#include <cmath>

#include "common/kdtree.h"
#include "sculptor/parallel.h"
#include "tervik/exceptions.h"

namespace tervik {

namespace {

// Value of the colour channel c of a patch.
unsigned char channel(const Patch& p, int c) { return c == 0 ? p.r : c == 1 ? p.g : p.b; }

}  // namespace

std::size_t fill_unseen_colours(std::vector<Patch>& patches, std::vector<std::uint8_t>& coloured,
                                double L, unsigned threads) {
  TERVIK_CHECK(coloured.size() == patches.size(),
               "fill_unseen_colours: " << coloured.size() << " flags for " << patches.size()
                                       << " patches");
  std::vector<std::uint32_t> open;  // the patches without colour, in index order
  for (std::size_t i = 0; i < patches.size(); ++i)
    if (coloured[i] == 0) open.push_back(static_cast<std::uint32_t>(i));
  if (open.empty() || open.size() == patches.size()) return 0;
  const std::size_t total = open.size();

  const KDTree<Patch> tree(patches, threads);
  const double r2 = 4.0 * L * L;
  const double soft = 0.25 * L;
  struct Found {
    bool any = false;
    unsigned char rgb[3] = {0, 0, 0};
  };
  std::vector<Found> found;
  std::vector<std::vector<unsigned int>> lists(worker_count(open.size(), threads));
  // 1. Waves: each reads the colours of the waves before it alone, so the order in which the
  //    patches of one wave are handled does not matter.
  while (!open.empty()) {
    found.assign(open.size(), Found{});
    parallel_for(open.size(), threads, [&](std::size_t j, unsigned w) {
      const Patch& p = patches[open[j]];
      std::vector<unsigned int>& near = lists[std::min<std::size_t>(w, lists.size() - 1)];
      tree.neighbors(p.pos, patches, r2, near);
      // Sorted, so that the sums do not depend on the tree's visiting order.
      std::sort(near.begin(), near.end());
      double sum[3] = {0, 0, 0}, weights = 0;
      for (const unsigned int k : near) {
        if (coloured[k] == 0) continue;
        const double weight = 1.0 / (norm(patches[k].pos - p.pos) + soft);
        for (int c = 0; c < 3; ++c) sum[c] += weight * channel(patches[k], c);
        weights += weight;
      }
      if (!(weights > 0)) return;
      found[j].any = true;
      for (int c = 0; c < 3; ++c)
        found[j].rgb[c] =
            static_cast<unsigned char>(std::clamp(std::lround(sum[c] / weights), 0L, 255L));
    });
    std::vector<std::uint32_t> still;
    for (std::size_t j = 0; j < open.size(); ++j) {
      if (!found[j].any) {
        still.push_back(open[j]);
        continue;
      }
      Patch& p = patches[open[j]];
      p.r = found[j].rgb[0];
      p.g = found[j].rgb[1];
      p.b = found[j].rgb[2];
    }
    for (std::size_t j = 0; j < open.size(); ++j)
      if (found[j].any) coloured[open[j]] = 1;
    if (still.size() == open.size()) break;  // the rest lies apart from every coloured patch
    open.swap(still);
  }
  // 2. Pieces apart: the colour of the nearest coloured patch.
  if (!open.empty()) {
    std::vector<Patch> sources;
    for (std::size_t i = 0; i < patches.size(); ++i)
      if (coloured[i] != 0) sources.push_back(patches[i]);
    KDTree<Patch> nearest(sources);
    std::vector<unsigned int> out;
    for (const std::uint32_t i : open) {
      nearest.nearest_neighbors(patches[i].pos, sources, out, 1);
      const Patch& q = sources[out[0]];
      patches[i].r = q.r;
      patches[i].g = q.g;
      patches[i].b = q.b;
    }
    for (const std::uint32_t i : open) coloured[i] = 1;
  }
  return total;
}

}  // namespace tervik
