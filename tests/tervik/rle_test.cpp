#include "tervik/rle.h"

#include <gtest/gtest.h>

#include <random>

#include "tervik/exceptions.h"

namespace tervik::compress {
namespace {

using Bytes = std::vector<unsigned char>;

std::string message_of_uncompress(const Bytes& stream, unsigned long long size) {
  try {
    Rle::uncompress(stream, size);
  } catch (const TervikError& e) {
    return e.what();
  }
  return "";
}

TEST(Rle, EscapeSequencesDecode) {
  const unsigned char e = 7;
  // E 0 is one E, E 2 three E, E 3 v four v; other bytes are literals.
  EXPECT_EQ(Rle::uncompress(Bytes{e, 1, e, 0, 2}, 3), (Bytes{1, e, 2}));
  EXPECT_EQ(Rle::uncompress(Bytes{e, e, 2}, 3), (Bytes{e, e, e}));
  EXPECT_EQ(Rle::uncompress(Bytes{e, e, 1}, 2), (Bytes{e, e}));
  EXPECT_EQ(Rle::uncompress(Bytes{e, e, 3, 9}, 4), (Bytes{9, 9, 9, 9}));
  EXPECT_EQ(Rle::uncompress(Bytes{e, e, 127, e}, 128), Bytes(128, e));
  // A two-byte length: top bit set, 15 bits of length; here 0x0123 + 1 copies.
  EXPECT_EQ(Rle::uncompress(Bytes{e, e, 0x81, 0x23, 5}, 0x124), Bytes(0x124, 5));
  EXPECT_EQ(Rle::uncompress(Bytes{e, e, 0xFF, 0xFF, 5}, 0x8000), Bytes(0x8000, 5));
  EXPECT_EQ(Rle::uncompress(Bytes{}, 0), Bytes{});
  EXPECT_EQ(Rle::uncompress(Bytes{e}, 0), Bytes{});
}

TEST(Rle, CompressorPicksRarestEscapeAndCodesRunsByLength) {
  // Every value but 3 and 200 occurs; 3 is the lowest absent one... 0 is absent too.
  Bytes in;
  for (int v = 1; v < 256; ++v) in.push_back(static_cast<unsigned char>(v));
  Bytes out = Rle::compress(in);
  ASSERT_EQ(out[0], 0);  // the only value that never occurs
  EXPECT_EQ(out.size(), 256u);

  // Runs: four 9s -> E 3 9; three 9s -> 9 9 9; one escape -> E 0; 200 of 5 -> E 0x80 199 5.
  in = {9, 9, 9, 9, 1, 9, 9, 9, 1};
  for (int v = 0; v < 256; ++v)
    if (v != 1 && v != 9 && v != 5) in.push_back(static_cast<unsigned char>(v)), in.push_back(v);
  in.insert(in.end(), 200, 5);
  in.push_back(1);  // 1 occurs 3 times, 5 occurs 200 times, others twice: the escape is 0
  out = Rle::compress(in);
  ASSERT_EQ(out[0], 0);
  EXPECT_EQ((Bytes(out.begin() + 1, out.begin() + 9)), (Bytes{0, 3, 9, 1, 9, 9, 9, 1}));
  // the pair of zeros (the escape itself) -> E 1
  EXPECT_EQ((Bytes(out.begin() + 9, out.begin() + 11)), (Bytes{0, 1}));
  EXPECT_EQ((Bytes(out.end() - 5, out.end())), (Bytes{0, 0x80, 199, 5, 1}));
  EXPECT_EQ(Rle::uncompress(out, in.size()), in);
}

TEST(Rle, RandomRoundTripsStayWithinTheBound) {
  std::mt19937 rng(1234);
  for (int trial = 0; trial < 300; ++trial) {
    const std::size_t n = rng() % (trial < 250 ? 600 : 100000);
    const unsigned alphabet = 1 + rng() % 256;
    const unsigned run_bias = rng() % 4;
    Bytes in;
    while (in.size() < n) {
      const unsigned char v = static_cast<unsigned char>(rng() % alphabet);
      const std::size_t k = run_bias == 0 ? 1 : 1 + rng() % (run_bias == 3 ? 40000 : 6);
      in.insert(in.end(), std::min(k, n - in.size()), v);
    }
    const Bytes out = Rle::compress(in);
    ASSERT_LE(out.size(), Rle::max_compressed_size(in.size()));
    ASSERT_EQ(Rle::uncompress(out, in.size()), in) << "trial " << trial;
  }
}

TEST(Rle, MalformedStreamsAreRejected) {
  const unsigned char e = 7;
  EXPECT_EQ(message_of_uncompress(Bytes{e, 1, 2, 3}, 2),
            "Run-length stream decodes to more than the 2 bytes of the array");
  EXPECT_EQ(message_of_uncompress(Bytes{e, e, 0x8F, 0xFF, 1}, 100),
            "Run-length stream decodes to more than the 100 bytes of the array");
  EXPECT_EQ(message_of_uncompress(Bytes{e, 1, e}, 5),
            "Run-length stream ends inside a token at byte 2");
  EXPECT_EQ(message_of_uncompress(Bytes{e, e, 10}, 11),
            "Run-length stream ends inside a token at byte 1");
  EXPECT_EQ(message_of_uncompress(Bytes{e, e, 0x80}, 11),
            "Run-length stream ends inside a token at byte 1");
  EXPECT_EQ(message_of_uncompress(Bytes{e, 1, 2}, 3), "Run-length stream stops after 2 of 3 bytes");
  // The raw form never writes past the destination it is given.
  unsigned char dst[4] = {0, 0, 0, 0};
  const Bytes big{e, e, 100, 1};
  EXPECT_THROW(Rle::uncompress(big.data(), dst, big.size(), 3), TervikError);
  EXPECT_EQ(dst[3], 0);
}

}  // namespace
}  // namespace tervik::compress
