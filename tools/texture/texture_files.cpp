// Reading the mesh to texture and writing the textured mesh.
#include "tools/texture/texture_files.h"

#include <cstdio>
#include <filesystem>

#include "tervik/atomic_file.h"
#include "tervik/image_bytes.h"
#include "tervik/ply.h"

namespace tervik::texture {

TriMesh read_mesh(const std::string& path) {
  const io::PlyModel model = io::read_ply(path);
  if (model.faces.empty())
    throw TervikFileError(path, model.has_faces ? "the mesh has no faces"
                                                : "the file holds points, not a mesh (no faces)");
  TriMesh mesh;
  mesh.positions = model.positions;
  if (model.has_colors) mesh.colors = model.colors;
  TERVIK_CHECK(model.positions.size() < (1ull << 32), path << ": too many vertices");
  mesh.faces.reserve(model.faces.size());
  for (const auto& f : model.faces)
    mesh.faces.push_back({std::uint32_t(f.x), std::uint32_t(f.y), std::uint32_t(f.z)});
  return mesh;
}

std::vector<unsigned char> encode_atlas(const ImageRGB<unsigned char>& atlas, int jpeg_quality,
                                        int threads) {
  // Level 1: most of a large atlas is flat padding, which compresses well at any level, and
  // the higher levels cost seconds on a 4096 x 4096 atlas for a few per cent.
  return jpeg_quality > 0 ? io::encode_jpeg_bytes(atlas, jpeg_quality)
                          : io::encode_png_bytes(atlas, 1, threads);
}

tools::GltfMesh to_gltf(const TexturedMesh& mesh, std::vector<unsigned char> image, bool jpeg) {
  tools::GltfMesh out;
  out.positions = mesh.positions;
  out.normals = mesh.normals;
  out.texcoords = mesh.texcoords;
  out.indices = mesh.indices;
  out.base_colour.bytes = std::move(image);
  out.base_colour.mime_type = jpeg ? "image/jpeg" : "image/png";
  return out;
}

ObjFiles obj_files(const std::string& obj_path, bool jpeg) {
  std::filesystem::path p(obj_path);
  ObjFiles f;
  f.obj = obj_path;
  f.mtl = std::filesystem::path(p).replace_extension(".mtl").string();
  f.image = std::filesystem::path(p).replace_extension(jpeg ? ".jpg" : ".png").string();
  return f;
}

namespace {

void write_bytes(const std::string& path, const void* data, std::size_t size) {
  io::AtomicFile file;
  if (!file.open(path)) throw TervikFileError(path, "cannot write: " + file.error());
  if (size > 0) std::fwrite(data, 1, size, file.stream());
  if (!file.commit()) throw TervikFileError(path, "cannot write: " + file.error());
}

}  // namespace

void write_obj(const ObjFiles& files, const TexturedMesh& mesh,
               const std::vector<unsigned char>& image) {
  const std::string image_name = std::filesystem::path(files.image).filename().string();
  const std::string mtl_name = std::filesystem::path(files.mtl).filename().string();
  write_bytes(files.image, image.data(), image.size());
  const std::string mtl = "newmtl atlas\nKa 1 1 1\nKd 1 1 1\nKs 0 0 0\nillum 1\nmap_Kd " +
                          image_name + "\n";
  write_bytes(files.mtl, mtl.data(), mtl.size());
  std::string obj = "mtllib " + mtl_name + "\n";
  char line[160];
  const std::size_t n = mesh.positions.size() / 3;
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(line, sizeof line, "v %.9g %.9g %.9g\n", mesh.positions[3 * i],
                  mesh.positions[3 * i + 1], mesh.positions[3 * i + 2]);
    obj += line;
  }
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(line, sizeof line, "vt %.9g %.9g\n", mesh.texcoords[2 * i],
                  1.0 - double(mesh.texcoords[2 * i + 1]));
    obj += line;
  }
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(line, sizeof line, "vn %.6g %.6g %.6g\n", mesh.normals[3 * i],
                  mesh.normals[3 * i + 1], mesh.normals[3 * i + 2]);
    obj += line;
  }
  obj += "usemtl atlas\n";
  for (std::size_t f = 0; f + 2 < mesh.indices.size(); f += 3) {
    const unsigned long a = mesh.indices[f] + 1ul, b = mesh.indices[f + 1] + 1ul,
                        c = mesh.indices[f + 2] + 1ul;
    std::snprintf(line, sizeof line, "f %lu/%lu/%lu %lu/%lu/%lu %lu/%lu/%lu\n", a, a, a, b, b, b,
                  c, c, c);
    obj += line;
  }
  write_bytes(files.obj, obj.data(), obj.size());
}

}  // namespace tervik::texture
