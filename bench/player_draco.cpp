// Frames as glTF binary files compressed with KHR_draco_mesh_compression, for
// bench/player_bench.sh to weigh Draco against the player's EXT_meshopt_compression:
//   player_draco QP LEVEL IN_TEMPLATE OUT_TEMPLATE FIRST LAST
// reads mesh PLY files IN_TEMPLATE (printf, e.g. take/mesh_%04ld.ply) for frames FIRST..LAST
// and writes OUT_TEMPLATE (e.g. player_draco/frames/frame_%06ld.glb) holding what make_player's
// frames hold (positions, 16-bit linear colours, triangles, the same unlit double-sided
// material), positions quantised to QP bits over the bounding box, at Draco's compression
// LEVEL (0 to 10, 7 is its encoder's default). Built only where Debian's libdraco-dev is.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <draco/compression/decode.h>
#include <draco/compression/encode.h>
#include <draco/mesh/mesh.h>

#include "tervik/atomic_file.h"
#include "tools/player/frame_ply.h"

namespace {

std::string format(const char* pattern, long frame) {
  char name[4096];
  std::snprintf(name, sizeof name, pattern, frame);
  return name;
}

std::uint16_t linear16(std::uint8_t srgb) {
  const double c = srgb / 255.0;
  const double lin = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  return static_cast<std::uint16_t>(std::lround(lin * 65535.0));
}

// The Draco stream of a triangle mesh with colours, and the number of points a decoder gives.
std::vector<char> encode(const tervik::tools::GltfMesh& m, int qp, int level, int& points) {
  const std::size_t n = m.positions.size() / 3;
  draco::Mesh mesh;
  mesh.set_num_points(static_cast<std::uint32_t>(n));
  draco::GeometryAttribute pos;
  pos.Init(draco::GeometryAttribute::POSITION, nullptr, 3, draco::DT_FLOAT32, false, 12, 0);
  const int p = mesh.AddAttribute(pos, true, static_cast<std::uint32_t>(n));
  for (std::size_t i = 0; i < n; ++i)
    mesh.attribute(p)->SetAttributeValue(draco::AttributeValueIndex(i), &m.positions[3 * i]);
  if (!m.colours.empty()) {
    draco::GeometryAttribute col;
    col.Init(draco::GeometryAttribute::COLOR, nullptr, 4, draco::DT_UINT16, true, 8, 0);
    const int c = mesh.AddAttribute(col, true, static_cast<std::uint32_t>(n));
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint16_t rgba[4] = {linear16(m.colours[3 * i]), linear16(m.colours[3 * i + 1]),
                                     linear16(m.colours[3 * i + 2]), 65535};
      mesh.attribute(c)->SetAttributeValue(draco::AttributeValueIndex(i), rgba);
    }
  }
  for (std::size_t t = 0; t < m.indices.size(); t += 3) {
    draco::Mesh::Face f;
    for (int k = 0; k < 3; ++k) f[k] = draco::PointIndex(m.indices[t + k]);
    mesh.AddFace(f);
  }
  draco::Encoder encoder;
  encoder.SetAttributeQuantization(draco::GeometryAttribute::POSITION, qp);
  encoder.SetSpeedOptions(10 - level, 10 - level);
  draco::EncoderBuffer buffer;
  const draco::Status s = encoder.EncodeMeshToBuffer(mesh, &buffer);
  if (!s.ok()) throw std::runtime_error("draco: " + s.error_msg_string());
  // The decoder's point count (the encoder may split vertices) is what the accessors count.
  draco::DecoderBuffer in;
  in.Init(buffer.data(), buffer.size());
  auto decoded = draco::Decoder().DecodeMeshFromBuffer(&in);
  if (!decoded.ok()) throw std::runtime_error("draco: cannot decode its own stream");
  points = static_cast<int>(decoded.value()->num_points());
  return std::vector<char>(buffer.data(), buffer.data() + buffer.size());
}

