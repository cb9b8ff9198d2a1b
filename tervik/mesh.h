#pragma once
// Indexed triangle mesh with one colour per vertex, and its ASCII PLY files.
//
// ASCII PLY mesh layout (every line ends with a single line feed): the header
//   ply / format ascii 1.0 / element vertex <n> / property float x, y, z /
//   [property uchar red, green, blue] / element face <m> /
//   property list uint8 int32 vertex_indices / end_header
// then one line per vertex, "x y z [r g b]" with coordinates in "%lf" (six decimals), and one
// line per face, "3 i j k" with the vertex indices in face order. The binary little-endian
// variant (tervik/ply.h) has the same elements with double coordinates.
#include <string>
#include <vector>

#include "tervik/ply.h"
#include "tervik/points.h"

namespace tervik {

// Vertex list with colours, face list of vertex-index triples and derived normals. A vertex's
// index is its position in `vertices`; `vertices`, `colors` and `vertex_faces` stay parallel.
class FaceVertexMesh {
 public:
  std::vector<Point3D> vertices;
  // Vertex indices per face, in the face's orientation (right-hand rule gives its normal).
  std::vector<Coord3D<long long>> faces;
  // Red, green, blue per vertex.
  std::vector<Coord3D<unsigned char>> colors;
  // Unit normal per face; filled by update_normals or add_face_normal.
  std::vector<Point3D> face_normals;
  // Unit normal per vertex; filled by update_normals.
  std::vector<Point3D> vertex_normals;
  // Per vertex, the faces that use it, in the order the faces were added.
  std::vector<std::vector<long long>> vertex_faces;

  // Appends a vertex with colour c (grey 128, 128, 128 when omitted) and no faces.
  void add_vertex(const Point3D& p, const Coord3D<unsigned char>& c);
  void add_vertex(const Point3D& p) { add_vertex(p, Coord3D<unsigned char>(128, 128, 128)); }
  // Appends face f and records it with its three vertices. Throws TervikError if an index is
  // not that of an existing vertex.
  void add_face(const Coord3D<long long>& f);
  void add_face_normal(const Point3D& n) { face_normals.push_back(n); }
  void add_color(const Coord3D<unsigned char>& c) { colors.push_back(c); }

  // Element i of the respective list; throw TervikError when i is out of range.
  const Point3D& get_vertex(size_t i) const;
  const Coord3D<long long>& get_face(size_t i) const;
  const Point3D& get_face_normal(size_t i) const;
  const Coord3D<unsigned char>& get_color(size_t i) const;

  // Empties the mesh (all six lists).
  void reset();
  // Mean of the vertex positions. Throws TervikError for a mesh without vertices.
  Point3D compute_cog() const;
  // Recomputes face normals as normalize((P1 - P0) x (P2 - P0)) and vertex normals as the
  // normalised sum of the normals of each vertex's faces. A degenerate face, or a vertex
  // whose faces' normals cancel or that has none, gets the zero vector.
  void update_normals();
};

// Writes the coloured PLY mesh: every vertex (used by a face or not) and every face.
// Replaces an existing file only once the new one is complete. Throws TervikError
// "ERROR(WriteListedMesh) Cannot open file <path>" if it cannot be created, and
// "ERROR(WriteListedMesh) Cannot write file <path>: <reason>" if writing fails; the file
// under `path` is then unchanged. Throws TervikError before writing if `colors` and
// `vertices` differ in length. `format` chooses ASCII (the default) or binary little-endian.
// The records are formatted on `threads` threads (0 or 1: one), with the same bytes for all.
void write_mesh(const std::string& path, const FaceVertexMesh& mesh,
                io::PlyFormat format = io::PlyFormat::ascii, unsigned threads = 1);

// Writes the PLY mesh without colours, with only the faces whose flag is set (one flag per
// face, in face order). Errors as write_mesh; also throws if the flag count is not the face
// count.
void write_mesh_no_color(const std::string& path, const FaceVertexMesh& mesh,
                         const std::vector<bool>& face_flags);

// Reads a PLY mesh, ASCII or binary (tervik/ply.h), into `mesh`, replacing its contents: the
// vertices with their colours (grey without red, green, blue) and the faces, polygons split into
// fans of triangles. Throws TervikError "ERROR(ReadListedMesh) Cannot open file <path>" if the
// file cannot be opened, and "ERROR(ReadListedMesh) <path> <where>: <what>" for a malformed
// header or record, a face index out of range, a file that ends early or data after the last
// element; "<path>: no face element, not a mesh" for a point file. `mesh` is unchanged when
// anything is thrown.
void read_mesh(const std::string& path, FaceVertexMesh& mesh);

}  // namespace tervik
