#pragma once
// Reader of the ASCII PLY files that this project writes: point files (positions, optional
// normals and colours) and triangle meshes (positions, optional colours, faces).
//
// The reader accepts any ASCII PLY whose items are one per line: the "vertex" element needs
// the properties x, y, z; nx, ny, nz and red, green, blue are read when all three are present;
// a "face" element needs a list property "vertex_indices" (or "vertex_index"); polygons with
// more than three corners are split into a fan of triangles. Other elements and properties are
// skipped. Anything it cannot parse fails with TervikFileError naming the file and the line.
#include <string>
#include <vector>

#include "tervik/points.h"

namespace tervik::io {

struct PlyModel {
  std::vector<Point3D> positions;
  std::vector<Point3D> normals;                      // empty unless has_normals
  std::vector<Coord3D<unsigned char>> colors;        // empty unless has_colors
  std::vector<Coord3D<long long>> faces;             // vertex indices, in file order
  bool has_normals = false;
  bool has_colors = false;
  bool has_faces = false;  // the file declares a face element (possibly with 0 faces)
};

// Reads the PLY file `file`. Throws TervikFileNotFound when it cannot be opened and
// TervikFileError ("Error in file '<file>': line N: ...") on a malformed header or item, a
// count the file cannot hold, a vertex index out of range or data after the last element.
PlyModel read_ply(const std::string& file);

}  // namespace tervik::io
