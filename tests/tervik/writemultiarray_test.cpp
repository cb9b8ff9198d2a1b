#include "tervik/writemultiarray.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "tervik/exceptions.h"
#include "tervik/multiarray_bytes.h"
#include "tervik/rle.h"
#include "test_util.h"

namespace tervik::io {
namespace {

using namespace tervik::testing::multiarray_bytes;
using tervik::testing::read_file;
using tervik::testing::TempDir;

template <typename T, std::size_t D>
MultiArray<T, D> random_array(std::mt19937_64& rng, bool allow_empty) {
  std::array<std::size_t, D> shape;
  for (auto& e : shape) e = (allow_empty ? 0 : 1) + rng() % 7;
  MultiArray<T, D> a(shape);
  const bool runs = rng() & 1;  // long runs exercise the run-length tokens
  T value{};
  for (std::size_t i = 0; i < a.num_elements(); ++i) {
    if (!runs || rng() % 5 == 0) {
      const auto r = rng();
      if constexpr (std::is_same_v<T, double>)
        value = std::ldexp(double(r >> 11), int(r % 200) - 150) * (r & 1 ? -1 : 1);
      else
        value = static_cast<T>(r);
    }
    a.data()[i] = value;
  }
  return a;
}

template <typename T, std::size_t D>
void check_round_trips(const TempDir& tmp, std::mt19937_64& rng) {
  for (int trial = 0; trial < 20; ++trial) {
    const MultiArray<T, D> a = random_array<T, D>(rng, trial % 5 == 4);
    const std::string name = tmp.file("a" + std::to_string(trial) + ".mult");
    write_multiarray(name, a);
    MultiArray<T, D> b(std::array<std::size_t, D>{});
    ReadMultiArray(name) >> b;
    ASSERT_EQ(std::vector<std::size_t>(a.shape(), a.shape() + D),
              std::vector<std::size_t>(b.shape(), b.shape() + D));
    for (std::size_t i = 0; i < a.num_elements(); ++i)
      ASSERT_EQ(std::memcmp(&a.data()[i], &b.data()[i], sizeof(T)), 0) << i;
  }
}

TEST(MultiArrayFile, WriterRoundTripsEveryTypeAndDimension) {
  TempDir tmp;
  std::mt19937_64 rng(77);
  check_round_trips<unsigned char, 1>(tmp, rng);
  check_round_trips<unsigned char, 2>(tmp, rng);
  check_round_trips<unsigned char, 3>(tmp, rng);
  check_round_trips<unsigned int, 1>(tmp, rng);
  check_round_trips<unsigned int, 2>(tmp, rng);
  check_round_trips<unsigned int, 3>(tmp, rng);
  check_round_trips<long long, 1>(tmp, rng);
  check_round_trips<long long, 2>(tmp, rng);
  check_round_trips<long long, 3>(tmp, rng);
  check_round_trips<double, 1>(tmp, rng);
  check_round_trips<double, 2>(tmp, rng);
  check_round_trips<double, 3>(tmp, rng);
}

TEST(MultiArrayFile, WriterProducesTheDocumentedLayout) {
  TempDir tmp;
  MultiArray<unsigned int, 2> a(2, 3);
  for (std::size_t i = 0; i < 6; ++i) a.data()[i] = 0x01020304u * (i == 5);
  const std::string name = tmp.file("a.mult");
  write_multiarray(name, a);
  const std::string got = read_file(name);
  Bytes raw(24, 0);
  raw[20] = 4, raw[21] = 3, raw[22] = 2, raw[23] = 1;  // element 5, little-endian
  const Bytes expected = header(0, 4, {2, 3}) + rle_payload(compress::Rle::compress(raw));
  EXPECT_EQ(Bytes(got.begin(), got.end()), expected);
  // Element (x, y) = (1, 2) is the last one: dimension 0 varies fastest.
  MultiArray<unsigned int, 2> b;
  ReadMultiArray(name) >> b;
  EXPECT_EQ(b[1][2], 0x01020304u);
}

TEST(MultiArrayFile, WriterRejectsCodingsTheTypeLacks) {
  TempDir tmp;
  try {
    write_multiarray(tmp.file("x.mult"), MultiArray<double, 2>(2, 2), COMPRESS_PARTITION);
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_STREQ(e.what(), "write_multiarray: compress type 1 is not available for this array type");
  }
  const std::string bad = tmp.file("no/dir/x.mult");
  try {
    write_multiarray(bad, MultiArray<unsigned char, 1>(3));
    FAIL() << "no exception";
  } catch (const TervikFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Error in file '" + bad + "': cannot open the file for writing");
  }
}

}  // namespace
}  // namespace tervik::io
