// The .glb reader: the 12-byte header, a JSON chunk (parsed with Boost.PropertyTree) and a
// binary chunk that the accessors index through buffer views.
#include "tools/common/gltf_read.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "tervik/exceptions.h"
#include "tervik/image_bytes.h"
#include "tervik/ply.h"

namespace tervik::tools {

namespace {

namespace pt = boost::property_tree;

std::uint32_t le32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

// The i-th element of a JSON array; throws naming `what` when there is none.
const pt::ptree& element(const pt::ptree& array, std::size_t i, const std::string& what) {
  std::size_t k = 0;
  for (const auto& child : array)
    if (k++ == i) return child.second;
  throw std::runtime_error(what + " " + std::to_string(i) + " does not exist");
}

// Boost's JSON parser recurses once per nested array or object: a file that nests deeply
// enough overflows the stack. A glTF's JSON nests about eight levels (extras may add some);
// anything past kMaxJsonDepth is refused before parsing.
constexpr int kMaxJsonDepth = 256;

void check_json_depth(const std::string& text) {
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') ++i;
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxJsonDepth)
        throw std::runtime_error("the JSON chunk nests more than " + std::to_string(kMaxJsonDepth) +
                                 " levels deep");
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
}

struct Reader {
  const pt::ptree& json;
  const unsigned char* bin;
  std::size_t bin_size;

  // The bytes of buffer view `index` (in the binary chunk).
  std::pair<const unsigned char*, std::size_t> view(std::size_t index, std::size_t* stride) const {
    const pt::ptree& v = element(json.get_child("bufferViews"), index, "bufferView");
    if (v.get<std::size_t>("buffer", 0) != 0) throw std::runtime_error("only buffer 0 (the GLB's own) is read");
    if (!bin) throw std::runtime_error("the file has no binary chunk");
    const std::size_t offset = v.get<std::size_t>("byteOffset", 0);
    const std::size_t length = v.get<std::size_t>("byteLength");
    if (offset > bin_size || length > bin_size - offset)
      throw std::runtime_error("bufferView " + std::to_string(index) + " lies outside the binary chunk");
    if (stride) *stride = v.get<std::size_t>("byteStride", 0);
    return {bin + offset, length};
  }

