// The PLY reader on the project's own files and on malformed input.
#include <gtest/gtest.h>

#include "common/patch.h"
#include "test_util.h"
#include "tervik/exceptions.h"
#include "tervik/mesh.h"
#include "tools/ply_reader.h"

namespace tervik::io {
namespace {

using tervik::testing::TempDir;
using tervik::testing::write_file;

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
    try {
      read_ply(name);
    } catch (const std::exception& e) {
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  const std::string pre = "Error in file '" + name + "': ";
  EXPECT_EQ(error("PLY\n"), pre + "line 1: not a PLY file (first line must be 'ply')");
  EXPECT_EQ(error("ply\nformat binary_little_endian 1.0\nend_header\n"),
            pre + "line 2: format 'binary_little_endian' is not supported (only ascii PLY files "
                  "are read)");
  EXPECT_EQ(error(head), pre + "line 9: file ends inside the header (no end_header line)");
  EXPECT_EQ(error(head + "end_header\n1 2 3 4 5 6\n"),
            pre + "line 11: file ends early: vertex 1 of 2 is missing");
  EXPECT_EQ(error(head + "end_header\n1 2 3 4 5 6\n1 2 3 4 5\n"),
            pre + "line 12: vertex 1 has 5 values, expected 6");
  EXPECT_EQ(error(head + "end_header\n1 2 x 4 5 6\n1 2 3 4 5 6\n"),
            pre + "line 11: 'x' is not a finite number (z)");
  EXPECT_EQ(error(head + "end_header\n1 2 3 4 5 6\n1 2 3 4 256 6\n"),
            pre + "line 12: colour value '256' of vertex 1 is outside 0 to 255");
  EXPECT_EQ(error(head + "end_header\n1 2 3 4 5 6\n1 2 3 4 5.5 6\n"),
            pre + "line 12: '5.5' is not an integer (green is uchar)");
  EXPECT_EQ(error(head + "end_header\n1 2 3 4 5 6\n1 2 3 4 5 6\n7\n"),
            pre + "line 13: unexpected data after the last element");
  EXPECT_EQ(error("ply\nformat ascii 1.0\nelement vertex 99999999\nend_header\n"),
            pre + "line 3: element 'vertex' declares 99999999 items, more than the file holds");
  const std::string mesh =
      "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
      "property float z\nelement face 1\nproperty list uint8 int32 vertex_indices\nend_header\n"
      "0 0 0\n1 0 0\n0 1 0\n";
  EXPECT_EQ(error(mesh + "3 0 1 3\n"),
            pre + "line 13: face 0 uses vertex 3, but there are 3 vertices");
  EXPECT_EQ(error(mesh + "3 0 1\n"), pre + "line 13: face 0 declares 3 corners but lists 2");
  EXPECT_EQ(error(mesh + "2 0 1\n"), pre + "line 13: face 0 has fewer than 3 corners");
  EXPECT_EQ(error("ply\nformat ascii 1.0\nelement vertex 0\nproperty float x\nend_header\n"),
            pre + "line 3: vertex element lacks one of the properties x, y, z");
  EXPECT_EQ(error("ply\nformat ascii 1.0\nelement face 0\nend_header\n"),
            pre + "line 4: face element before the vertex element");
  std::string missing;
  try {
    read_ply(dir.file("none.ply"));
  } catch (const TervikFileNotFound& e) {
    missing = e.what();
  }
  EXPECT_EQ(missing, "File " + dir.file("none.ply") + " not found");
}

}  // namespace
}  // namespace tervik::io
