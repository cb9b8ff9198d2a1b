// Reading a frame's mesh PLY as make_player does (the fast path for the programs' layout)
// against the project's general PLY reader, on an ASCII mesh of 40,000 vertices with colours
// and 73,000 triangles written as weaver writes it ("%lf" coordinates, "3 a b c" faces).
#include <cstdio>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "tervik/ply.h"
#include "tools/player/frame_ply.h"
#include "tools/player/frames.h"

namespace {

const std::string& mesh_file() {
  static const std::string bytes = [] {
    constexpr int kVertices = 40000, kFaces = 73000;
    std::mt19937 rng(37);
    std::uniform_real_distribution<double> coordinate(-0.5, 0.5);
    std::string s = tervik::io::mesh_file_header(kVertices, kFaces, true, tervik::io::PlyFormat::ascii);
    const unsigned char rgb[3] = {200, 37, 37};
    for (int i = 0; i < kVertices; ++i)
      tervik::io::append_mesh_vertex(s, {coordinate(rng), coordinate(rng), coordinate(rng)}, rgb,
                                     tervik::io::PlyFormat::ascii);
    for (int f = 0; f < kFaces; ++f)
      tervik::io::append_mesh_face(s, {rng() % kVertices, rng() % kVertices, rng() % kVertices},
                                   tervik::io::PlyFormat::ascii);
    return s;
  }();
  return bytes;
}

void BM_FastPath(benchmark::State& state) {
  tervik::tools::GltfMesh mesh;
  for (auto _ : state) {
    if (!tervik::player::parse_frame_ply_fast(mesh_file(), mesh)) state.SkipWithError("declined");
    benchmark::DoNotOptimize(mesh.positions.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(mesh_file().size()));
}
BENCHMARK(BM_FastPath)->Unit(benchmark::kMillisecond);

void BM_GeneralReader(benchmark::State& state) {
  for (auto _ : state) {
    const auto mesh = tervik::player::gltf_from_ply(
        tervik::io::parse_ply("mesh.ply", mesh_file(), tervik::io::PlyReadOptions()));
    benchmark::DoNotOptimize(mesh.positions.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(mesh_file().size()));
}
BENCHMARK(BM_GeneralReader)->Unit(benchmark::kMillisecond);

}  // namespace
