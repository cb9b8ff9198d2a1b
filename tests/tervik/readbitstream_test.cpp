#include "tervik/readbitstream.h"

#include <gtest/gtest.h>

#include <random>

#include "tervik/exceptions.h"
#include "test_util.h"

namespace tervik::io {
namespace {

using tervik::testing::TempDir;

// Bits [pos, pos + n) of the bytes, most significant bit of each byte first.
unsigned long long reference_bits(const std::string& bytes, unsigned long long pos, int n) {
  unsigned long long v = 0;
  for (int i = 0; i < n; ++i) {
    const unsigned long long b = pos + i;
    v = (v << 1) | ((static_cast<unsigned char>(bytes[b / 8]) >> (7 - b % 8)) & 1);
  }
  return v;
}

TEST(ReadBitStream, ReadsAgreeWithBitByBitExtraction) {
  TempDir tmp;
  std::mt19937 rng(8);
  std::string bytes(200, '\0');
  for (auto& c : bytes) c = static_cast<char>(rng());
  const std::string name = tmp.file("bits.bin");
  tervik::testing::write_file(name, bytes);
  ReadBitStream in(name);
  unsigned long long pos = 0;
  while (true) {
    const int n = rng() % 66;  // 0..65; 65 counts as 64
    const int used = n > 64 ? 64 : n;
    if (pos + used > bytes.size() * 8) break;
    ASSERT_EQ(in.tellg(), pos);
    if (n % 3 == 0) {
      ASSERT_EQ(in.read_ahead(n), reference_bits(bytes, pos, used));
    }
    ASSERT_EQ(in.read(n), reference_bits(bytes, pos, used)) << "at bit " << pos << ", " << n;
    pos += used;
  }
  for (unsigned long long target : {0ull, 7ull, 8ull, 241ull, 1599ull}) {
    in.seekg(target);
    ASSERT_EQ(in.tellg(), target);
    ASSERT_EQ(in.read(1), reference_bits(bytes, target, 1));
  }
}

TEST(ReadBitStream, ErrorsBeforeOpenAndAtTheEnd) {
  ReadBitStream unopened;
  const auto message = [](auto f) {
    try {
      f();
    } catch (const TervikError& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_EQ(message([&] { unopened.read(3); }), "Call 'open' before trying to read from a file.");
  EXPECT_EQ(message([&] { unopened.seekg(3); }),
            "Call 'open' before trying to move the pointer from a file.");
  EXPECT_EQ(message([&] { unopened.tellg(); }),
            "Call 'open' before trying to get the position of the pointer in a file.");

  TempDir tmp;
  const std::string name = tmp.file("two.bin");
  tervik::testing::write_file(name, "\xA5\x0F");
  ReadBitStream in(name);
  EXPECT_EQ(in.read(0), 0u);
  EXPECT_EQ(in.read(12), 0xA50u);
  EXPECT_EQ(message([&] { in.read(5); }),
            "Bit stream of file '" + name + "' ends early, after bit 16");
  EXPECT_THROW(ReadBitStream(tmp.file("none.bin")), TervikFileNotFound);
}

}  // namespace
}  // namespace tervik::io
