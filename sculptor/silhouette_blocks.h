#pragma once
// A silhouette summarised by square blocks of pixels: each block is all background, all
// foreground or mixed (foreground as projection_test reads it: a value of 128 or more), and each
// carries how far, in blocks, the nearest block of another class lies. A rectangle of pixels
// around a block is then known to be all foreground (or all background) from one lookup.
#include <cstdint>
#include <vector>

namespace tervik {

class SilhouetteBlocks {
 public:
  static constexpr std::int64_t kSide = 8;  // pixels per block side
  static constexpr std::uint8_t kBackground = 1;
  static constexpr std::uint8_t kForeground = 2;
  static constexpr std::uint8_t kMixed = 3;

  SilhouetteBlocks() = default;

  // Summarises the width x height silhouette `pixels` (row after row, stride `width`). Blocks
  // at the right and bottom border hold the pixels that remain.
  SilhouetteBlocks(const unsigned char* pixels, std::int64_t width, std::int64_t height);

  std::int64_t blocks_wide() const { return wide_; }
  std::int64_t blocks_high() const { return high_; }

  // Class of block (bx, by): kBackground, kForeground or kMixed.
  std::uint8_t block_class(std::int64_t bx, std::int64_t by) const {
    return blocks_[static_cast<std::size_t>(bx + by * wide_)].cls;
  }

  // Chebyshev distance, in blocks, from block (bx, by) to the nearest block whose class differs
  // from its own (0 for a mixed block), capped at 255; blocks beyond the grid do not count. So
  // every block within distance() - 1 of (bx, by) has its class.
  std::uint8_t distance(std::int64_t bx, std::int64_t by) const {
    return blocks_[static_cast<std::size_t>(bx + by * wide_)].distance;
  }

 private:
  struct Block {
    std::uint8_t cls;
    std::uint8_t distance;
  };
  std::int64_t wide_ = 0;
  std::int64_t high_ = 0;
  std::vector<Block> blocks_;  // class and distance side by side: one cache line for both
};

}  // namespace tervik
