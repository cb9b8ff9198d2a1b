// The fast reading of the frames' PLY files gives, bit for bit, the mesh of the PLY reader, takes
// the files the programs write, and leaves everything else (with the reader's messages) to it.
#include "tools/player/frame_ply.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "test_util.h"
#include "tervik/ply.h"
#include "tools/player/frames.h"

namespace tervik::player {
namespace {

template <class T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && (a.empty() || !std::memcmp(a.data(), b.data(), a.size() * sizeof(T)));
}

// The reader's mesh or its message.
std::string reader_result(const std::string& bytes, tools::GltfMesh& mesh) {
  try {
    mesh = gltf_from_ply(io::parse_ply("f.ply", bytes, io::PlyReadOptions()));
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}

std::string number(std::mt19937& rng, double v) {
  const char* formats[] = {"%f", "%e", "%.17g", "%.9g", "%.3f", "%.25f", "%E"};
  char text[128];
  std::snprintf(text, sizeof text, formats[rng() % 7], v);
  return text;
}

TEST(FramePly, DecimalsReadAsFromCharsReadsThem) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 200000; ++trial) {
    // Random digits around a point, exponents near and far beyond the exact range.
    std::string token = rng() % 2 ? "-" : "";
    const int before = rng() % 12, after = rng() % 14;
    for (int i = 0; i < before; ++i) token += char('0' + rng() % 10);
    if (after > 0 || rng() % 2) token += ".";
    for (int i = 0; i < after; ++i) token += char('0' + (rng() % 3 ? rng() % 10 : 0));
    if (before + after == 0) token += "0";
    if (rng() % 3 == 0) token += (rng() % 2 ? "e" : "E-") + std::to_string(rng() % (rng() % 8 ? 25 : 400));
    double want = 0.0, got = 0.0;
    const auto [ptr, ec] = std::from_chars(token.data(), token.data() + token.size(), want);
    const bool valid = ec == std::errc() && ptr == token.data() + token.size();
    ASSERT_EQ(parse_decimal(token, got), valid) << token;
    if (valid) ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << token << " " << got << " " << want;
  }
  double v;
  for (const char* bad : {"", "-", ".", "1e", "1e+", "+1", "1-2", "0x10", "inf", "1.2.3", "1e5x"})
    EXPECT_FALSE(parse_decimal(bad, v)) << bad;
}

TEST(FramePly, FastPathGivesTheReadersMeshBitForBit) {
  std::mt19937 rng(37);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  int fast = 0;
  for (int trial = 0; trial < 300; ++trial) {
    const bool normals = rng() % 2, colours = rng() % 2, faces = rng() % 3 != 0;
    const bool crlf = rng() % 4 == 0;
    const std::string eol = crlf ? "\r\n" : "\n", gap = rng() % 4 ? " " : " \t ";
    const int n = 1 + rng() % 40, nf = faces ? rng() % 30 : 0;
    std::string text = "ply" + eol + "format ascii 1.0" + eol + "comment trial" + eol +
                       "element vertex " + std::to_string(n) + eol;
    for (const char* p : {"x", "y", "z"})
      text += std::string("property ") + (rng() % 2 ? "float " : "double ") + p + eol;
    if (normals) text += "property float nx" + eol + "property float ny" + eol + "property float nz" + eol;
    if (colours)
      text += "property uchar red" + eol + "property uchar green" + eol + "property uchar blue" + eol;
    if (faces)
      text += "element face " + std::to_string(nf) + eol + "property list uchar int vertex_indices" + eol;
    text += "end_header" + eol;
    for (int i = 0; i < n; ++i) {
      for (int k = 0; k < (normals ? 6 : 3); ++k) {
        // Values from 1e-30 to 1e30 and plain ones, in the formats the programs and others write.
        const double v = rng() % 3 ? unit(rng) : unit(rng) * std::pow(10.0, int(rng() % 61) - 30);
        text += (k ? gap : "") + number(rng, v);
      }
      for (int k = 0; colours && k < 3; ++k) text += " " + std::to_string(rng() % 256);
      text += (rng() % 8 ? "" : " ") + eol;
    }
    for (int f = 0; f < nf; ++f) {
      const int corners = 3 + rng() % 3 * (rng() % 4 == 0);
      text += std::to_string(corners);
      for (int c = 0; c < corners; ++c) text += " " + std::to_string(rng() % n);
      text += eol;
    }
    if (rng() % 4 == 0) text += eol + "  " + eol;
    tools::GltfMesh expected, got;
    ASSERT_EQ(reader_result(text, expected), "") << text;
    const bool took = parse_frame_ply_fast(text, got);
    fast += took;
    EXPECT_TRUE(took) << text;
    if (!took) continue;
    EXPECT_TRUE(same_bits(got.positions, expected.positions)) << text;
    EXPECT_TRUE(same_bits(got.normals, expected.normals)) << text;
    EXPECT_TRUE(same_bits(got.colours, expected.colours)) << text;
    EXPECT_TRUE(same_bits(got.indices, expected.indices)) << text;
  }
  EXPECT_EQ(fast, 300);
}

