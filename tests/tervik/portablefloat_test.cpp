#include "tervik/portablefloat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "tervik/exceptions.h"

namespace tervik::io {
namespace {

using Record = std::array<unsigned char, PortableFloat::max_record_size>;

Record encoded(double x, int* length = nullptr) {
  Record r;
  r.fill(0xEE);
  const int n = PortableFloat().encode(x, r.data());
  if (length) *length = n;
  return r;
}

std::string decode_error(const Record& r, int available = 11) {
  try {
    PortableFloat().decode(r.data(), available);
  } catch (const TervikError& e) {
    return e.what();
  }
  return "";
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(PortableFloat, KnownRecords) {
  int n = 0;
  Record r = encoded(1.0, &n);
  EXPECT_EQ(n, 3);
  EXPECT_EQ((std::vector<int>(r.begin(), r.begin() + 3)), (std::vector<int>{0x03, 0x40, 0x01}));
  for (int i = 3; i < 11; ++i) EXPECT_EQ(r[i], 0) << "unused bytes are zero";
  r = encoded(-1.0, &n);
  EXPECT_EQ((std::vector<int>(r.begin(), r.begin() + 3)), (std::vector<int>{0x83, 0x40, 0x01}));
  r = encoded(0.0, &n);
  EXPECT_EQ(n, 2);
  EXPECT_EQ((std::vector<int>(r.begin(), r.begin() + 2)), (std::vector<int>{0x02, 0x40}));
  // Negative zero has no record of its own: it is the zero record, without the sign bit.
  r = encoded(-0.0, &n);
  EXPECT_EQ(n, 2);
  EXPECT_EQ((std::vector<int>(r.begin(), r.begin() + 2)), (std::vector<int>{0x02, 0x40}));
  // 256.5 = (1 + 0.5/256... ) : 1 * 256 + 0.5 -> exponent 1, digits 1, 0, 128.
  r = encoded(256.5, &n);
  EXPECT_EQ((std::vector<int>(r.begin(), r.begin() + n)),
            (std::vector<int>{0x05, 0x41, 0x01, 0x00, 0x80}));
  // 1/512 = 128 * 256^-2: exponent byte 62, one digit.
  r = encoded(1.0 / 512, &n);
  EXPECT_EQ((std::vector<int>(r.begin(), r.begin() + n)), (std::vector<int>{0x03, 0x3E, 0x80}));
  // Exponents outside -64..63 take two bytes: 2^520 = 1 * 256^65, 65 + 0xBFFF = 0xC040.
  r = encoded(std::ldexp(1.0, 520), &n);
  EXPECT_EQ((std::vector<int>(r.begin(), r.begin() + n)),
            (std::vector<int>{0x04, 0xC0, 0x40, 0x01}));
  const PortableFloat pf;
  const Record one = {0x03, 0x40, 0x01};
  EXPECT_EQ(pf.decode(one.data()), 1.0);
  const Record minus_one = {0x83, 0x40, 0x01};
  EXPECT_EQ(pf.decode(minus_one.data()), -1.0);
  const Record zero = {0x02, 0x40};
  EXPECT_TRUE(same_bits(pf.decode(zero.data()), 0.0));
  r = encoded(-0.0, &n);
  EXPECT_TRUE(same_bits(pf.decode(r.data()), 0.0)) << "-0.0 comes back as +0.0";
}

TEST(PortableFloat, EveryKindOfDoubleRoundTripsBitForBit) {
  const PortableFloat pf;
  std::mt19937_64 rng(99);
  std::vector<double> values = {0.0, 1.0, 255.0, 256.0, 1e-300, -3.5e300,
                                std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::min() * 1024,
                                std::ldexp(1.0, -1016), 0.1, 1.0 / 3.0};
  for (int i = 0; i < 20000; ++i) {
    // Random bit patterns with exponents inside the decodable range (above 256^-127).
    const double x = std::ldexp(std::ldexp(double(rng() >> 11), -53) + 0.5,
                                int(rng() % 2030) - 1014);
    values.push_back(rng() & 1 ? -x : x);
  }
  for (double x : values) {
    Record r;
    const int n = pf.encode(x, r.data());
    ASSERT_GE(n, 2);
    ASSERT_LE(n, 11);
    ASSERT_EQ(r[0] & 0x7F, n);
    ASSERT_TRUE(same_bits(pf.decode(r.data()), x)) << x;
  }
}

TEST(PortableFloat, OverflowUnderflowAndBadRecords) {
  const std::string overflow = "The float value read causes an overflow on this machine";
  const std::string underflow = "The float value read causes an underflow on this machine";
  // Exponent 128 (0xC07F = 128 + 0xBFFF) is beyond the largest double.
  EXPECT_EQ(decode_error({0x04, 0xC0, 0x7F, 0x01}), overflow);
  // Exponent 127 with the largest mantissa 255.999... is fine, with 256 in digits is not.
  EXPECT_EQ(decode_error(encoded(std::numeric_limits<double>::max())), "");
  EXPECT_EQ(decode_error({0x0B, 0xC0, 0x7E, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
            overflow);
  // Exponent -128 exhausts the table; a zero mantissa at a negative exponent yields zero.
  EXPECT_EQ(decode_error({0x04, 0xBF, 0x7F, 0x01}), underflow);
  EXPECT_EQ(decode_error(encoded(std::ldexp(1.0, -1074))), underflow);  // 256^-135
  EXPECT_EQ(decode_error({0x03, 0x3F, 0x00}), underflow);
  // The record's own length must fit 2..11 and the bytes that are there.
  EXPECT_EQ(decode_error({0x0C, 0x40, 0x01}), "Float record length 12 is outside 2..11");
  EXPECT_EQ(decode_error({0x01, 0x40}), "Float record length 1 is outside 2..11");
  EXPECT_EQ(decode_error({0x05, 0x40, 0x01}, 4), "Float record length 5 is outside 2..4");
  EXPECT_EQ(decode_error({0x02, 0xC0, 0x40}), "Float record of length 2 has a two-byte exponent");
  Record r;
  EXPECT_THROW(PortableFloat().encode(std::nan(""), r.data()), TervikError);
  EXPECT_THROW(PortableFloat().encode(-HUGE_VAL, r.data()), TervikError);
}

}  // namespace
}  // namespace tervik::io
