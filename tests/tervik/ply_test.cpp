// The PLY module: header validation, ASCII and binary reading of the project's own files and of
// other tools' layouts, round trips through the writers, and damaged input.
#include "tervik/ply.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

#include <gtest/gtest.h>

#include "common/patch.h"
#include "test_util.h"
#include "tervik/exceptions.h"
#include "tervik/mesh.h"
#include "weaver/read_points.h"

namespace tervik::io {
namespace {

using tervik::testing::TempDir;
using tervik::testing::write_file;

// The message of what `f` throws, or "no exception".
template <typename F>
std::string error_of(F f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no exception";
}

// Little-endian binary data for hand-made files.
struct Bytes {
  std::string b;
  Bytes& raw(std::uint64_t bits, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<char>((bits >> (8 * i)) & 0xff));
    return *this;
  }
  Bytes& f32(float v) { return raw(std::bit_cast<std::uint32_t>(v), 4); }
  Bytes& f64(double v) { return raw(std::bit_cast<std::uint64_t>(v), 8); }
  Bytes& u8(unsigned v) { return raw(v, 1); }
  Bytes& u16(unsigned v) { return raw(v, 2); }
  Bytes& i32(std::int32_t v) { return raw(static_cast<std::uint32_t>(v), 4); }
};

// What reading back "%e" text gives for v.
double through_text(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%e", v);
  return std::strtod(buf, nullptr);
}

std::vector<Patch> random_patches(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Patch> out(n);
  for (Patch& p : out) {
    p.pos = Point3D(u(rng) * 1e3, u(rng) * 1e-9, u(rng));
    p.normal = Point3D(u(rng), u(rng), u(rng));
    p.r = rng() % 256, p.g = rng() % 256, p.b = rng() % 256;
  }
  out[0].pos = Point3D(1e-310, -1e300, 0.0);  // subnormal and huge values survive binary
  return out;
}

TEST(PlyReader, ReadsPointFilesOfBothWriters) {
  TempDir dir;
  std::vector<Patch> patches(3);
  patches[0].pos = Point3D(0.125, -2, 3000);
  patches[0].normal = Point3D(0, 0, 1);
  patches[1].pos = Point3D(1e-7, 2.5, -0.75);
  patches[1].normal = Point3D(0.6, 0.8, 0);
  patches[1].r = 255;
  patches[1].g = 0;
  patches[1].b = 7;
  write_file_normal_color(dir.file("c.ply"), patches);
  PlyModel m = read_ply(dir.file("c.ply"));
  ASSERT_EQ(m.positions.size(), 3u);
  EXPECT_TRUE(m.has_normals);
  EXPECT_TRUE(m.has_colors);
  EXPECT_FALSE(m.has_faces);
  EXPECT_EQ(m.positions[0], Point3D(0.125, -2, 3000));
  EXPECT_EQ(m.normals[1], Point3D(0.6, 0.8, 0));
  EXPECT_EQ(m.colors[1], Coord3D<unsigned char>(255, 0, 7));
  EXPECT_EQ(m.colors[2], Coord3D<unsigned char>(128, 128, 128));
  write_file_normal(dir.file("n.ply"), patches);
  m = read_ply(dir.file("n.ply"));
  EXPECT_TRUE(m.has_normals);
  EXPECT_FALSE(m.has_colors);
  EXPECT_TRUE(m.colors.empty());
  write_file_normal_color(dir.file("e.ply"), {});
  m = read_ply(dir.file("e.ply"));
  EXPECT_TRUE(m.positions.empty());
}

TEST(PlyReader, ReadsMeshesAndSplitsPolygons) {
  TempDir dir;
  FaceVertexMesh mesh;
  mesh.add_vertex(Point3D(0.5, -1, 2), Coord3D<unsigned char>(255, 0, 7));
  mesh.add_vertex(Point3D(1, 0, 0));
  mesh.add_vertex(Point3D(0, 1, 0));
  mesh.add_face(Coord3D<long long>(2, 0, 1));
  write_mesh(dir.file("m.ply"), mesh);
  PlyModel m = read_ply(dir.file("m.ply"));
  EXPECT_TRUE(m.has_faces);
  EXPECT_FALSE(m.has_normals);
  ASSERT_EQ(m.faces.size(), 1u);
  EXPECT_EQ(m.faces[0], Coord3D<long long>(2, 0, 1));
  EXPECT_EQ(m.colors[0], Coord3D<unsigned char>(255, 0, 7));
  write_file(dir.file("q.ply"),
             "ply\r\nformat ascii 1.0\r\ncomment made by hand\r\nelement vertex 4\r\n"
             "property double x\r\nproperty double y\r\nproperty double z\r\n"
             "property float confidence\r\nelement face 1\r\n"
             "property list uchar int vertex_index\r\nend_header\r\n"
             "0 0 0 1\r\n1 0 0 1\r\n1 1 0 1\r\n0 1 0 0.5\r\n4 0 1 2 3\r\n\r\n");
  m = read_ply(dir.file("q.ply"));
  ASSERT_EQ(m.faces.size(), 2u);
  EXPECT_EQ(m.faces[1], Coord3D<long long>(0, 2, 3));
}

TEST(PlyReader, MalformedFilesFailWithFileAndLine) {
  TempDir dir;
  const std::string name = dir.file("bad.ply");
  const std::string head =
      "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\n"
      "property float z\nproperty uchar red\nproperty uchar green\nproperty uchar blue\n";
  auto error = [&](const std::string& text) {
    write_file(name, text);
    return error_of([&] { read_ply(name); });
  };
  const std::string pre = "Error in file '" + name + "': ";
  EXPECT_EQ(error("PLY\n"), pre + "line 1: not a PLY file (the first line must be 'ply')");
  EXPECT_EQ(error("ply\nformat binary_big_endian 1.0\nend_header\n"),
            pre + "line 2: unsupported format 'format binary_big_endian 1.0' (expected 'format "
                  "ascii 1.0' or 'format binary_little_endian 1.0')");
  EXPECT_EQ(error("ply\nformat ascii 2.0\n"),
            pre + "line 2: unsupported format 'format ascii 2.0' (expected 'format ascii 1.0' "
                  "or 'format binary_little_endian 1.0')");
  EXPECT_EQ(error("ply\nformat ascii 1.0\nformat ascii 1.0\n"), pre + "line 3: second 'format' line");
  EXPECT_EQ(error("ply\nend_header\n"), pre + "line 2: no 'format' line in the header");
  EXPECT_EQ(error(head), pre + "line 10: file ends inside the header");
  EXPECT_EQ(error("ply\nformat ascii 1.0\nelement vertex 2 3\n"),
            pre + "line 3: malformed element line 'element vertex 2 3' (expected 'element "
                  "<name> <count>')");
  EXPECT_EQ(error("ply\nformat ascii 1.0\nelement vertex 1e3\n"),
            pre + "line 3: invalid vertex count '1e3'");
  EXPECT_EQ(error("ply\nformat ascii 1.0\nelement vertex 99999999999999999999\n"),
            pre + "line 3: invalid vertex count '99999999999999999999'");
  EXPECT_EQ(error("ply\nformat ascii 1.0\nelement vertex 1\nproperty int64 x\n"),
            pre + "line 4: unknown type 'int64' of property x");
  EXPECT_EQ(error("ply\nformat ascii 1.0\nelement vertex 1\nproperty list uchar half v\n"),
            pre + "line 4: unknown type 'half' of property v");
  EXPECT_EQ(error("ply\nformat ascii 1.0\nelement vertex 1\nproperty float\n"),
            pre + "line 4: malformed property line 'property float'");
  EXPECT_EQ(error("ply\nformat ascii 1.0\nelement vertex 5\nend_header\n"),
            pre + "line 3: element 'vertex' has records but no properties");
  EXPECT_EQ(error(head + "end_header\n1 2 3 4 5 6\n"),
            pre + "line 12: file ends after 1 of the 2 vertex records of its header");
  EXPECT_EQ(error(head + "end_header\n1 2 3 4 5 6\n1 2 3 4 5\n"),
            pre + "line 12: colour value 3 is not an integer from 0 to 255");
  EXPECT_EQ(error(head + "end_header\n1 2 x 4 5 6\n1 2 3 4 5 6\n"),
            pre + "line 11: value 3 is not a number");
  EXPECT_EQ(error(head + "end_header\n1 2 3 4 5 6\n1 2 3 4 256 6\n"),
            pre + "line 12: colour value 2 is not an integer from 0 to 255");
  EXPECT_EQ(error(head + "end_header\n1 2 3 4 5 6\n1 2 3 4 5.5 6\n"),
            pre + "line 12: colour value 2 is not an integer from 0 to 255");
  EXPECT_EQ(error(head + "end_header\n1 2 3 4 5 6\n1 2 3 4 5 6\n7\n"),
            pre + "line 13: unexpected data after the last element");
  // A huge count fails where the data ends, without reserving for the count.
  EXPECT_EQ(error("ply\nformat ascii 1.0\nelement vertex 99999999999\nproperty float x\n"
                  "property float y\nproperty float z\nend_header\n0 0 0\n"),
            pre + "line 9: file ends after 1 of the 99999999999 vertex records of its header");
  const std::string mesh =
      "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
      "property float z\nelement face 1\nproperty list uint8 int32 vertex_indices\nend_header\n"
      "0 0 0\n1 0 0\n0 1 0\n";
  EXPECT_EQ(error(mesh + "3 0 1 3\n"),
            pre + "line 13: face 0 uses vertex 3, but there are 3 vertices");
  EXPECT_EQ(error(mesh + "3 0 1\n"),
            pre + "line 13: item 3 of list vertex_indices is not an integer from -2147483648 to "
                  "2147483647");
  EXPECT_EQ(error(mesh + "2 0 1\n"), pre + "line 13: face 0 has fewer than 3 corners");
  EXPECT_EQ(error(mesh + "256 0 1\n"),
            pre + "line 13: the length of list vertex_indices is not an integer from 0 to 255");
  EXPECT_EQ(error("ply\nformat ascii 1.0\nelement vertex 0\nproperty float x\nend_header\n"),
            pre + "line 3: the vertex element lacks one of the properties x, y, z");
  EXPECT_EQ(error("ply\nformat ascii 1.0\nelement face 0\nproperty list uchar int vertex_indices\n"
                  "element vertex 0\nproperty float x\nproperty float y\nproperty float z\n"
                  "end_header\n"),
            pre + "line 3: face element before the vertex element");
  EXPECT_EQ(error("ply\nformat ascii 1.0\nelement face 0\nend_header\n"),
            pre + "line 4: no 'element vertex' line in the header");
  EXPECT_EQ(error_of([&] { read_ply(dir.file("none.ply")); }),
            "File " + dir.file("none.ply") + " not found");
  EXPECT_EQ(error_of([&] { read_ply(dir.path().string()); }),
            "Error in file '" + dir.path().string() + "': cannot read the file: it is a folder");
}

TEST(PlyFiles, PointFilesRoundTripInAsciiAndBinary) {
  TempDir dir;
  const std::vector<Patch> written = random_patches(200, 11);
  for (bool color : {true, false}) {
    const std::string a = dir.file("a.ply"), b = dir.file("b.ply");
    if (color) {
      write_file_normal_color(a, written);
      write_file_normal_color(b, written, PlyFormat::binary_little_endian);
    } else {
      write_file_normal(a, written);
      write_file_normal(b, written, PlyFormat::binary_little_endian);
    }
    // Binary: the header's properties, then 6 doubles and 3 colour bytes per point.
    const std::string head = point_file_header(written.size(), color, PlyFormat::binary_little_endian);
    EXPECT_EQ(testing::read_file(b).size(), head.size() + written.size() * (color ? 51 : 48));
    std::vector<Patch> ra, rb;
    read_points_color(a, ra, 1);
    read_points_color(b, rb, 1);
    ASSERT_EQ(ra.size(), written.size());
    ASSERT_EQ(rb.size(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
      Patch w = written[i];
      if (!color) w.r = w.g = w.b = 128;  // without colours every point is grey
      EXPECT_EQ(rb[i], w) << i;           // binary holds the doubles exactly
      for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(ra[i].pos[c], through_text(w.pos[c]));
        EXPECT_EQ(ra[i].normal[c], through_text(w.normal[c]));
      }
      EXPECT_EQ(ra[i].r, w.r);
      EXPECT_EQ(ra[i].b, w.b);
    }
    // Every k-th point, in both formats.
    read_points_color(b, rb, 7);
    ASSERT_EQ(rb.size(), (written.size() + 6) / 7);
    EXPECT_EQ(rb[3].pos, written[21].pos);
  }
  // An ASCII file converted to binary reads back as the same points.
  write_file_normal_color(dir.file("a.ply"), written);
  std::vector<Patch> ascii, copy;
  read_points_color(dir.file("a.ply"), ascii, 1);
  write_file_normal_color(dir.file("copy.ply"), ascii, PlyFormat::binary_little_endian);
  read_points_color(dir.file("copy.ply"), copy, 1);
  EXPECT_EQ(copy, ascii);
}

TEST(PlyFiles, MeshFilesRoundTripInAsciiAndBinary) {
  TempDir dir;
  FaceVertexMesh mesh;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-10.0, 10.0);
  for (int i = 0; i < 40; ++i)
    mesh.add_vertex(Point3D(u(rng), u(rng), u(rng)),
                    Coord3D<unsigned char>(rng() % 256, rng() % 256, rng() % 256));
  for (int i = 0; i < 60; ++i) mesh.add_face(Coord3D<long long>(rng() % 40, rng() % 40, rng() % 40));
  write_mesh(dir.file("a.ply"), mesh);
  write_mesh(dir.file("b.ply"), mesh, PlyFormat::binary_little_endian);
  FaceVertexMesh a, b;
  read_mesh(dir.file("a.ply"), a);
  read_mesh(dir.file("b.ply"), b);
  EXPECT_EQ(b.vertices, mesh.vertices);
  EXPECT_EQ(b.colors, mesh.colors);
  EXPECT_EQ(b.faces, mesh.faces);
  EXPECT_EQ(b.vertex_faces, mesh.vertex_faces);
  EXPECT_EQ(a.faces, mesh.faces);
  EXPECT_EQ(a.colors, mesh.colors);
  for (std::size_t i = 0; i < mesh.vertices.size(); ++i)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(a.vertices[i][c], mesh.vertices[i][c], 5e-7);
  // The scorer's view of the binary mesh.
  const PlyModel m = read_ply(dir.file("b.ply"));
  EXPECT_EQ(m.format, PlyFormat::binary_little_endian);
  EXPECT_EQ(m.faces, mesh.faces);
  // A point file is not a mesh.
  write_file_normal_color(dir.file("p.ply"), random_patches(3, 1), PlyFormat::binary_little_endian);
  EXPECT_EQ(error_of([&] { read_mesh(dir.file("p.ply"), a); }),
            "ERROR(ReadListedMesh) " + dir.file("p.ply") + ": no face element, not a mesh");
}

