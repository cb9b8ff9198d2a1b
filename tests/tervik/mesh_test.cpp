#include "tervik/mesh.h"

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"
#include "tervik/exceptions.h"

namespace tervik {
namespace {

using testing::TempDir;
using testing::read_file;
using Face = Coord3D<long long>;
using Color = Coord3D<unsigned char>;

std::string color_header(long nv, long nf) {
  return "ply\nformat ascii 1.0\nelement vertex " + std::to_string(nv) +
         "\nproperty float x\nproperty float y\nproperty float z\n"
         "property uchar red\nproperty uchar green\nproperty uchar blue\nelement face " +
         std::to_string(nf) + "\nproperty list uint8 int32 vertex_indices\nend_header\n";
}

std::string plain_header(long nv, long nf) {
  return "ply\nformat ascii 1.0\nelement vertex " + std::to_string(nv) +
         "\nproperty float x\nproperty float y\nproperty float z\nelement face " +
         std::to_string(nf) + "\nproperty list uint8 int32 vertex_indices\nend_header\n";
}

// The message of the TervikError that f throws ("" if it throws none).
template <typename F>
std::string error_of(F f) {
  try {
    f();
  } catch (const TervikError& e) {
    return e.what();
  }
  return "";
}

TEST(FaceVertexMesh, AddingKeepsListsParallelAndRecordsFacesPerVertex) {
  FaceVertexMesh mesh;
  mesh.add_vertex(Point3D(0, 0, 0));
  mesh.add_vertex(Point3D(1, 0, 0), Color(1, 2, 3));
  mesh.add_vertex(Point3D(0, 1, 0));
  mesh.add_vertex(Point3D(0, 0, 1));
  mesh.add_face(Face(0, 1, 2));
  mesh.add_face(Face(2, 1, 3));
  mesh.add_face(Face(0, 0, 3));
  EXPECT_EQ(mesh.colors.size(), 4u);
  EXPECT_EQ(mesh.get_color(0), Color(128, 128, 128));
  EXPECT_EQ(mesh.get_color(1), Color(1, 2, 3));
  EXPECT_EQ(mesh.get_face(1), Face(2, 1, 3));
  EXPECT_EQ(mesh.vertex_faces,
            (std::vector<std::vector<long long>>{{0, 2, 2}, {0, 1}, {0, 1}, {1, 2}}));
  EXPECT_EQ(error_of([&] { mesh.add_face(Face(0, 4, 1)); }),
            "add_face: face (0, 4, 1) refers to a vertex outside 0..3 (check failed: f.x >= 0 "
            "&& f.x < n && f.y >= 0 && f.y < n && f.z >= 0 && f.z < n)");
  EXPECT_NE(error_of([&] { mesh.get_vertex(4); }).find("get_vertex: index 4 of 4"),
            std::string::npos);
  EXPECT_EQ(mesh.faces.size(), 3u);

  mesh.reset();
  EXPECT_TRUE(mesh.vertices.empty() && mesh.faces.empty() && mesh.colors.empty() &&
              mesh.vertex_faces.empty());
  EXPECT_NE(error_of([&] { mesh.compute_cog(); }).find("no vertices"), std::string::npos);
}

TEST(FaceVertexMesh, NormalsOfAClosedTetrahedronPointOutward) {
  FaceVertexMesh mesh;
  for (const Point3D& p : {Point3D(0, 0, 0), Point3D(1, 0, 0), Point3D(0, 1, 0),
                           Point3D(0, 0, 1)}) {
    mesh.add_vertex(p);
  }
  for (const Face& f : {Face(0, 2, 1), Face(0, 1, 3), Face(0, 3, 2), Face(1, 2, 3)}) {
    mesh.add_face(f);
  }
  const Point3D cog = mesh.compute_cog();
  EXPECT_EQ(cog, Point3D(0.25, 0.25, 0.25));
  mesh.update_normals();
  ASSERT_EQ(mesh.face_normals.size(), 4u);
  EXPECT_EQ(mesh.get_face_normal(0), Point3D(0, 0, -1));
  const double s = 1.0 / std::sqrt(3.0);
  EXPECT_NEAR(mesh.face_normals[3].x, s, 1e-15);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_NEAR(norm(mesh.face_normals[i]), 1.0, 1e-15);
    EXPECT_NEAR(norm(mesh.vertex_normals[i]), 1.0, 1e-15);
    // Outward: the vertex normal points away from the centre of gravity.
    EXPECT_GT(dot(mesh.vertex_normals[i], mesh.vertices[i] - cog), 0.0) << i;
  }
  // Vertex 0 touches the three axis-aligned faces: its normal is -(1, 1, 1) / sqrt(3).
  EXPECT_NEAR(mesh.vertex_normals[0].y, -s, 1e-15);
}

TEST(FaceVertexMesh, DegenerateFacesAndLooseVerticesGetZeroNormals) {
  FaceVertexMesh mesh;
  mesh.add_vertex(Point3D(0, 0, 0));
  mesh.add_vertex(Point3D(1, 1, 1));
  mesh.add_vertex(Point3D(2, 2, 2));
  mesh.add_vertex(Point3D(5, 5, 5));
  mesh.add_face(Face(0, 1, 2));
  mesh.update_normals();
  EXPECT_EQ(mesh.face_normals[0], Point3D());
  for (const Point3D& n : mesh.vertex_normals) EXPECT_EQ(n, Point3D());
}

TEST(MeshFile, ExactBytesOfSmallMeshes) {
  TempDir dir;
  FaceVertexMesh mesh;
  write_mesh(dir.file("empty.ply"), mesh);
  EXPECT_EQ(read_file(dir.file("empty.ply")), color_header(0, 0));
  write_mesh_no_color(dir.file("empty_plain.ply"), mesh, {});
  EXPECT_EQ(read_file(dir.file("empty_plain.ply")), plain_header(0, 0));

  mesh.add_vertex(Point3D(0.5, -1, 2), Color(255, 0, 7));
  write_mesh(dir.file("one.ply"), mesh);
  EXPECT_EQ(read_file(dir.file("one.ply")),
            color_header(1, 0) + "0.500000 -1.000000 2.000000 255 0 7\n");

  for (int i = 0; i < 4; ++i) mesh.add_vertex(Point3D(i, 1e6 + i, -1e-7));
  mesh.add_face(Face(4, 0, 2));
  mesh.add_face(Face(1, 2, 3));
  mesh.add_face(Face(0, 3, 4));
  const std::string vertices =
      "0.500000 -1.000000 2.000000 255 0 7\n"
      "0.000000 1000000.000000 -0.000000 128 128 128\n"
      "1.000000 1000001.000000 -0.000000 128 128 128\n"
      "2.000000 1000002.000000 -0.000000 128 128 128\n"
      "3.000000 1000003.000000 -0.000000 128 128 128\n";
  write_mesh(dir.file("faces.ply"), mesh);
  EXPECT_EQ(read_file(dir.file("faces.ply")),
            color_header(5, 3) + vertices + "3 4 0 2\n3 1 2 3\n3 0 3 4\n");

  write_mesh_no_color(dir.file("plain.ply"), mesh, {true, false, true});
  EXPECT_EQ(read_file(dir.file("plain.ply")),
            plain_header(5, 2) +
                "0.500000 -1.000000 2.000000\n0.000000 1000000.000000 -0.000000\n"
                "1.000000 1000001.000000 -0.000000\n2.000000 1000002.000000 -0.000000\n"
                "3.000000 1000003.000000 -0.000000\n3 4 0 2\n3 0 3 4\n");
  EXPECT_NE(error_of([&] { write_mesh_no_color(dir.file("x.ply"), mesh, {true}); })
                .find("1 face flags for 3 faces"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.file("x.ply")));
}

TEST(MeshFile, WriteThenReadGivesTheSameMesh) {
  TempDir dir;
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> micro(-3000000, 3000000);
  std::uniform_int_distribution<int> byte(0, 255);
  FaceVertexMesh mesh;
  // Coordinates with at most six decimals survive the fixed notation exactly.
  for (int i = 0; i < 200; ++i) {
    mesh.add_vertex(Point3D(micro(rng) / 1e6, micro(rng) / 1e6, micro(rng) / 1e6),
                    Color(byte(rng), byte(rng), byte(rng)));
  }
  std::uniform_int_distribution<int> vertex(0, 199);
  for (int i = 0; i < 300; ++i) mesh.add_face(Face(vertex(rng), vertex(rng), vertex(rng)));
  const std::string name = dir.file("mesh.ply");
  write_mesh(name, mesh);

  FaceVertexMesh back;
  back.add_vertex(Point3D(9, 9, 9));  // replaced, not appended to
  read_mesh(name, back);
  EXPECT_EQ(back.faces, mesh.faces);
  EXPECT_EQ(back.colors, mesh.colors);
  EXPECT_EQ(back.vertex_faces, mesh.vertex_faces);
  ASSERT_EQ(back.vertices.size(), mesh.vertices.size());
  for (size_t i = 0; i < mesh.vertices.size(); ++i) {
    for (int a = 0; a < 3; ++a) {
      EXPECT_EQ(back.vertices[i][a], std::stod(std::to_string(mesh.vertices[i][a]))) << i;
    }
  }
  // Writing what was read gives the same bytes.
  write_mesh(dir.file("again.ply"), back);
  EXPECT_EQ(read_file(dir.file("again.ply")), read_file(name));

  // The uncoloured file reads back with grey vertices and the kept faces.
  std::vector<bool> flags(mesh.faces.size(), false);
  flags[7] = flags[100] = true;
  write_mesh_no_color(dir.file("plain.ply"), mesh, flags);
  read_mesh(dir.file("plain.ply"), back);
  EXPECT_EQ(back.vertices.size(), 200u);
  EXPECT_EQ(back.faces, (std::vector<Face>{mesh.faces[7], mesh.faces[100]}));
  EXPECT_EQ(back.colors[3], Color(128, 128, 128));
}

TEST(MeshFile, UnwritableOrUnreadablePathsThrowTheirMessages) {
  TempDir dir;
  const std::string name = dir.file("no/such/folder/mesh.ply");
  FaceVertexMesh mesh;
  mesh.add_vertex(Point3D(1, 2, 3));
  EXPECT_EQ(error_of([&] { write_mesh(name, mesh); }),
            "ERROR(WriteListedMesh) Cannot open file " + name + ": the folder '" +
                dir.file("no/such/folder") + "' does not exist");
  EXPECT_EQ(error_of([&] { write_mesh_no_color(name, mesh, {}); }),
            "ERROR(WriteListedMesh) Cannot open file " + name + ": the folder '" +
                dir.file("no/such/folder") + "' does not exist");
  EXPECT_EQ(error_of([&] { read_mesh(name, mesh); }),
            "ERROR(ReadListedMesh) Cannot open file " + name);
  EXPECT_EQ(error_of([&] { read_mesh(dir.path().string(), mesh); }),
            "ERROR(ReadListedMesh) Cannot open file " + dir.path().string() + ": it is a folder");
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_EQ(mesh.vertices.size(), 1u);
}

TEST(MeshFile, FailedWriteThrowsAndKeepsTheOldFile) {
  TempDir dir;
  const std::string name = dir.file("mesh.ply");
  testing::write_file(name, "old");
  FaceVertexMesh mesh;
  for (int i = 0; i < 3000; ++i) mesh.add_vertex(Point3D(i, i, i));
  for (int i = 0; i + 2 < 3000; ++i) mesh.add_face(Face(i, i + 1, i + 2));
  const std::vector<bool> flags(mesh.faces.size(), true);
  for (bool color : {true, false}) {
    std::string message;
    {
      testing::FileSizeLimit limit(8192);
      message = error_of([&] {
        color ? write_mesh(name, mesh) : write_mesh_no_color(name, mesh, flags);
      });
    }
    EXPECT_EQ(message.rfind("ERROR(WriteListedMesh) Cannot write file " + name + ": ", 0), 0u)
        << message;
    EXPECT_EQ(read_file(name), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
  }
}

TEST(MeshFile, MalformedFilesNameTheLine) {
  TempDir dir;
  const std::string name = dir.file("bad.ply");
  const std::string good = color_header(2, 1) + "0 0 0 1 2 3\n1 1 1 4 5 6\n3 0 1 1\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "line 1: not a PLY file (the first line must be 'ply')"},
      {"ply\nformat binary_little_endian 1.0\n", "line 3: file ends inside the header"},
      {"ply\nformat binary_big_endian 1.0\n",
       "line 2: unsupported format 'format binary_big_endian 1.0' (expected 'format ascii 1.0' "
       "or 'format binary_little_endian 1.0')"},
      {color_header(-1, 0), "line 3: invalid vertex count '-1'"},
      {color_header(2, 1) + "0 0 0 1 2 3\n",
       "line 14: file ends after 1 of the 2 vertex records of its header"},
      {color_header(2, 1) + "0 0 0 1 2 3\n1 1 1 4 5 256\n3 0 1 1\n",
       "line 14: colour value 3 is not an integer from 0 to 255"},
      {color_header(2, 1) + "0 0 0 1 2 3\n1 1 x 4 5 6\n3 0 1 1\n",
       "line 14: value 3 is not a number"},
      {color_header(2, 1) + "0 0 0 1 2 3\n1 1 1 4 5 6\n3 0 1 2\n",
       "line 15: face 0 uses vertex 2, but there are 2 vertices"},
      {color_header(2, 1) + "0 0 0 1 2 3\n1 1 1 4 5 6\n2 0 1\n",
       "line 15: face 0 has fewer than 3 corners"},
      {color_header(2, 1) + "0 0 0 1 2 3\n1 1 1 4 5 6\n3 0 1\n",
       "line 15: item 3 of list vertex_indices is not an integer from -2147483648 to 2147483647"},
      {color_header(2, 2) + "0 0 0 1 2 3\n1 1 1 4 5 6\n3 0 1 1\n",
       "line 16: file ends after 1 of the 2 face records of its header"},
      {good + "3 1 0 0\n", "line 16: unexpected data after the last element"},
      {color_header(1000000, 0) + "0 0 0 1 2 3\n",
       "line 14: file ends after 1 of the 1000000 vertex records of its header"},
  };
  FaceVertexMesh mesh;
  testing::write_file(name, good);
  read_mesh(name, mesh);
  ASSERT_EQ(mesh.faces.size(), 1u);
  for (const auto& [bytes, message] : cases) {
    testing::write_file(name, bytes);
    EXPECT_EQ(error_of([&] { read_mesh(name, mesh); }),
              "ERROR(ReadListedMesh) " + name + " " + message);
    EXPECT_EQ(mesh.faces.size(), 1u) << "mesh changed by a failed read";
  }
  // Comments, CRLF line ends and extra blanks are accepted.
  std::string loose = "ply\r\nformat  ascii 1.0\r\ncomment made by hand\r\n" +
                      color_header(2, 1).substr(21) + "0 0 0 1 2 3\r\n 1 1 1\t4 5 6 \n3 0 1 1\n\n";
  testing::write_file(name, loose);
  read_mesh(name, mesh);
  EXPECT_EQ(mesh.colors[1], Color(4, 5, 6));
}

}  // namespace
}  // namespace tervik
