#pragma once
// Files of texture_mesh: the mesh it reads and the textured mesh it writes (glTF binary, or
// OBJ with its material file and the atlas image).
#include <string>
#include <vector>

#include "tools/common/gltf.h"
#include "tools/texture/texture_mesh.h"

namespace tervik::texture {

// Reads a PLY mesh (ASCII or binary, weaver's output or any triangle mesh) with its vertex
// colours when it has them. Throws the PLY reader's errors, and TervikFileError naming the
// file when it has no faces.
TriMesh read_mesh(const std::string& path);

// The atlas as image file bytes: PNG (compressed on `threads` threads, the same bytes for any
// number), or JPEG when jpeg_quality is 1 to 100 (0: PNG).
std::vector<unsigned char> encode_atlas(const ImageRGB<unsigned char>& atlas, int jpeg_quality,
                                        int threads = 1);

// The textured mesh as the glTF writer takes it, with the encoded atlas as base-colour texture.
tools::GltfMesh to_gltf(const TexturedMesh& mesh, std::vector<unsigned char> image,
                        bool jpeg);

// The files of the OBJ output `obj_path` ("x/name.obj"): the material "x/name.mtl" and the
// atlas "x/name.png" or "x/name.jpg".
struct ObjFiles {
  std::string obj, mtl, image;
};
ObjFiles obj_files(const std::string& obj_path, bool jpeg);

// Writes the OBJ (v, vt with v flipped to OBJ's bottom-up convention, vn, f v/vt/vn), its
// material (map_Kd the atlas) and the atlas image, each through the atomic writer, the OBJ
// last. Throws TervikFileError naming the file that cannot be written.
void write_obj(const ObjFiles& files, const TexturedMesh& mesh,
               const std::vector<unsigned char>& image);

}  // namespace tervik::texture