// A point file as another tool may write it: an element before the vertices, the properties
// in another order, other types, extra properties and a list, and faces after the vertices.
std::string foreign_header(const std::string& format, bool color) {
  return "ply\nformat " + format + " 1.0\ncomment other tool\nelement camera 1\n"
         "property float focal\nelement vertex 2\nproperty float32 nx\nproperty float ny\n"
         "property float nz\nproperty double z\nproperty float64 y\nproperty double x\n"
         "property uchar alpha\n" +
         (color ? "property ushort blue\nproperty uint16 green\nproperty ushort red\n" : "") +
         "property list uchar int8 tags\nelement face 1\n"
         "property list uchar uint vertex_indices\nend_header\n";
}

TEST(PlyFiles, OtherToolsLayoutsReadAlikeInAsciiAndBinary) {
  TempDir dir;
  for (bool color : {true, false}) {
    Bytes bin;
    bin.b = foreign_header("binary_little_endian", color);
    bin.f32(500.0f);
    bin.f32(0.0f).f32(0.6f).f32(0.8f).f64(3.25).f64(-2.0).f64(1e-3).u8(255);
    if (color) bin.u16(7).u16(0).u16(255);
    bin.u8(2).u8(0xff).u8(4);
    bin.f32(1.0f).f32(0.0f).f32(0.0f).f64(0.0).f64(0.5).f64(0.25).u8(0);
    if (color) bin.u16(1).u16(2).u16(3);
    bin.u8(0);
    bin.u8(3).i32(0).i32(1).i32(1);
    write_file(dir.file("b.ply"), bin.b);
    const std::string colours[2] = {color ? " 7 0 255" : "", color ? " 1 2 3" : ""};
    write_file(dir.file("a.ply"), foreign_header("ascii", color) + "500\n" +
                                      "0 0.60000002384185791 0.80000001192092896 3.25 -2 1e-3 255" +
                                      colours[0] + " 2 -1 4\n1 0 0 0 0.5 0.25 0" + colours[1] +
                                      " 0\n3 0 1 1\n");
    std::vector<Patch> a, b;
    read_points_color(dir.file("a.ply"), a, 1);
    read_points_color(dir.file("b.ply"), b, 1);
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(b[0].pos, Point3D(1e-3, -2, 3.25));
    EXPECT_EQ(b[0].normal, Point3D(0, double(0.6f), double(0.8f)));
    EXPECT_EQ(b[1].pos, Point3D(0.25, 0.5, 0));
    EXPECT_EQ(b[0].r, color ? 255 : 128);
    EXPECT_EQ(b[0].g, color ? 0 : 128);
    EXPECT_EQ(b[0].b, color ? 7 : 128);
    EXPECT_EQ(b[1].r, color ? 3 : 128);
    EXPECT_EQ(a, b);
    // The whole file, faces included, is valid for the scorer in both formats.
    EXPECT_EQ(read_ply(dir.file("a.ply")).faces, read_ply(dir.file("b.ply")).faces);
  }
}

