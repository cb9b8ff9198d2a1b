#include "weaver/read_points.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/patch.h"
#include "test_util.h"
#include "tervik/exceptions.h"

namespace tervik {
namespace {

using testing::TempDir;
using testing::write_file;

const std::string kProps =
    "property float x\nproperty float y\nproperty float z\n"
    "property float nx\nproperty float ny\nproperty float nz\n"
    "property uchar red\nproperty uchar green\nproperty uchar blue\n";

std::string header(long long count, const std::string& props = kProps) {
  return "ply\nformat ascii 1.0\nelement vertex " + std::to_string(count) + "\n" + props +
         "end_header\n";
}

std::vector<Patch> random_patches(std::size_t n, unsigned int seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1000.0, 1000.0);
  std::vector<Patch> out(n);
  for (Patch& p : out) {
    p.pos = Point3D(u(rng), u(rng) * 1e-6, u(rng) * 1e3);
    p.normal = Point3D(u(rng) / 1000, u(rng) / 1000, u(rng) / 1000);
    p.r = rng() % 256, p.g = rng() % 256, p.b = rng() % 256;
  }
  return out;
}

// What reading back "%e" text gives for v.
double through_text(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%e", v);
  return std::strtod(buf, nullptr);
}

// The message of the TervikError that reading `path` throws, or "" if it reads.
std::string read_error(const std::string& path, unsigned int step = 1, bool color = true) {
  std::vector<Patch> pts;
  try {
    if (color) {
      read_points_color(path, pts, step);
    } else {
      read_points(path, pts, step);
    }
  } catch (const TervikError& e) {
    return e.what();
  }
  return "";
}

TEST(ReadPoints, ReadsSculptorFilesAsWrittenWithDecimation) {
  TempDir dir;
  const std::vector<Patch> written = random_patches(50, 3);
  write_file_normal_color(dir.file("p.ply"), written);
  for (unsigned int step : {1u, 3u, 50u, 1000u}) {
    std::vector<Patch> read(7);
    read_points_color(dir.file("p.ply"), read, step);
    ASSERT_EQ(read.size(), (written.size() + step - 1) / step) << step;
    for (std::size_t i = 0; i < read.size(); ++i) {
      const Patch& w = written[i * step];
      for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(read[i].pos[c], through_text(w.pos[c]));
        EXPECT_EQ(read[i].normal[c], through_text(w.normal[c]));
      }
      EXPECT_EQ(read[i].r, w.r);
      EXPECT_EQ(read[i].g, w.g);
      EXPECT_EQ(read[i].b, w.b);
    }
  }
  // The uncoloured twin reads its own format and leaves the colour grey.
  write_file_normal(dir.file("q.ply"), written);
  std::vector<Patch> plain;
  read_points(dir.file("q.ply"), plain, 2);
  ASSERT_EQ(plain.size(), 25u);
  EXPECT_EQ(plain[3].pos.x, through_text(written[6].pos.x));
  EXPECT_EQ(plain[3].r, 128);
}

TEST(ReadPoints, EmptyFileGivesNoPoints) {
  TempDir dir;
  write_file_normal_color(dir.file("e.ply"), {});
  std::vector<Patch> pts(3);
  read_points_color(dir.file("e.ply"), pts, 1);
  EXPECT_TRUE(pts.empty());
}

TEST(ReadPoints, AcceptsCommentsObjInfoCrLfPlainDecimalsAndTrailingElements) {
  TempDir dir;
  const std::string body = "0.5 -2 3e2 0 0 1 255 0 7\n1.25 2 3 0 1 0 1 2 3\n";
  write_file(dir.file("a.ply"), header(2) + body);
  std::string crlf = "ply\r\nformat ascii 1.0\r\ncomment made by a scanner\r\n"
                     "obj_info camera rig 4\r\nelement vertex 2\r\n" + kProps +
                     "comment colours follow\r\nend_header\r\n" +
                     "0.5 -2 3e2 0 0 1 255 0 7\r\n1.25\t2 3 0 1 0 1 2 3 \r\n";
  // The property lines still end in "\n" alone: mixed endings read alike.
  write_file(dir.file("b.ply"), crlf);
  // Elements after the vertices are not read.
  write_file(dir.file("c.ply"), "ply\nformat ascii 1.0\nelement vertex 2\n" + kProps +
                                    "element face 1\nproperty list uchar int vertex_indices\n"
                                    "end_header\n" + body + "3 0 1 7\n");
  std::vector<Patch> a, b, c;
  read_points_color(dir.file("a.ply"), a, 1);
  read_points_color(dir.file("b.ply"), b, 1);
  read_points_color(dir.file("c.ply"), c, 1);
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(a[0].pos, Point3D(0.5, -2, 300));
  EXPECT_EQ(a[0].normal, Point3D(0, 0, 1));
  EXPECT_EQ(a[0].r, 255);
  EXPECT_EQ(a[0].b, 7);
  EXPECT_EQ(a[1].pos, Point3D(1.25, 2, 3));
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, c);
}

TEST(ReadPoints, MissingFileOrDirectoryIsReportedByName) {
  TempDir dir;
  EXPECT_EQ(read_error(dir.file("none.ply")),
            "ERROR( read_points ) : Unable to read from file " + dir.file("none.ply"));
  EXPECT_EQ(read_error(dir.path().string(), 1, false),
            "ERROR( read_points ) : Unable to read from file " + dir.path().string() +
                ": it is a folder");
}

