#pragma once
// glTF 2.0 binary files (.glb) holding one mesh: triangles or points, with optional per-vertex
// normals, colours and texture coordinates, and at most one embedded base-colour image.
//
// Conventions: positions and normals are in world units of the calibration, as in the PLY files;
// texture coordinates follow glTF, with (0, 0) the top-left corner of the image and v growing
// downwards; colours are 8-bit sRGB as in the PLY files.
#include <cstdint>
#include <string>
#include <vector>

namespace tervik::tools {

// An encoded image file (PNG or JPEG bytes), embedded as it is.
struct GltfImage {
  std::vector<unsigned char> bytes;  // empty: no image
  std::string mime_type;             // "image/png" or "image/jpeg"
};

struct GltfMesh {
  std::vector<float> positions;        // x y z per vertex
  std::vector<float> normals;          // empty, or nx ny nz per vertex
  std::vector<std::uint8_t> colours;   // empty, or r g b per vertex
  std::vector<float> texcoords;        // empty, or u v per vertex
  std::vector<std::uint32_t> indices;  // three per triangle; empty: the vertices are points
  GltfImage base_colour;               // the material's base-colour texture (needs texcoords)
};

struct GltfOptions {
  // Compress the vertex and index buffers with EXT_meshopt_compression (the extension is then
  // required: a reader must decode it). The vertices are then stored in the order that
  // compresses best (triangles in vertex-cache order, points along a space-filling curve): the
  // same triangles and points, but vertex i of the mesh is not vertex i of the file.
  bool meshopt = false;
  // With meshopt: when 1 to 24, positions go through the extension's exponential filter and
  // keep this many bits of signed mantissa: an error of at most 2^-(bits-1) of the vertex's
  // largest coordinate. 16 bits take about half the bytes of exact positions. 0: exact.
  int position_bits = 0;
};

// The mesh as a .glb file in memory. Throws TervikError when the arrays disagree in size or an
// index is out of range.
std::vector<unsigned char> encode_glb(const GltfMesh& mesh, const GltfOptions& options = {});

// Writes encode_glb(mesh, options) to `path` through the atomic writer; throws TervikError
// naming the path when it cannot be written.
void write_glb(const std::string& path, const GltfMesh& mesh, const GltfOptions& options = {});

}  // namespace tervik::tools