TEST(FramePly, OtherFilesAndDamageGoToTheReader) {
  const std::string head =
      "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
      "property float z\nproperty uchar red\nproperty uchar green\nproperty uchar blue\n"
      "element face 1\nproperty list uchar int vertex_indices\nend_header\n";
  const std::string rest = "1 0 0 0 0 0\n0 1 0 0 0 0\n3 0 1 2\n";
  // Numbers at the edges of the exact arithmetic (2^53 + 1, 10^22, 10^23, 24 digits).
  const std::string hard = "9007199254740993 1e22 1e-23 7 8 9\n123456789012345678901234 -0 "
                           "2.2250738585072014e-308 7 8 9\n0 1 0 0 0 0\n3 0 1 2\n";
  const std::string cases[] = {
      head + hard,
      head + "0x1p3 0 0 1 2 3\n" + rest,                       // hexadecimal: the reader's
      head + "+1 0 0 1 2 3\n" + rest,                          // a plus sign: the reader's
      head + "0 1-2 1 2 3\n" + rest,                           // not a number
      head + "0 0 0 1 2 3\n\n" + rest,                         // a blank line between records
      head + "0 0 0 1 2 256\n" + rest,                         // colour out of range
      head + "0 0 nan 1 2 3\n" + rest,                         // not finite
      head + "0 0 1e999 1 2 3\n" + rest,                       // out of range
      head + "0 0 0 1 2 3 4\n" + rest,                         // a value too many
      head + "0 0 0 1 2\n" + rest,                             // a value short
      head + "0 0 0 1 2 3\n1 0 0 0 0 0\n0 1 0 0 0 0\n3 0 1 3\n",  // index out of range
      head + "0 0 0 1 2 3\n1 0 0 0 0 0\n0 1 0 0 0 0\n2 0 1\n",    // two corners
      head + "0 0 0 1 2 3\n1 0 0 0 0 0\n",                        // ends early
      head + "0 0 0 1 2 3\n" + rest + "4\n",                   // data after the last element
      head + "0 0 0 1 2 3" + std::string(70000, ' ') + "\n" + rest,  // line too long
      "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nend_header\n1\n",
  };
  testing::TempDir dir;
  for (std::size_t c = 0; c < std::size(cases); ++c) {
    const std::string& bytes = cases[c];
    tools::GltfMesh expected, fast, got;
    const std::string message = reader_result(bytes, expected);
    // Only the first case is one the fast path reads; every case reads as the reader reads it.
    EXPECT_EQ(parse_frame_ply_fast(bytes, fast), c == 0) << c;
    const std::string path = dir.file("f.ply");
    testing::write_file(path, bytes);
    std::string error;
    try {
      got = read_frame_ply(path);
    } catch (const std::exception& e) {
      error = e.what();
    }
    std::string want = message;
    if (const auto at = want.find("f.ply"); at != std::string::npos) want.replace(at, 5, path);
    EXPECT_EQ(error, want) << c;
    EXPECT_TRUE(same_bits(got.positions, expected.positions)) << c;
    EXPECT_TRUE(same_bits(got.indices, expected.indices)) << c;
    if (c == 0) EXPECT_TRUE(same_bits(fast.positions, expected.positions));
  }
}

}  // namespace
}  // namespace tervik::player