  // Accessor `index` as doubles, `components` per element; unsigned normalised integers
  // become 0 to 1 when `normalise` holds for them.
  std::vector<double> accessor(std::size_t index, int components, std::size_t& count) const {
    const pt::ptree& a = element(json.get_child("accessors"), index, "accessor");
    if (a.get_child_optional("sparse")) throw std::runtime_error("sparse accessors are not read");
    const std::string type = a.get<std::string>("type");
    const int have = type == "SCALAR" ? 1 : type == "VEC2" ? 2 : type == "VEC3" ? 3 : type == "VEC4" ? 4 : 0;
    if (have == 0 || have < components)
      throw std::runtime_error("accessor " + std::to_string(index) + " has type " + type);
    const int ctype = a.get<int>("componentType");
    const bool normalized = a.get<bool>("normalized", false);
    std::size_t size = 0;
    switch (ctype) {
      case 5120: case 5121: size = 1; break;
      case 5122: case 5123: size = 2; break;
      case 5125: case 5126: size = 4; break;
      default: throw std::runtime_error("accessor " + std::to_string(index) + " has component type " + std::to_string(ctype));
    }
    count = a.get<std::size_t>("count");
    std::size_t stride = 0;
    const auto [data, length] = view(a.get<std::size_t>("bufferView"), &stride);
    const std::size_t offset = a.get<std::size_t>("byteOffset", 0);
    const std::size_t element_size = size * std::size_t(have);
    if (stride == 0) stride = element_size;
    if (count > 0 && (offset > length || (count - 1) > (length - offset) / stride ||
                      (count - 1) * stride + element_size > length - offset))
      throw std::runtime_error("accessor " + std::to_string(index) + " reads past its bufferView");
    std::vector<double> out(count * std::size_t(components));
    for (std::size_t i = 0; i < count; ++i)
      for (int c = 0; c < components; ++c) {
        const unsigned char* p = data + offset + i * stride + std::size_t(c) * size;
        double v = 0.0;
        switch (ctype) {
          case 5120: v = double(static_cast<signed char>(p[0])); break;
          case 5121: v = normalized ? p[0] / 255.0 : p[0]; break;
          case 5122: v = double(std::int16_t(std::uint16_t(p[0] | p[1] << 8))); break;
          case 5123: {
            const unsigned u = unsigned(p[0] | p[1] << 8);
            v = normalized ? u / 65535.0 : double(u);
            break;
          }
          case 5125: v = double(le32(p)); break;
          case 5126: {
            float f;
            const std::uint32_t bits = le32(p);
            std::memcpy(&f, &bits, 4);
            // As the PLY reader: an infinity or NaN is damage, not a coordinate.
            if (!std::isfinite(f))
              throw std::runtime_error("accessor " + std::to_string(index) + " holds a value that is not finite");
            v = f;
            break;
          }
        }
        out[i * std::size_t(components) + std::size_t(c)] = v;
      }
    return out;
  }
};

GltfMesh parse(const std::vector<unsigned char>& file) {
  if (file.size() < 20 || std::memcmp(file.data(), "glTF", 4) != 0)
    throw std::runtime_error("not a glTF binary file (no 'glTF' signature)");
  if (le32(&file[4]) != 2) throw std::runtime_error("glTF version " + std::to_string(le32(&file[4])) + ", not 2");
  const std::size_t total = std::min<std::size_t>(le32(&file[8]), file.size());
  std::string json_text;
  const unsigned char* bin = nullptr;
  std::size_t bin_size = 0;
  for (std::size_t at = 12; at + 8 <= total;) {
    const std::size_t length = le32(&file[at]);
    const std::uint32_t type = le32(&file[at + 4]);
    if (length > total - at - 8) throw std::runtime_error("a chunk at byte " + std::to_string(at) + " runs past the end");
    if (type == 0x4E4F534Au && json_text.empty())
      json_text.assign(reinterpret_cast<const char*>(&file[at + 8]), length);
    else if (type == 0x004E4942u && !bin)
      bin = &file[at + 8], bin_size = length;
    at += 8 + length;
  }
  if (json_text.empty()) throw std::runtime_error("no JSON chunk");
  check_json_depth(json_text);
  pt::ptree json;
  std::istringstream in(json_text);
  try {
    pt::read_json(in, json);
  } catch (const pt::json_parser_error& e) {
    throw std::runtime_error("the JSON chunk does not parse: " + e.message() + " on line " +
                             std::to_string(e.line()));
  }
  if (auto required = json.get_child_optional("extensionsRequired"))
    for (const auto& ext : *required)
      throw std::runtime_error("the file needs the extension " + ext.second.data() +
                               ", which this reader does not decode");
  if (!json.get_child_optional("buffers")) bin = nullptr;
  else if (element(json.get_child("buffers"), 0, "buffer").get_optional<std::string>("uri"))
    throw std::runtime_error("external buffers are not read");
  if (!json.get_child_optional("meshes")) throw std::runtime_error("the file holds no mesh");
  const Reader r{json, bin, bin_size};
  const pt::ptree& prim = element(element(json.get_child("meshes"), 0, "mesh").get_child("primitives"), 0, "primitive");
  const int mode = prim.get<int>("mode", 4);
  if (mode != 4 && mode != 0) throw std::runtime_error("primitive mode " + std::to_string(mode) + " (only triangles and points are read)");
  const pt::ptree& attr = prim.get_child("attributes");
  GltfMesh mesh;
  std::size_t n = 0;
  for (double v : r.accessor(attr.get<std::size_t>("POSITION"), 3, n)) mesh.positions.push_back(float(v));
  std::size_t m = 0;
  if (auto i = attr.get_optional<std::size_t>("NORMAL")) {
    for (double v : r.accessor(*i, 3, m)) mesh.normals.push_back(float(v));
    if (m != n) throw std::runtime_error("NORMAL has " + std::to_string(m) + " elements for " + std::to_string(n) + " positions");
  }
  if (auto i = attr.get_optional<std::size_t>("TEXCOORD_0")) {
    for (double v : r.accessor(*i, 2, m)) mesh.texcoords.push_back(float(v));
    if (m != n) throw std::runtime_error("TEXCOORD_0 has " + std::to_string(m) + " elements for " + std::to_string(n) + " positions");
  }
  if (auto i = attr.get_optional<std::size_t>("COLOR_0")) {
    // glTF's vertex colours are linear (integers normalised, arriving as 0 to 1 too); the
    // mesh holds 8-bit sRGB.
    for (double v : r.accessor(*i, 3, m)) {
      const double l = std::clamp(v, 0.0, 1.0);
      const double srgb = l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055;
      mesh.colours.push_back(std::uint8_t(std::lround(std::clamp(srgb, 0.0, 1.0) * 255.0)));
    }
    if (m != n) throw std::runtime_error("COLOR_0 has " + std::to_string(m) + " elements for " + std::to_string(n) + " positions");
  }
  if (mode == 4) {
    if (auto i = prim.get_optional<std::size_t>("indices")) {
      // Indices are unsigned integers; a signed or float accessor could name no vertex.
      const int ctype = element(json.get_child("accessors"), *i, "accessor").get<int>("componentType");
      if (ctype != 5121 && ctype != 5123 && ctype != 5125)
        throw std::runtime_error("the triangle indices have component type " + std::to_string(ctype) +
                                 ", not an unsigned integer type");
      for (double v : r.accessor(*i, 1, m)) mesh.indices.push_back(std::uint32_t(v));
    } else {
      for (std::size_t k = 0; k < n; ++k) mesh.indices.push_back(std::uint32_t(k));
    }
    if (mesh.indices.size() % 3 != 0) throw std::runtime_error("the triangle indices are not a multiple of 3");
    for (std::uint32_t v : mesh.indices)
      if (v >= n) throw std::runtime_error("an index names vertex " + std::to_string(v) + " of " + std::to_string(n));
  }
  if (auto material = prim.get_optional<std::size_t>("material")) {
    const pt::ptree& mat = element(json.get_child("materials"), *material, "material");
    if (auto tex = mat.get_optional<std::size_t>("pbrMetallicRoughness.baseColorTexture.index")) {
      const pt::ptree& t = element(json.get_child("textures"), *tex, "texture");
      const pt::ptree& image = element(json.get_child("images"), t.get<std::size_t>("source"), "image");
      if (image.get_optional<std::string>("uri")) throw std::runtime_error("external images are not read");
      const auto [data, length] = r.view(image.get<std::size_t>("bufferView"), nullptr);
      mesh.base_colour.bytes.assign(data, data + length);
      mesh.base_colour.mime_type = image.get<std::string>("mimeType", "");
    }
  }
  return mesh;
}

}  // namespace

GltfMesh read_glb(const std::string& path) {
  std::string bytes;
  if (!io::read_file_bytes(path, bytes)) throw TervikFileNotFound(path);
  try {
    return parse(std::vector<unsigned char>(bytes.begin(), bytes.end()));
  } catch (const pt::ptree_error& e) {
    throw TervikFileError(path, std::string("malformed glTF JSON: ") + e.what());
  } catch (const BacktracedTervikException& e) {
    throw TervikFileError(path, e.what());
  } catch (const std::exception& e) {
    throw TervikFileError(path, e.what());
  }
}

ImageRGB<unsigned char> decode_base_colour(const GltfMesh& mesh, const std::string& path) {
  if (mesh.base_colour.bytes.empty()) return {};
  try {
    return io::decode_image_bytes(mesh.base_colour.bytes.data(), mesh.base_colour.bytes.size(),
                                  "the base-colour image");
  } catch (const std::exception& e) {
    throw TervikFileError(path, e.what());
  }
}

}  // namespace tervik::tools
