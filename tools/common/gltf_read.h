#pragma once
// Reading glTF 2.0 binary files (.glb) of one mesh, as tools/common/gltf.h writes them and as
// other programs commonly write them: the first primitive of the first mesh (triangles or
// points), its positions, normals, colours and texture coordinates, its indices and its
// material's embedded base-colour image (PNG or JPEG in a buffer view). Compressed buffers
// (EXT_meshopt_compression, KHR_draco_mesh_compression), external buffers and images, sparse
// accessors and the node hierarchy are not read: a file that needs them is refused by name.
// Conventions as in gltf.h.
#include <string>

#include "tervik/imagergb.h"
#include "tools/common/gltf.h"

namespace tervik::tools {

// Reads the file's mesh. Vertex colours (linear in glTF, as floats or normalised integers)
// become 8-bit sRGB, an alpha channel is dropped. Throws TervikFileNotFound when the file cannot be read and
// TervikFileError naming the file and the part that is malformed or unsupported, such as an
// infinite or NaN float, or triangle indices that are not of an unsigned integer type.
GltfMesh read_glb(const std::string& path);

// Decodes the mesh's base-colour image; an empty image when the mesh has none. Throws
// TervikFileError naming `path` when the image cannot be decoded.
ImageRGB<unsigned char> decode_base_colour(const GltfMesh& mesh, const std::string& path);

}  // namespace tervik::tools
