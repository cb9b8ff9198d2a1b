#pragma once
// PLY files of points and meshes: one header parser, one reader and the record formatters
// behind every point and mesh file that the programs and tools read or write.
//
// Formats: "ascii 1.0" and "binary_little_endian 1.0". Property types char, uchar, short,
// ushort, int, uint, float, double and their aliases int8, uint8, int16, uint16, int32, uint32,
// float32, float64; list properties ("property list <count type> <item type> <name>") for faces.
// Header lines may end in "\n" or "\r\n"; "comment" and "obj_info" lines are skipped.
//
// ASCII data: one record per line, values separated by blanks, blank lines skipped. Real values
// are read as doubles whatever the header declares (sculptor writes doubles with "%e" under
// "property float"). Binary data: records packed back to back, little-endian, each value of its
// declared size.
//
// Files written in binary keep the names, order and colour and index types of the ASCII files
// but store coordinates and normals as double ("property double x"), so that a binary file holds
// exactly the values in memory and converting an ASCII file to binary loses nothing.
//
// Damage is reported with messages "<prefix><path> <where>: <what>", where <where> is
// "line <n>" in the header and in ASCII data and "byte <offset> (<element> <index>)" in binary
// data. With an empty prefix the exception is TervikFileError(path, "<where>: <what>").
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tervik/points.h"

namespace tervik::io {

enum class PlyFormat { ascii, binary_little_endian };

// The scalar types of PLY properties.
enum class PlyType { int8, uint8, int16, uint16, int32, uint32, float32, float64 };

struct PlyProperty {
  std::string name;
  PlyType type = PlyType::float32;       // value type; for a list, the item type
  bool is_list = false;
  PlyType count_type = PlyType::uint8;   // lists only: type of the item count
  std::size_t line = 0;                  // header line that declares it
};

struct PlyElement {
  std::string name;
  long long count = 0;
  long long fits = 0;    // the most records the bytes after the header can hold (<= count)
  std::size_t line = 0;  // header line that declares it
  std::vector<PlyProperty> properties;
};

struct PlyHeader {
  PlyFormat format = PlyFormat::ascii;
  std::vector<PlyElement> elements;
  std::size_t data_offset = 0;  // bytes taken by the header, "end_header" line included
  std::size_t lines = 0;        // lines taken by the header
};

// What a PLY file holds: vertex positions, their normals and colours when the vertex element
// has nx, ny, nz and red, green, blue, and the faces as triangles (polygons split into fans).
struct PlyModel {
  PlyFormat format = PlyFormat::ascii;
  std::vector<Point3D> positions;
  std::vector<Point3D> normals;                // empty unless has_normals
  std::vector<Coord3D<unsigned char>> colors;  // empty unless has_colors
  std::vector<Coord3D<long long>> faces;       // vertex indices, in file order
  bool has_normals = false;
  bool has_colors = false;
  bool has_faces = false;  // the file has a face element (possibly with 0 faces)
};

struct PlyReadOptions {
  std::string error_prefix;      // put in front of every message (see the top of this file)
  unsigned step = 1;             // keep vertices 0, step, 2 step, ... (point files only)
  bool require_normals = false;  // a vertex element without nx, ny, nz is an error
  bool vertices_only = false;    // stop after the vertex element (point files): later
                                 // elements are not looked at; where none is declared, data
                                 // after the vertex records is an error as in any file
  unsigned threads = 1;          // ASCII data is read on this many threads (0 counts as 1),
  std::size_t piece_bytes = 1 << 20;  // in pieces of whole lines of about this many bytes;
                                      // the result and the messages are the same for all
};

// Reads the whole of the regular file `path` into `bytes`. Returns false, with `bytes` empty,
// if it is not a regular file or cannot be read.
bool read_file_bytes(const std::string& path, std::string& bytes);

// Parses and validates the header at the start of `bytes` (the contents of the file `path`,
// which is named in messages): every line and every type; each element's `fits` caps its count
// by the bytes that follow the header. Throws as described at the top of this file.
PlyHeader parse_ply_header(const std::string& path, std::string_view bytes,
                           const std::string& error_prefix);

// Reads a point or mesh file held in `bytes`: the vertex element needs x, y, z; colours are read
// when red, green and blue are all present (integers 0 to 255); a face element needs a list
// property "vertex_indices" or "vertex_index" of at least 3 corners, each an existing vertex.
// Other elements and properties are validated and skipped. Throws on any damage.
PlyModel parse_ply(const std::string& path, std::string_view bytes,
                   const PlyReadOptions& options);

// Reads the PLY file `path` with default options (every element, no prefix): throws
// TervikFileNotFound when it cannot be read and TervikFileError naming the line or byte on damage.
PlyModel read_ply(const std::string& path);

// The name of a property type in headers ("float", "uchar", ...), as the files write it.
const char* ply_type_name(PlyType type);

// The header of a point file with `count` points: x y z nx ny nz and, with `color`, red green
// blue (uchar). ASCII headers declare float coordinates, binary ones double.
std::string point_file_header(std::size_t count, bool color, PlyFormat format);

// Appends one point record to `out`: ASCII "%e %e %e %e %e %e[ %d %d %d]\n", binary six
// little-endian doubles followed by three bytes of colour when `rgb` is not null.
void append_point_record(std::string& out, const Point3D& pos, const Point3D& normal,
                         const unsigned char* rgb, PlyFormat format);

// The header of a mesh file: vertex x y z (float in ASCII, double in binary), with `color`
// red green blue (uchar), then `faces` faces of "property list uint8 int32 vertex_indices".
std::string mesh_file_header(std::size_t vertices, std::size_t faces, bool color,
                             PlyFormat format);

// Appends one mesh vertex to `out`: ASCII "%lf %lf %lf[ %d %d %d]\n", binary three doubles and
// the colour bytes when `rgb` is not null.
void append_mesh_vertex(std::string& out, const Point3D& p, const unsigned char* rgb,
                        PlyFormat format);

// Appends one triangle to `out`: ASCII "3 %lld %lld %lld\n", binary the byte 3 and three
// little-endian int32. Throws TervikError if an index does not fit an int32 in binary.
void append_mesh_face(std::string& out, const Coord3D<long long>& face, PlyFormat format);

}  // namespace tervik::io
