#include "tools/common/gltf.h"

#include <array>
#include <cstring>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <meshoptimizer.h>

#include <gtest/gtest.h>

#include "test_util.h"
#include "tervik/exceptions.h"
#include "tools/common/json.h"

namespace tervik::tools {
namespace {

using Bytes = std::vector<unsigned char>;

// File names and messages reach the JSON files as they are: quotes, backslashes and control
// characters escaped, everything else (UTF-8 included) untouched.
TEST(Json, StringEscapesOnlyWhatJsonRequires) {
  EXPECT_EQ(json_string(""), "\"\"");
  EXPECT_EQ(json_string("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(json_string(std::string("t\ta\nb\x01\x1f", 7)), "\"t\\u0009a\\u000ab\\u0001\\u001f\"");
  EXPECT_EQ(json_string("d\xc3\xa9j\xc3\xa0 /x%04ld.glb"), "\"d\xc3\xa9j\xc3\xa0 /x%04ld.glb\"");
}

std::uint32_t read32(const Bytes& b, std::size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

// The two chunks of a .glb, after checking the container's header and chunk lengths.
struct Glb {
  std::string json;
  Bytes bin;
};

Glb split(const Bytes& glb) {
  Glb out;
  EXPECT_GE(glb.size(), 20u);
  EXPECT_EQ(read32(glb, 0), 0x46546C67u);
  EXPECT_EQ(read32(glb, 4), 2u);
  EXPECT_EQ(read32(glb, 8), glb.size());
  const std::uint32_t json_size = read32(glb, 12);
  EXPECT_EQ(json_size % 4, 0u);
  EXPECT_EQ(read32(glb, 16), 0x4E4F534Au);
  out.json.assign(glb.begin() + 20, glb.begin() + 20 + json_size);
  if (20 + json_size < glb.size()) {
    const std::uint32_t bin_size = read32(glb, 20 + json_size);
    EXPECT_EQ(read32(glb, 24 + json_size), 0x004E4942u);
    EXPECT_EQ(28 + json_size + bin_size, glb.size());
    out.bin.assign(glb.begin() + 28 + json_size, glb.end());
  }
  return out;
}

// A random mesh with colours and normals; the last vertex is used by no triangle.
GltfMesh random_mesh(std::size_t vertices, std::size_t triangles, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> coord(-1.0f, 1.0f);
  GltfMesh m;
  for (std::size_t i = 0; i < vertices; ++i) {
    for (int k = 0; k < 3; ++k) m.positions.push_back(coord(rng));
    for (int k = 0; k < 3; ++k) m.normals.push_back(coord(rng));
    for (int k = 0; k < 3; ++k) m.colours.push_back(static_cast<std::uint8_t>(rng() % 256));
  }
  for (std::size_t t = 0; t < 3 * triangles; ++t)
    m.indices.push_back(static_cast<std::uint32_t>(rng() % (vertices - 1)));
  return m;
}

// One corner of a triangle by value: position bits and the colour as stored in the file.
using Corner = std::array<std::uint32_t, 6>;
using Triangle = std::array<Corner, 3>;

// The triangles of a file's decoded streams (or of the input, converted the same way), each
// rotated so that its smallest corner comes first: vertex order may change, winding may not.
std::multiset<Triangle> triangles_of(const std::vector<float>& pos,
                                     const std::vector<std::uint16_t>& rgba,
                                     const std::vector<std::uint32_t>& idx) {
  std::multiset<Triangle> out;
  for (std::size_t t = 0; t + 2 < idx.size(); t += 3) {
    Triangle tri;
    for (int c = 0; c < 3; ++c) {
      const std::uint32_t v = idx[t + c];
      std::memcpy(tri[c].data(), &pos[3 * v], 12);
      for (int k = 0; k < 3; ++k) tri[c][3 + k] = rgba[4 * v + k];
    }
    const auto first = std::min_element(tri.begin(), tri.end()) - tri.begin();
    std::rotate(tri.begin(), tri.begin() + first, tri.end());
    out.insert(tri);
  }
  return out;
}

std::uint16_t linear16(std::uint8_t srgb) {
  const double c = srgb / 255.0;
  return static_cast<std::uint16_t>(
      std::lround((c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4)) * 65535.0));
}

TEST(GltfWriter, UncompressedFileHoldsTheArraysInPlace) {
  GltfMesh m = random_mesh(50, 40, 1);
  m.colours[0] = 0;
  m.colours[1] = 255;
  m.colours[2] = 128;
  const Glb glb = split(encode_glb(m));
  // Views in order: positions, normals, colours, indices (16-bit for so few vertices).
  ASSERT_EQ(glb.bin.size(), 50 * (12 + 12 + 8) + 40 * 3 * 2);
  EXPECT_EQ(std::memcmp(glb.bin.data(), m.positions.data(), 50 * 12), 0);
  std::uint16_t first_colour[4];
  std::memcpy(first_colour, glb.bin.data() + 50 * 24, 8);
  EXPECT_EQ(first_colour[0], 0);
  EXPECT_EQ(first_colour[1], 65535);
  EXPECT_EQ(first_colour[2], linear16(128));
  EXPECT_EQ(first_colour[3], 65535);
  std::uint16_t last_index;
  std::memcpy(&last_index, glb.bin.data() + glb.bin.size() - 2, 2);
  EXPECT_EQ(last_index, m.indices.back());
  EXPECT_NE(glb.json.find("\"mode\":4"), std::string::npos);
  EXPECT_EQ(glb.json.find("EXT_meshopt_compression"), std::string::npos);

  // Points: mode 0 and no index accessor. No vertices: a valid file with an empty scene.
  m.indices.clear();
  const Glb points = split(encode_glb(m));
  EXPECT_NE(points.json.find("\"mode\":0"), std::string::npos);
  EXPECT_EQ(points.json.find("\"indices\""), std::string::npos);
  const Glb empty = split(encode_glb(GltfMesh{}));
  EXPECT_TRUE(empty.bin.empty());
  EXPECT_EQ(empty.json.find("\"meshes\""), std::string::npos);
}

TEST(GltfWriter, MeshoptStreamsDecodeToTheSameTrianglesAndPoints) {
  // A small mesh (16-bit indices) and one with more vertices than 16 bits index (32-bit).
  for (const auto& [vertices, triangles] : {std::pair{300u, 500u}, std::pair{70000u, 2000u}}) {
    SCOPED_TRACE(vertices);
    const GltfMesh m = random_mesh(vertices, triangles, vertices);
    const Glb glb = split(encode_glb(m, {.meshopt = true}));
    EXPECT_NE(glb.json.find("\"extensionsRequired\":[\"EXT_meshopt_compression\"]"),
              std::string::npos);
    const std::regex stream_re(
        "\"EXT_meshopt_compression\":\\{\"buffer\":0,\"byteOffset\":(\\d+),\"byteLength\":(\\d+),"
        "\"byteStride\":(\\d+),\"count\":(\\d+),\"mode\":\"(\\w+)\"(,\"filter\":\"EXPONENTIAL\")?\\}");
    std::vector<Bytes> decoded;
    for (auto it = std::sregex_iterator(glb.json.begin(), glb.json.end(), stream_re);
         it != std::sregex_iterator(); ++it) {
      const std::size_t offset = std::stoul((*it)[1]), length = std::stoul((*it)[2]);
      const std::size_t stride = std::stoul((*it)[3]), count = std::stoul((*it)[4]);
      ASSERT_LE(offset + length, glb.bin.size());
      Bytes out(stride * count);
      const int rc = (*it)[5] == "ATTRIBUTES"
                         ? meshopt_decodeVertexBuffer(out.data(), count, stride,
                                                      glb.bin.data() + offset, length)
                         : meshopt_decodeIndexBuffer(out.data(), count, stride,
                                                     glb.bin.data() + offset, length);
      ASSERT_EQ(rc, 0);
      decoded.push_back(out);
    }
    // Positions, normals, colours, indices.
    ASSERT_EQ(decoded.size(), 4u);
    std::vector<float> pos(3 * vertices);
    std::memcpy(pos.data(), decoded[0].data(), decoded[0].size());
    std::vector<std::uint16_t> rgba(4 * vertices);
    std::memcpy(rgba.data(), decoded[2].data(), decoded[2].size());
    std::vector<std::uint32_t> idx(3 * triangles);
    const bool narrow = vertices <= 65536;
    EXPECT_EQ(decoded[3].size(), idx.size() * (narrow ? 2 : 4));
    for (std::size_t i = 0; i < idx.size(); ++i) {
      if (narrow) {
        std::uint16_t v;
        std::memcpy(&v, decoded[3].data() + 2 * i, 2);
        idx[i] = v;
      } else {
        std::memcpy(&idx[i], decoded[3].data() + 4 * i, 4);
      }
    }
    std::vector<std::uint16_t> input_rgba(4 * vertices);
    for (std::size_t i = 0; i < vertices; ++i)
      for (int k = 0; k < 3; ++k) input_rgba[4 * i + k] = linear16(m.colours[3 * i + k]);
    EXPECT_TRUE(triangles_of(pos, rgba, idx) == triangles_of(m.positions, input_rgba, m.indices));
    // The vertex that no triangle uses is still in the file.
    std::multiset<std::array<float, 3>> in, out;
    for (std::size_t i = 0; i < vertices; ++i) {
      in.insert({m.positions[3 * i], m.positions[3 * i + 1], m.positions[3 * i + 2]});
      out.insert({pos[3 * i], pos[3 * i + 1], pos[3 * i + 2]});
    }
    EXPECT_TRUE(in == out);
  }
}

TEST(GltfWriter, FilteredPositionsKeepTheirBitsOfMantissa) {
  const GltfMesh m = random_mesh(300, 200, 5);
  const Glb glb = split(encode_glb(m, {.meshopt = true, .position_bits = 16}));
  const std::regex position_re(
      "\"EXT_meshopt_compression\":\\{\"buffer\":0,\"byteOffset\":(\\d+),\"byteLength\":(\\d+),"
      "\"byteStride\":12,\"count\":300,\"mode\":\"ATTRIBUTES\",\"filter\":\"EXPONENTIAL\"\\}");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(glb.json, match, position_re)) << glb.json;
  std::vector<float> pos(900);
  ASSERT_EQ(meshopt_decodeVertexBuffer(pos.data(), 300, 12, glb.bin.data() + std::stoul(match[1]),
                                       std::stoul(match[2])), 0);
  meshopt_decodeFilterExp(pos.data(), 300, 12);
  // Every decoded position lies within 2^-15 of its largest coordinate of an input position.
  for (std::size_t i = 0; i < 300; ++i) {
    double best = 1e9;
    for (std::size_t j = 0; j < 300; ++j) {
      double e = 0.0, size = 1e-3;
      for (int k = 0; k < 3; ++k) {
        e = std::max(e, double(std::abs(pos[3 * i + k] - m.positions[3 * j + k])));
        size = std::max(size, double(std::abs(m.positions[3 * j + k])));
      }
      best = std::min(best, e / size);
    }
    EXPECT_LE(best, 1.0 / 32768) << i;
  }
}

TEST(GltfWriter, RefusesInconsistentMeshesAndUnwritablePaths) {
  auto message = [](const GltfMesh& m) {
    try {
      encode_glb(m);
    } catch (const TervikError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  GltfMesh m = random_mesh(10, 4, 3);
  GltfMesh bad = m;
  bad.indices[5] = 10;
  EXPECT_NE(message(bad).find("index 10 refers to a vertex outside 0..9"), std::string::npos);
  bad = m;
  bad.colours.pop_back();
  EXPECT_NE(message(bad).find("29 colour values for 10 vertices"), std::string::npos);
  bad = m;
  bad.base_colour = {{1, 2, 3}, "image/png"};
  EXPECT_NE(message(bad).find("needs texture coordinates"), std::string::npos);
  bad.texcoords.assign(20, 0.5f);
  bad.base_colour.mime_type = "image/gif";
  EXPECT_NE(message(bad).find("image type 'image/gif'"), std::string::npos);

  testing::TempDir dir;
  const std::string path = dir.file("missing/frame.glb");
  try {
    write_glb(path, m);
    ADD_FAILURE() << "wrote into a missing folder";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
  // A textured mesh: the image is stored as given, after the geometry.
  m.texcoords.assign(20, 0.25f);
  m.base_colour = {{0x89, 'P', 'N', 'G', 7, 7}, "image/png"};
  write_glb(dir.file("frame.glb"), m, {.meshopt = true});
  const std::string file = testing::read_file(dir.file("frame.glb"));
  const Glb glb = split(Bytes(file.begin(), file.end()));
  EXPECT_NE(glb.json.find("\"baseColorTexture\":{\"index\":0}"), std::string::npos);
  EXPECT_NE(std::search(glb.bin.begin(), glb.bin.end(), m.base_colour.bytes.begin(),
                        m.base_colour.bytes.end()),
            glb.bin.end());
}

}  // namespace
}  // namespace tervik::tools
