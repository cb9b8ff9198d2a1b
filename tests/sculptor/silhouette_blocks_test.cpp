#include "sculptor/silhouette_blocks.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace tervik {
namespace {

constexpr std::int64_t kSide = SilhouetteBlocks::kSide;

// The class of block (bx, by), pixel by pixel.
std::uint8_t brute_class(const std::vector<unsigned char>& px, std::int64_t w, std::int64_t h,
                         std::int64_t bx, std::int64_t by) {
  bool fg = false, bg = false;
  for (std::int64_t y = by * kSide; y < std::min((by + 1) * kSide, h); ++y)
    for (std::int64_t x = bx * kSide; x < std::min((bx + 1) * kSide, w); ++x)
      (px[x + y * w] >= 128 ? fg : bg) = true;
  return fg ? (bg ? SilhouetteBlocks::kMixed : SilhouetteBlocks::kForeground)
            : SilhouetteBlocks::kBackground;
}

// Blobs of foreground with scattered pixels near the threshold, on sizes with partial blocks.
TEST(SilhouetteBlocks, ClassesAndDistancesMatchBruteForce) {
  std::mt19937 rng(41);
  const std::int64_t sizes[][2] = {{37, 29}, {64, 48}, {5, 3}, {200, 9}, {333, 250}};
  for (const auto& size : sizes) {
    const std::int64_t w = size[0], h = size[1];
    for (int round = 0; round < 4; ++round) {
      std::vector<unsigned char> px(static_cast<std::size_t>(w * h), 0);
      for (int blob = 0; blob < 3; ++blob) {
        const double cx = rng() % w, cy = rng() % h, r = 2 + rng() % (w / 2 + 2);
        for (std::int64_t y = 0; y < h; ++y)
          for (std::int64_t x = 0; x < w; ++x)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) px[x + y * w] = 255;
      }
      for (int k = 0; k < round * 3; ++k)
        px[rng() % px.size()] = static_cast<unsigned char>(126 + rng() % 4);
      if (round == 3) std::fill(px.begin(), px.end(), 200);  // one class only
      const SilhouetteBlocks blocks(px.data(), w, h);
      ASSERT_EQ(blocks.blocks_wide(), (w + kSide - 1) / kSide);
      ASSERT_EQ(blocks.blocks_high(), (h + kSide - 1) / kSide);
      const std::int64_t bw = blocks.blocks_wide(), bh = blocks.blocks_high();
      std::vector<std::uint8_t> classes;
      for (std::int64_t by = 0; by < bh; ++by)
        for (std::int64_t bx = 0; bx < bw; ++bx) classes.push_back(brute_class(px, w, h, bx, by));
      for (std::int64_t by = 0; by < bh; ++by)
        for (std::int64_t bx = 0; bx < bw; ++bx) {
          const std::uint8_t c = classes[bx + by * bw];
          ASSERT_EQ(blocks.block_class(bx, by), c) << w << "x" << h << " block " << bx << "," << by;
          std::int64_t nearest = 255;
          for (std::int64_t oy = 0; oy < bh; ++oy)
            for (std::int64_t ox = 0; ox < bw; ++ox)
              if (c == SilhouetteBlocks::kMixed || classes[ox + oy * bw] != c)
                nearest = std::min(nearest, std::max(std::abs(ox - bx), std::abs(oy - by)));
          ASSERT_EQ(blocks.distance(bx, by), nearest) << w << "x" << h << " block " << bx << ","
                                                      << by;
        }
    }
  }
}

}  // namespace
}  // namespace tervik
