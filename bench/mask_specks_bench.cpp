// Specks in the silhouettes and the make_masks clean-up: on a generated scene (the figure, 12
// cameras on a ring, 640 x 480, one frame) every silhouette gets random specks of 1 to 5 pixels,
// background holes inside the object and foreground blobs outside it. sculptor then runs on the
// clean silhouettes, on the specked ones, and on the specked ones cleaned by
//   make_masks --from grey --max-hole-area 25 --min-blob-area 26
// and the counters give the share of points more than 2 sampling lengths inside the true
// surface (inside_2L), with the number of specks drawn. A quality figure, not a timing: each
// case runs once. Run from the build tree: bench/mask_specks_bench.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "tervik/ply.h"
#include "tervik/writeimage.h"
#include "tools/common/capture_files.h"
#include "tools/scene/scene.h"

namespace {

namespace fs = std::filesystem;
using namespace tervik;

constexpr int kCameras = 12;
constexpr int kSpecksPerSilhouette = 6;  // 72 specks over the 12 silhouettes

fs::path build_dir() {
  return fs::read_symlink("/proc/self/exe").parent_path().parent_path();
}

struct Fixture {
  fs::path dir;
  scene::GeneratedScene scene;
  long specks = 0;
};

// Draws a 4-connected cluster of 1 to 5 pixels of `value` starting at a pixel whose 7 x 7
// neighbourhood is all of the other value (so a hole stays enclosed, a blob stays apart).
bool draw_speck(ImageGray<unsigned char>& sil, std::mt19937& rng, unsigned char value) {
  const long w = long(sil.width()), h = long(sil.height());
  std::uniform_int_distribution<long> px(4, w - 5), py(4, h - 5), size(1, 5), step(0, 3);
  for (int tries = 0; tries < 10000; ++tries) {
    long x = px(rng), y = py(rng);
    bool clear = true;
    for (long dy = -3; dy <= 3 && clear; ++dy)
      for (long dx = -3; dx <= 3 && clear; ++dx) clear = sil[x + dx][y + dy] != value;
    if (!clear) continue;
    const long n = size(rng);
    for (long k = 0; k < n; ++k) {
      sil[x][y] = value;
      const long s = step(rng);
      x += s == 0 ? 1 : s == 1 ? -1 : 0;
      y += s == 2 ? 1 : s == 3 ? -1 : 0;
    }
    return true;
  }
  return false;
}

Fixture& fixture() {
  static Fixture f = [] {
    Fixture out;
    out.dir = fs::temp_directory_path() / ("tervik_mask_specks_" + std::to_string(::getpid()));
    fs::create_directories(out.dir);
    scene::SceneOptions o;
    o.cameras = kCameras;
    o.frames = 1;
    out.scene = scene::generate_scene(out.dir.string(), o);
    std::mt19937 rng(12);
    for (int i = 0; i < kCameras; ++i) {
      ImageGray<unsigned char> sil =
          capture::read_gray((out.dir / ("sil" + std::to_string(i) + "_0000.png")).string());
      for (int k = 0; k < kSpecksPerSilhouette; ++k)
        out.specks += draw_speck(sil, rng, k % 2 == 0 ? 0 : 255) ? 1 : 0;
      io::write_png((out.dir / ("specked" + std::to_string(i) + "_0000.png")).string(), sil);
    }
    const std::string clean = (build_dir() / "tools" / "make_masks").string() + " --cameras " +
                              std::to_string(kCameras) + " --from grey --max-hole-area 25 " +
                              "--min-blob-area 26 --input " + (out.dir / "specked%d_%04d.png").string() +
                              " --output " + (out.dir / "cleaned%d_%04d.png").string() + " > /dev/null";
    if (std::system(clean.c_str()) != 0) throw std::runtime_error("make_masks failed");
    return out;
  }();
  static const struct Remove {  // the scene's folder goes when the program ends
    fs::path dir;
    ~Remove() { std::error_code ec; fs::remove_all(dir, ec); }
  } remove{f.dir};
  return f;
}

// Runs sculptor on the silhouettes named by `prefix` and returns the share of its points more
// than 2 sampling lengths inside the true surface.
double inside_share(const std::string& prefix) {
  Fixture& f = fixture();
  std::vector<std::string> args = f.scene.sculptor_arguments();
  args[3] = (f.dir / (prefix + "%ld_%04ld.png")).string();
  args[4] = (f.dir / (prefix + "_points_%04ld.ply")).string();
  std::string cmd = (build_dir() / "sculptor" / "sculptor").string();
  for (const std::string& a : args) cmd += " " + capture::shell_quote(a);
  cmd += " > /dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("sculptor failed: " + cmd);
  const io::PlyModel model = io::read_ply((f.dir / (prefix + "_points_0000.ply")).string());
  const scene::GroundTruth truth = scene::read_ground_truth(f.scene.ground_truth_file);
  const double l = truth.sampling_length();
  long inside = 0;
  for (const Point3D& p : model.positions)
    if (truth.solid(0).signed_distance(p) < -2.0 * l) ++inside;
  return double(inside) / double(model.positions.size());
}

void run_case(benchmark::State& state, const std::string& prefix) {
  double share = 0.0;
  for (auto _ : state) share = inside_share(prefix);
  state.counters["inside_2L_percent"] = 100.0 * share;
  state.counters["specks"] = double(fixture().specks);
}

void BM_CleanSilhouettes(benchmark::State& state) { run_case(state, "sil"); }
void BM_SpeckedSilhouettes(benchmark::State& state) { run_case(state, "specked"); }
void BM_CleanedSilhouettes(benchmark::State& state) { run_case(state, "cleaned"); }

BENCHMARK(BM_CleanSilhouettes)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_SpeckedSilhouettes)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_CleanedSilhouettes)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
