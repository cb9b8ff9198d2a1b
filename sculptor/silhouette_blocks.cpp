#include "sculptor/silhouette_blocks.h"

#include <algorithm>
#include <cstring>

namespace tervik {

namespace {

// The top bit of every byte: set exactly for the values 128 to 255 (foreground).
constexpr std::uint64_t kTopBits = 0x8080808080808080ull;

}  // namespace

SilhouetteBlocks::SilhouetteBlocks(const unsigned char* pixels, std::int64_t width,
                                   std::int64_t height)
    : wide_((width + kSide - 1) / kSide), high_((height + kSide - 1) / kSide) {
  const std::size_t n = static_cast<std::size_t>(wide_ * high_);
  blocks_.assign(n, Block{0, 0});
  if (n == 0) return;
  std::vector<std::uint8_t> classes(n, 0);
  // 1. Classes: per block, the AND and the OR of its pixels' top bits, 8 pixels per word (the
  // last, partial column by bytes, its AND starting full and cleared by a background pixel).
  const std::int64_t whole = width / kSide;
  for (std::int64_t by = 0; by < high_; ++by) {
    const std::int64_t y0 = by * kSide, y1 = std::min(y0 + kSide, height);
    std::uint8_t* out = classes.data() + by * wide_;
    for (std::int64_t bx = 0; bx <= whole && bx < wide_; ++bx) {
      std::uint64_t all = kTopBits, any = 0;
      if (bx < whole) {
        for (std::int64_t y = y0; y < y1; ++y) {
          std::uint64_t word;
          std::memcpy(&word, pixels + y * width + bx * kSide, sizeof word);
          all &= word;
          any |= word;
        }
        all &= kTopBits;
        any &= kTopBits;
      } else {
        for (std::int64_t y = y0; y < y1; ++y)
          for (std::int64_t x = whole * kSide; x < width; ++x) {
            const std::uint64_t bit = pixels[y * width + x] & 0x80u;
            any |= bit;
            if (!bit) all = 0;
          }
      }
      out[bx] = any == 0 ? kBackground : all == kTopBits ? kForeground : kMixed;
    }
  }
  // 2. Distances. A mixed block is 0; a pure block next to (8-neighbour) a block of the other
  // pure class is 1: the nearest block of another class is then reached over such a block.
  // The two-pass chessboard transform spreads these seeds, on a copy framed by one block that
  // never lowers a distance.
  constexpr std::uint8_t kFar = 255;
  const std::int64_t pw = wide_ + 2;
  const std::size_t padded = static_cast<std::size_t>(pw * (high_ + 2));
  std::vector<std::uint8_t> c(padded, 0), d(padded, kFar);  // class 0: the frame
  for (std::int64_t by = 0; by < high_; ++by)
    std::copy_n(classes.data() + by * wide_, wide_, c.data() + 1 + (by + 1) * pw);
  const std::int64_t around[8] = {-pw - 1, -pw, -pw + 1, -1, 1, pw - 1, pw, pw + 1};
  for (std::int64_t y = 1; y <= high_; ++y)
    for (std::int64_t x = 1; x <= wide_; ++x) {
      const std::int64_t at = x + y * pw;
      const std::uint8_t own = c[at];
      std::uint8_t v = own == kMixed ? 0 : kFar;
      for (int k = 0; k < 8 && v == kFar; ++k) {
        const std::uint8_t other = c[at + around[k]];
        if (other != 0 && other != own) v = 1;
      }
      d[at] = v;
    }
  // min(v, n + 1) without passing kFar.
  auto relax = [](std::uint8_t v, std::uint8_t n) -> std::uint8_t {
    return n < v ? static_cast<std::uint8_t>(n + 1) : v;
  };
  for (std::int64_t y = 1; y <= high_; ++y)
    for (std::int64_t x = 1; x <= wide_; ++x) {
      std::uint8_t* at = d.data() + x + y * pw;
      std::uint8_t v = *at;
      v = relax(v, at[-1]);
      v = relax(v, at[-pw - 1]);
      v = relax(v, at[-pw]);
      v = relax(v, at[-pw + 1]);
      *at = v;
    }
  for (std::int64_t y = high_; y >= 1; --y)
    for (std::int64_t x = wide_; x >= 1; --x) {
      std::uint8_t* at = d.data() + x + y * pw;
      std::uint8_t v = *at;
      v = relax(v, at[1]);
      v = relax(v, at[pw + 1]);
      v = relax(v, at[pw]);
      v = relax(v, at[pw - 1]);
      *at = v;
    }
  for (std::int64_t y = 0; y < high_; ++y)
    for (std::int64_t x = 0; x < wide_; ++x) {
      const std::size_t at = static_cast<std::size_t>(x + y * wide_);
      blocks_[at] = Block{classes[at], d[static_cast<std::size_t>(x + 1 + (y + 1) * pw)]};
    }
}

}  // namespace tervik