TEST(ReadPoints, NonRegularFilesAndEndlessLinesAreRefused) {
  TempDir dir;
  // /dev/zero has no end and no newline: it once grew one line until memory ran out.
  EXPECT_EQ(read_error("/dev/zero"),
            "ERROR( read_points ) : Unable to read from file /dev/zero: it is a character "
            "device, not a regular file");
  const std::string fifo = dir.file("pipe.ply");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(read_error(fifo), "ERROR( read_points ) : Unable to read from file " + fifo +
                                  ": it is a FIFO, not a regular file");
  const std::string name = dir.file("long.ply");
  write_file(name, "ply\nformat ascii 1.0\ncomment " + std::string(70000, 'x') + "\n");
  EXPECT_EQ(read_error(name),
            "ERROR( read_points ) : " + name + " line 3: line longer than 65536 bytes");
}

TEST(ReadPoints, DamagedHeadersNameFileAndLine) {
  TempDir dir;
  const std::string f = dir.file("h.ply");
  const std::string pre = "ERROR( read_points ) : " + f + " line ";
  const struct {
    std::string text, message;
  } cases[] = {
      {"", "1: not a PLY file (the first line must be 'ply')"},
      {"solid cube\n", "1: not a PLY file (the first line must be 'ply')"},
      {"ply\nformat binary_big_endian 1.0\nelement vertex 1\n",
       "2: unsupported format 'format binary_big_endian 1.0' (expected 'format ascii 1.0' or "
       "'format binary_little_endian 1.0')"},
      {"ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n",
       "5: file ends inside the header"},
      {"ply\nformat ascii 1.0\nelement vertex -2\n" + kProps + "end_header\n",
       "3: invalid vertex count '-2'"},
      {"ply\nformat ascii 1.0\nelement vertex many\n", "3: invalid vertex count 'many'"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float y\nproperty float x\n"
       "end_header\n0 0\n",
       "3: the vertex element lacks one of the properties x, y, z, nx, ny, nz"},
      {header(1, "property float x\nproperty float y\nproperty float z\nproperty float nx\n"
                 "property float ny\nproperty uchar red\n") + "1 2 3 4 5 6\n",
       "3: the vertex element lacks one of the properties x, y, z, nx, ny, nz"},
      {header(1, kProps + "property weird quality\n"),
       "13: unknown type 'weird' of property quality"},
      {header(1, kProps + "property float x\n"), "13: second property x in element 'vertex'"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nelement vertex 1\n",
       "4: second element 'vertex'"},
      {"ply\nelement vertex 1\n", "2: element before the 'format' line"},
      {"ply\nformat ascii 1.0\nproperty float x\n", "3: property before the first element"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty list float int idx\n",
       "4: the length of list idx must have an integer type, not 'float'"},
      {header(1, "property float x\nproperty float y\nproperty float z\nproperty float nx\n"
                 "property float ny\nproperty float nz\nproperty float red\n"
                 "property uchar green\nproperty uchar blue\n"),
       "10: unsupported type 'float' of property red"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nhello\n", "4: unexpected header line 'hello'"},
      {"ply\nformat ascii 1.0\nend_header\n", "3: no 'element vertex' line in the header"},
  };
  for (const auto& c : cases) {
    write_file(f, c.text);
    EXPECT_EQ(read_error(f), pre + c.message) << c.text;
  }
}

TEST(ReadPoints, DamagedBodiesNameFileAndLine) {
  TempDir dir;
  const std::string f = dir.file("b.ply");
  const std::string pre = "ERROR( read_points ) : " + f + " line ";
  const std::string good = "1 2 3 0 0 1 10 20 30\n";
  const struct {
    std::string body, message;
  } cases[] = {
      {good + good, "16: file ends after 2 of the 3 vertex records of its header"},
      {good + "1 2 3 0 0 1 10 20\n" + good, "15: colour value 3 is not an integer from 0 to 255"},
      {good + good + "1 2 x 0 0 1 1 1 1\n", "16: value 3 is not a number"},
      {"1 2 3 0 0 1 256 0 0\n", "14: colour value 1 is not an integer from 0 to 255"},
      {"1 2 3 0 0 1 -1 0 0\n", "14: colour value 1 is not an integer from 0 to 255"},
      {"1 2 3 0 0 1 1.5 0 0\n", "14: colour value 1 is not an integer from 0 to 255"},
      {"nan 2 3 0 0 1 1 1 1\n", "14: value 1 is not a finite number"},
      {"1 2 3 0 inf 1 1 1 1\n", "14: value 5 is not a finite number"},
      {"1 2 3,5 0 0 1 1 1 1\n", "14: value 3 is not a number"},
      {"1 2 3 0 0 1 1 1 1 9\n", "14: unexpected text after the 9 values of a vertex record"},
      // More records than the header counts.
      {good + good + good + good, "17: unexpected data after the last element"},
  };
  for (const auto& c : cases) {
    write_file(f, header(3) + c.body);
    EXPECT_EQ(read_error(f), pre + c.message) << c.body;
  }
  // A blank line within the data is skipped, and does not count as a point.
  write_file(f, header(2) + good + "\n" + good);
  std::vector<Patch> pts;
  read_points_color(f, pts, 1);
  EXPECT_EQ(pts.size(), 2u);
}

TEST(ReadPoints, HugeDeclaredCountFailsCleanlyAndZeroStepIsRejected) {
  TempDir dir;
  const std::string f = dir.file("big.ply");
  write_file(f, header(4000000000000LL) + "1 2 3 0 0 1 1 1 1\n");
  EXPECT_EQ(read_error(f), "ERROR( read_points ) : " + f +
                               " line 15: file ends after 1 of the 4000000000000 vertex records "
                               "of its header");
  EXPECT_EQ(read_error(f, 0),
            "ERROR( read_points ) : the decimation step must be at least 1");
}

}  // namespace
}  // namespace tervik