TEST(PlyFiles, DamagedBinaryDataNamesByteAndRecord) {
  TempDir dir;
  const std::string name = dir.file("bad.ply");
  const std::string head = point_file_header(2, true, PlyFormat::binary_little_endian);
  const std::size_t h = head.size();
  auto point = [](Bytes& b, double x, unsigned red) {
    b.f64(x).f64(0).f64(0).f64(0).f64(0).f64(1).u8(red).u8(0).u8(0);
  };
  auto error = [&](const Bytes& b, bool whole) {
    write_file(name, b.b);
    PlyReadOptions o;
    o.error_prefix = "ERROR(test) ";
    o.vertices_only = !whole;
    return error_of([&] { parse_ply(name, testing::read_file(name), o); });
  };
  const std::string pre = "ERROR(test) " + name + " byte ";
  Bytes good;
  good.b = head;
  point(good, 1, 2);
  point(good, 3, 4);
  EXPECT_EQ(error(good, true), "no exception");
  Bytes shortened = good;
  shortened.b.resize(shortened.b.size() - 1);
  EXPECT_EQ(error(shortened, false), pre + std::to_string(h + 51 + 50) +
                                         " (vertex 1): file ends after 1 of the 2 vertex records "
                                         "of its header");
  Bytes nan;
  nan.b = head;
  point(nan, 1, 2);
  point(nan, std::nan(""), 4);
  EXPECT_EQ(error(nan, false), pre + std::to_string(h + 51) + " (vertex 1): value 1 is not a finite number");
  Bytes longer = good;
  longer.u8(0);
  // Data after the vertices, with no element declared after them: in a point file too.
  EXPECT_EQ(error(longer, false), pre + std::to_string(h + 102) + ": unexpected data after the last element");
  EXPECT_EQ(error(longer, true), pre + std::to_string(h + 102) + ": unexpected data after the last element");
  // Colours wider than a byte must still be 0 to 255.
  Bytes wide;
  wide.b = "ply\nformat binary_little_endian 1.0\nelement vertex 1\nproperty float x\n"
           "property float y\nproperty float z\nproperty short red\nproperty short green\n"
           "property short blue\nend_header\n";
  const std::size_t wh = wide.b.size();
  wide.f32(0).f32(0).f32(0).u16(1).u16(256).u16(3);
  EXPECT_EQ(error(wide, true), pre + std::to_string(wh) + " (vertex 0): colour value 2 is not an integer from 0 to 255");
  // A list whose length runs past the end of the file.
  Bytes list;
  list.b = "ply\nformat binary_little_endian 1.0\nelement vertex 0\nproperty float x\n"
           "property float y\nproperty float z\nelement face 1\n"
           "property list uint int vertex_indices\nend_header\n";
  const std::size_t lh = list.b.size();
  list.raw(4000000000u, 4).i32(0);
  EXPECT_EQ(error(list, true), pre + std::to_string(lh + 8) +
                                   " (face 0): file ends after 0 of the 1 face records of its header");
}

