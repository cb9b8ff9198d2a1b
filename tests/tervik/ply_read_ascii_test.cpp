// ASCII PLY data read in pieces on several threads: the same model and the same first error as
// reading line by line, whatever the thread count and wherever the pieces are cut.
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tervik/ply.h"

namespace tervik::io {
namespace {

const std::string kPointHeader =
    "ply\nformat ascii 1.0\nelement vertex 40\nproperty float x\nproperty float y\n"
    "property float z\nproperty float nx\nproperty float ny\nproperty float nz\n"
    "property uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n";  // 13 lines

// Record i of a point file: six reals and a colour, as sculptor writes them.
std::string point_line(int i, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  char line[200];
  std::snprintf(line, sizeof line, "%e %e %e %e %e %e %d %d %d", u(rng), u(rng), u(rng), u(rng),
                u(rng), u(rng), i % 256, static_cast<int>(rng() % 256), 7);
  return line;
}

// The 40 records of kPointHeader, one per line (lines 14 to 53), the last with `last_end`.
std::string point_body(const std::string& last_end = "\n") {
  std::mt19937 rng(11);
  std::string body;
  for (int i = 0; i < 40; ++i) body += point_line(i, rng) + (i == 39 ? last_end : "\n");
  return body;
}

// Everything a model holds, exactly (reals in hexadecimal), or the message of the error.
std::string outcome(const std::string& bytes, PlyReadOptions options) {
  options.error_prefix = "E: ";
  try {
    const PlyModel m = parse_ply("f.ply", bytes, options);
    std::string s = std::to_string(m.has_normals) + std::to_string(m.has_colors) +
                    std::to_string(m.has_faces) + "\n";
    char text[200];
    for (std::size_t i = 0; i < m.positions.size(); ++i) {
      const Point3D& p = m.positions[i];
      std::snprintf(text, sizeof text, "%a %a %a", p.x, p.y, p.z);
      s += text;
      if (m.has_normals) s += " " + std::to_string(m.normals[i].x);
      if (m.has_colors) s += " " + std::to_string(m.colors[i].x) + "," + std::to_string(m.colors[i].y);
      s += "\n";
    }
    for (const Coord3D<long long>& f : m.faces)
      s += std::to_string(f.x) + " " + std::to_string(f.y) + " " + std::to_string(f.z) + "\n";
    return s;
  } catch (const std::exception& e) {
    return std::string("error: ") + e.what();
  }
}

// The outcome of one thread and one piece, after checking that 1, 2, 3 and 8 threads with
// pieces of 1 byte (a line each), 5, 13 and 64 bytes (cut inside lines, then moved to their
// ends) and 1 MiB give the same.
std::string same_for_all_pieces(const std::string& bytes, PlyReadOptions options = {}) {
  options.threads = 1;
  options.piece_bytes = 1 << 20;
  const std::string expected = outcome(bytes, options);
  for (unsigned threads : {1u, 2u, 3u, 8u}) {
    for (std::size_t piece : {1, 5, 13, 64}) {
      options.threads = threads;
      options.piece_bytes = piece;
      EXPECT_EQ(outcome(bytes, options), expected) << threads << " threads, pieces of " << piece;
    }
  }
  return expected;
}

PlyReadOptions point_options(unsigned step) {
  PlyReadOptions options;
  options.vertices_only = true;
  options.require_normals = true;
  options.step = step;
  return options;
}

TEST(PlyAsciiPieces, PointFilesReadAlikeOnEveryThreadCount) {
  const std::string plain = kPointHeader + point_body();
  const std::string whole = same_for_all_pieces(plain);
  EXPECT_EQ(std::count(whole.begin(), whole.end(), '\n'), 41);
  EXPECT_EQ(same_for_all_pieces(plain, point_options(1)), whole);
  // Blank lines, blanks around values, CRLF line ends and a last line without a line feed.
  std::string mixed = kPointHeader;
  std::mt19937 rng(11);
  for (int i = 0; i < 40; ++i) {
    if (i % 7 == 3) mixed += "\n \t \r\n";
    mixed += (i % 5 == 0 ? "  " : "") + point_line(i, rng) + (i % 3 == 0 ? " \r\n" : "\n");
  }
  mixed.resize(mixed.size() - 1);
  EXPECT_EQ(same_for_all_pieces(mixed), whole);
  EXPECT_EQ(same_for_all_pieces(mixed, point_options(1)), whole);
  // Every third point.
  const std::string third = same_for_all_pieces(mixed, point_options(3));
  EXPECT_EQ(std::count(third.begin(), third.end(), '\n'), 15);
  EXPECT_EQ(third, same_for_all_pieces(plain, point_options(3)));
}

TEST(PlyAsciiPieces, MeshesAndOtherElementsReadAlike) {
  const std::string mesh =
      "ply\nformat ascii 1.0\nelement note 3\nproperty int n\nelement vertex 5\n"
      "property double x\nproperty double y\nproperty double z\nelement face 4\n"
      "property uchar flags\nproperty list uchar int vertex_indices\nelement edge 2\n"
      "property int a\nproperty int b\nend_header\n"
      "1\n2\n\n3\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n0.5 0.5 1\n"
      "0 3 0 1 4\n1 4 0 1 2 3\n\n2 3 1 2 4\n0 3 2 3 4\n0 1\n  \n2 3\n\n";
  const std::string read = same_for_all_pieces(mesh);
  EXPECT_EQ(read.substr(0, 4), "001\n");
  EXPECT_EQ(read.substr(read.size() - 30), "0 1 4\n0 1 2\n0 2 3\n1 2 4\n2 3 4\n");
}

// Reads the 40-point file with `body` as its data: the message, the same for every piece.
std::string point_error(const std::string& body, bool vertices_only = true) {
  return same_for_all_pieces(kPointHeader + body,
                             vertices_only ? point_options(1) : PlyReadOptions());
}

TEST(PlyAsciiPieces, TheFirstFailingLineWins) {
  std::string body = point_body();
  const auto spoil = [](std::string text, int record, const std::string& by) {
    std::size_t at = 0;
    for (int i = 0; i < record; ++i) at = text.find('\n', at) + 1;
    return text.replace(at, text.find(' ', at) - at, by);
  };
  // Record 5 is line 19, record 30 line 44.
  EXPECT_EQ(point_error(spoil(body, 30, "x")), "error: E: f.ply line 44: value 1 is not a number");
  EXPECT_EQ(point_error(spoil(spoil(body, 30, "x"), 5, "1e999")),
            "error: E: f.ply line 19: value 1 is not a finite number");
  // A blank line that is too long, before a later record, comes before that record's error.
  const std::string long_blank(70000, ' ');
  std::string with_blank = spoil(body, 30, "x");
  with_blank.insert(with_blank.find('\n') + 1, long_blank + "\n");
  EXPECT_EQ(point_error(with_blank), "error: E: f.ply line 15: line longer than 65536 bytes");
  // A whole file may end in blanks of any length, but not in data: a point file too, where
  // no element follows the vertices (more records than the header counts).
  const std::string good = point_error(body);
  EXPECT_EQ(good.substr(0, 4), "110\n");
  EXPECT_EQ(point_error(body + long_blank + "\n" + long_blank + "x\n"),
            "error: E: f.ply line 55: unexpected data after the last element");
  EXPECT_EQ(point_error(body + long_blank + "\n\n", false), good);
  EXPECT_EQ(point_error(body + "\n" + long_blank + "x\n", false),
            "error: E: f.ply line 55: unexpected data after the last element");
  EXPECT_EQ(point_error(spoil(body, 39, "y") + "\n7\n", false),
            "error: E: f.ply line 53: value 1 is not a number");
  // A file that ends early fails after its last line, unless a line before fails first.
  std::string short_body = body;
  for (int cut = 0; cut < 2; ++cut) short_body.resize(short_body.rfind('\n', short_body.size() - 2) + 1);
  EXPECT_EQ(point_error(short_body + "\n\n"),
            "error: E: f.ply line 54: file ends after 38 of the 40 vertex records of its header");
  EXPECT_EQ(point_error(short_body + long_blank + "\n"),
            "error: E: f.ply line 52: line longer than 65536 bytes");
  EXPECT_EQ(point_error(spoil(short_body, 2, "-")),
            "error: E: f.ply line 16: value 1 is not a number");
}

TEST(PlyAsciiPieces, ElementErrorsComeAfterTheDataBeforeThem) {
  // The colours of the vertex element have a real type: refused when the vertex element is
  // reached, after the records of the element before it.
  const std::string head =
      "ply\nformat ascii 1.0\nelement note 30\nproperty short n\nelement vertex 1\n"
      "property float x\nproperty float y\nproperty float z\nproperty float red\n"
      "property float green\nproperty float blue\nend_header\n";
  std::string notes;
  for (int i = 0; i < 30; ++i) notes += std::to_string(i * 1000) + "\n";
  EXPECT_EQ(same_for_all_pieces(head + notes + "0 0 0 1 1 1\n"),
            "error: E: f.ply line 9: unsupported type 'float' of property red");
  std::string first_notes;
  for (int i = 0; i < 17; ++i) first_notes += std::to_string(i * 1000) + "\n";
  EXPECT_EQ(same_for_all_pieces(head + first_notes + " \n"),
            "error: E: f.ply line 31: file ends after 17 of the 30 note records of its header");
  EXPECT_EQ(same_for_all_pieces(head + notes + "1 2\n"),
            "error: E: f.ply line 9: unsupported type 'float' of property red");
  std::string bad = head + notes;
  bad.replace(bad.find("\n29000"), 6, "\n99000");
  EXPECT_EQ(same_for_all_pieces(bad),
            "error: E: f.ply line 42: value 1 is not an integer from -32768 to 32767");
  // Counts near the largest integer after another element: the sums do not overflow.
  EXPECT_EQ(same_for_all_pieces("ply\nformat ascii 1.0\nelement note 2\nproperty int n\n"
                                "element vertex 9223372036854775807\nproperty float x\n"
                                "property float y\nproperty float z\nend_header\n1\n2\n0 0 0\n"),
            "error: E: f.ply line 13: file ends after 1 of the 9223372036854775807 vertex records "
            "of its header");
  // Faces: the first bad face wins, whichever piece holds it.
  std::string mesh =
      "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
      "property float z\nelement face 30\nproperty list uint8 int32 vertex_indices\n"
      "end_header\n0 0 0\n1 0 0\n0 1 0\n";
  for (int i = 0; i < 30; ++i) mesh += i == 25 ? "3 0 1 3\n" : i == 12 ? "2 0 1\n" : "3 0 1 2\n";
  EXPECT_EQ(same_for_all_pieces(mesh), "error: E: f.ply line 25: face 12 has fewer than 3 corners");
  mesh.replace(mesh.find("2 0 1\n"), 6, "3 1 2 0\n");
  EXPECT_EQ(same_for_all_pieces(mesh),
            "error: E: f.ply line 38: face 25 uses vertex 3, but there are 3 vertices");
}

// What reading a real value must give: strtod's double when it takes the whole token, else the
// reader's message.
std::string strtod_outcome(const std::string& token) {
  char* stop = nullptr;
  const double v = std::strtod(token.c_str(), &stop);
  if (token.empty() || *stop != '\0') return "not a number";
  if (!std::isfinite(v)) return "not a finite number";
  return std::to_string(std::bit_cast<std::uint64_t>(v));
}

std::string read_outcome(const std::string& token) {
  const std::string file = "ply\nformat ascii 1.0\nelement vertex 1\nproperty double x\n"
                           "property double y\nproperty double z\nend_header\n0 " + token + " 0\n";
  try {
    const PlyModel m = parse_ply("f.ply", file, PlyReadOptions());
    return std::to_string(std::bit_cast<std::uint64_t>(m.positions[0].y));
  } catch (const std::exception& e) {
    const std::string what = e.what();
    return what.substr(what.find("value 2 is ") + 11);
  }
}

TEST(PlyAsciiPieces, RealsReadAsStrtodReadsThem) {
  std::vector<std::string> tokens = {
      "1", "-0", "+1.5", ".5", "5.", "-.5e-3", "1e", "1e+", ".", "-", "+", "e5", "0x1p3", "0X.8P1",
      "1e400", "-1e400", "1e-400", "4.9e-324", "2.4703282292062328e-324",
      "2.4703282292062329e-324", "2.2250738585072011e-308", "inf", "-Infinity", "nan", "NaN(12)",
      "1.5.5", "1,5", "١", "0.30000000000000004441", "1e0000000000000000000000000001",
      std::string(400, '9') + ".5", "0." + std::string(400, '0') + "1e400"};
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  char text[400];
  for (int i = 0; i < 3000; ++i) {
    const double any = std::bit_cast<double>(rng());
    const double plain = unit(rng) * std::pow(10.0, i % 40 - 20);
    for (const char* format : {"%e", "%.17g", "%a", "%.25e", "%+g"}) {
      std::snprintf(text, sizeof text, format, i % 2 ? any : plain);
      tokens.push_back(text);
    }
  }
  for (const std::string& token : tokens)
    ASSERT_EQ(read_outcome(token), strtod_outcome(token)) << token;
}

}  // namespace
}  // namespace tervik::io