std::string glb(const tervik::tools::GltfMesh& m, const std::vector<char>& draco, int points) {
  float lo[3], hi[3];
  for (int k = 0; k < 3; ++k) {
    lo[k] = std::numeric_limits<float>::infinity();
    hi[k] = -lo[k];
  }
  for (std::size_t i = 0; i < m.positions.size(); ++i) {
    lo[i % 3] = std::min(lo[i % 3], m.positions[i]);
    hi[i % 3] = std::max(hi[i % 3], m.positions[i]);
  }
  const bool colours = !m.colours.empty();
  char box[256];
  std::snprintf(box, sizeof box, "\"min\":[%.9g,%.9g,%.9g],\"max\":[%.9g,%.9g,%.9g]", lo[0], lo[1],
                lo[2], hi[0], hi[1], hi[2]);
  const std::string count = std::to_string(points), indices = std::to_string(m.indices.size());
  std::string json =
      "{\"asset\":{\"version\":\"2.0\",\"generator\":\"tervik bench\"},"
      "\"extensionsUsed\":[\"KHR_materials_unlit\",\"KHR_draco_mesh_compression\"],"
      "\"extensionsRequired\":[\"KHR_draco_mesh_compression\"],"
      "\"scene\":0,\"scenes\":[{\"nodes\":[0]}],\"nodes\":[{\"mesh\":0}],"
      "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0" +
      std::string(colours ? ",\"COLOR_0\":1" : "") + "},\"indices\":" + (colours ? "2" : "1") +
      ",\"material\":0,\"mode\":4,\"extensions\":{\"KHR_draco_mesh_compression\":"
      "{\"bufferView\":0,\"attributes\":{\"POSITION\":0" +
      (colours ? ",\"COLOR_0\":1" : "") + "}}}}]}],"
      "\"materials\":[{\"pbrMetallicRoughness\":{\"metallicFactor\":0},\"doubleSided\":true,"
      "\"extensions\":{\"KHR_materials_unlit\":{}}}],"
      "\"accessors\":[{\"componentType\":5126,\"count\":" + count + ",\"type\":\"VEC3\"," + box +
      "}" +
      (colours ? ",{\"componentType\":5123,\"normalized\":true,\"count\":" + count +
                     ",\"type\":\"VEC4\"}"
               : "") +
      ",{\"componentType\":" + (points <= 65536 ? "5123" : "5125") + ",\"count\":" + indices +
      ",\"type\":\"SCALAR\"}],"
      "\"bufferViews\":[{\"buffer\":0,\"byteOffset\":0,\"byteLength\":" +
      std::to_string(draco.size()) + "}],\"buffers\":[{\"byteLength\":" +
      std::to_string((draco.size() + 3) / 4 * 4) + "}]}";
  while (json.size() % 4) json += ' ';
  std::string bin(draco.begin(), draco.end());
  while (bin.size() % 4) bin += '\0';
  std::string out;
  auto put32 = [&out](std::uint32_t v) {
    for (int k = 0; k < 4; ++k) out += static_cast<char>(v >> (8 * k));
  };
  put32(0x46546C67);
  put32(2);
  put32(static_cast<std::uint32_t>(12 + 8 + json.size() + 8 + bin.size()));
  put32(static_cast<std::uint32_t>(json.size()));
  put32(0x4E4F534A);
  out += json;
  put32(static_cast<std::uint32_t>(bin.size()));
  put32(0x004E4942);
  return out + bin;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: player_draco QP LEVEL IN_TEMPLATE OUT_TEMPLATE FIRST LAST\n");
    return 2;
  }
  const int qp = std::atoi(argv[1]), level = std::atoi(argv[2]);
  const long first = std::atol(argv[5]), last = std::atol(argv[6]);
  double seconds = 0;
  try {
    for (long f = first; f <= last; ++f) {
      const auto mesh = tervik::player::read_frame_ply(format(argv[3], f));
      const auto t0 = std::chrono::steady_clock::now();
      int points = 0;
      const std::vector<char> stream = encode(mesh, qp, level, points);
      seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      const std::string bytes = glb(mesh, stream, points);
      tervik::io::AtomicFile file;
      const std::string out = format(argv[4], f);
      if (!file.open(out) || std::fwrite(bytes.data(), 1, bytes.size(), file.stream()) != bytes.size() ||
          !file.commit())
        throw std::runtime_error("cannot write " + out);
    }
  } catch (const std::exception& e) {
    std::printf("ERROR: %s\n", e.what());
    return 1;
  }
  std::printf("encoding (and decoding once, to count the points): %.1f ms per frame\n",
              1000 * seconds / double(last - first + 1));
  return 0;
}