TEST(PlyFiles, CorruptedFilesFailCleanlyWithTheirName) {
  TempDir dir;
  FaceVertexMesh mesh;
  for (int i = 0; i < 6; ++i) mesh.add_vertex(Point3D(i, i * 0.5, -i), Coord3D<unsigned char>(i, 2, 3));
  for (int i = 0; i < 4; ++i) mesh.add_face(Coord3D<long long>(i, i + 1, i + 2));
  std::vector<std::string> files;
  for (PlyFormat format : {PlyFormat::ascii, PlyFormat::binary_little_endian}) {
    write_mesh(dir.file("m.ply"), mesh, format);
    files.push_back(testing::read_file(dir.file("m.ply")));
    write_file_normal_color(dir.file("p.ply"), random_patches(5, 2), format);
    files.push_back(testing::read_file(dir.file("p.ply")));
  }
  // Random byte changes and truncations: every outcome is a model or a message naming the file,
  // never a crash or a read outside the buffer (the sanitizer build checks the latter).
  std::mt19937 rng(17);
  int failures = 0;
  for (int round = 0; round < 2000; ++round) {
    std::string bytes = files[round % files.size()];
    const int changes = 1 + static_cast<int>(rng() % 4);
    for (int c = 0; c < changes; ++c) {
      const std::size_t at = rng() % bytes.size();
      if (rng() % 8 == 0) {
        bytes.resize(at);
        if (bytes.empty()) break;
      } else {
        bytes[at] = static_cast<char>(rng() % 256);
      }
    }
    for (bool points : {false, true}) {
      PlyReadOptions o;
      o.vertices_only = points;
      o.require_normals = points;
      o.step = points ? 2 : 1;
      try {
        const PlyModel m = parse_ply("f.ply", bytes, o);
        for (const Coord3D<long long>& f : m.faces)
          ASSERT_TRUE(f.x >= 0 && f.y >= 0 && f.z >= 0 &&
                      f.x < static_cast<long long>(m.positions.size()) &&
                      f.y < static_cast<long long>(m.positions.size()) &&
                      f.z < static_cast<long long>(m.positions.size()));
      } catch (const TervikFileError& e) {
        ++failures;
        ASSERT_EQ(std::string(e.what()).rfind("Error in file 'f.ply': ", 0), 0u) << e.what();
      }
    }
  }
  EXPECT_GT(failures, 1000);
}

}  // namespace
}  // namespace tervik::io
