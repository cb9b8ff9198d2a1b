#include "sculptor/colour_fill.h"

#include <algorithm>

#include "common/kdtree.h"
#include "sculptor/parallel.h"
#include "tervik/exceptions.h"

namespace tervik {

std::size_t fill_unseen_colours(std::vector<Patch>& patches, std::vector<std::uint8_t>& coloured,
                                const Neighbourhoods& near, unsigned threads) {
  TERVIK_CHECK(coloured.size() == patches.size() && near.size() == patches.size(),
               "fill_unseen_colours: " << coloured.size() << " flags and neighbourhoods of "
                                       << near.size() << " patches for " << patches.size()
                                       << " patches");
  std::vector<std::uint32_t> open;  // the patches without colour, in index order
  for (std::size_t i = 0; i < patches.size(); ++i)
    if (coloured[i] == 0) open.push_back(static_cast<std::uint32_t>(i));
  if (open.empty() || open.size() == patches.size()) return 0;
  const std::size_t total = open.size();

  // 1. Waves: a wave's patches read the colours of the waves before it alone, so the order in
  //    which they are handled does not matter. The first wave tries every patch without colour,
  //    a later one only those next to the patches the wave before coloured.
  constexpr std::size_t kBlock = 256;  // patches per piece of work
  std::vector<std::uint32_t> wave = open;  // ascending patch indices
  std::vector<std::int64_t> source(open.size());  // per wave entry: the patch copied, or -1
  std::vector<std::vector<std::uint32_t>> scratch(worker_count(open.size(), threads));
  std::vector<std::uint32_t> list_scratch;
  std::vector<std::uint8_t> queued(patches.size(), 0);
  while (!wave.empty()) {
    parallel_for((wave.size() + kBlock - 1) / kBlock, threads, [&](std::size_t b, unsigned w) {
      for (std::size_t j = b * kBlock; j < std::min(wave.size(), (b + 1) * kBlock); ++j) {
        const Point3D& p = patches[wave[j]].pos;
        // The nearest coloured neighbour; at equal distance the lower index, so that the choice
        // does not depend on the order of the list.
        double best = 0;
        std::int64_t from = -1;
        for (const std::uint32_t k : near.of(wave[j], patches, scratch[w])) {
          if (coloured[k] == 0) continue;
          const Point3D d = patches[k].pos - p;
          const double d2 = dot(d, d);
          if (from < 0 || d2 < best || (d2 == best && k < from)) {
            best = d2;
            from = k;
          }
        }
        source[j] = from;
      }
    });
    for (std::size_t j = 0; j < wave.size(); ++j) {
      if (source[j] < 0) continue;
      Patch& p = patches[wave[j]];
      const Patch& q = patches[static_cast<std::size_t>(source[j])];
      p.r = q.r;
      p.g = q.g;
      p.b = q.b;
    }
    std::vector<std::uint32_t> next;
    for (std::size_t j = 0; j < wave.size(); ++j)
      if (source[j] >= 0) coloured[wave[j]] = 1;
    for (std::size_t j = 0; j < wave.size(); ++j) {
      if (source[j] < 0) continue;
      for (const std::uint32_t k : near.of(wave[j], patches, list_scratch)) {
        if (coloured[k] != 0 || queued[k]) continue;
        queued[k] = 1;
        next.push_back(k);
      }
    }
    std::sort(next.begin(), next.end());
    for (const std::uint32_t k : next) queued[k] = 0;
    wave.swap(next);
  }

  // 2. Pieces apart from every coloured patch: the colour of the nearest coloured patch.
  std::vector<std::uint32_t> left;
  for (const std::uint32_t i : open)
    if (coloured[i] == 0) left.push_back(i);
  if (!left.empty()) {
    std::vector<Patch> sources;
    for (std::size_t i = 0; i < patches.size(); ++i)
      if (coloured[i] != 0) sources.push_back(patches[i]);
    KDTree<Patch> tree(sources);
    std::vector<unsigned int> nearest;
    for (const std::uint32_t i : left) {
      tree.nearest_neighbors(patches[i].pos, sources, nearest, 1);
      const Patch& q = sources[nearest[0]];
      patches[i].r = q.r;
      patches[i].g = q.g;
      patches[i].b = q.b;
    }
    for (const std::uint32_t i : left) coloured[i] = 1;
  }
  return total;
}

}  // namespace tervik
