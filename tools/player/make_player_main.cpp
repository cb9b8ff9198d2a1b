// make_player: writes a folder that plays a reconstructed frame range in a web browser: the
// player page and script, three.js, one .glb per frame and the cameras.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include <boost/program_options.hpp>

#include "common/camera_ids.h"
#include "tervik/atomic_file.h"
#include "tervik/exceptions.h"
#include "tervik/ply.h"
#include "tools/common/capture_files.h"
#include "tools/common/tool_options.h"
#include "tools/player/cameras.h"
#include "tools/player/frames.h"

namespace fs = std::filesystem;
namespace po = boost::program_options;
using namespace tervik;

namespace {

// The player's page, script and three.js: share/tervik/player beside the program's bin folder
// (the build tree mirrors that: build/tools/make_player, build/share/tervik/player).
fs::path default_assets() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return exe.parent_path().parent_path() / "share" / "tervik" / "player";
}

// Canonical names of the input files, to refuse writing over one of them.
class Inputs {
 public:
  void add(const std::string& file) {
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(file, ec);
    if (!ec) files_.insert(p.string());
  }
  void check(const std::string& output) const {
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(output, ec);
    if (!ec && files_.count(p.string()))
      throw TervikError("the output " + output + " would replace an input file");
  }

 private:
  std::set<std::string> files_;
};

void write_text(const std::string& path, const std::string& text, const Inputs& inputs) {
  inputs.check(path);
  io::AtomicFile file;
  if (!file.open(path)) throw TervikError("Cannot open file " + path + ": " + file.error());
  std::fwrite(text.data(), 1, text.size(), file.stream());
  if (!file.commit()) throw TervikError("Cannot write file " + path + ": " + file.error());
}

// Copies every file under `assets` into `folder`, keeping the sub-folders.
void copy_assets(const fs::path& assets, const fs::path& folder, const Inputs& inputs) {
  if (!fs::is_regular_file(assets / "index.html") ||
      !fs::is_regular_file(assets / "three" / "three.module.js"))
    throw TervikError("the player's files are not in " + assets.string() +
                      " (index.html and three/three.module.js): run 'npm ci' in the source "
                      "folder and build again, or give --assets");
  for (const auto& entry : fs::recursive_directory_iterator(assets)) {
    const fs::path to = folder / fs::relative(entry.path(), assets);
    if (entry.is_directory()) {
      fs::create_directories(to);
    } else if (entry.is_regular_file()) {
      std::string bytes;
      if (!io::read_file_bytes(entry.path().string(), bytes))
        throw TervikFileNotFound(entry.path().string());
      write_text(to.string(), bytes, inputs);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string output, textured, mesh, points, calibration, camera_ids, title, assets;
  int camera_count = 0;
  long first = 0, last = -1;
  double fps = 25.0;
  unsigned threads = 0;
  bool uncompressed = false;
  int position_bits = 16;
  po::options_description desc(
      "Usage: make_player --output DIR --first F --last L (--mesh T | --points T | --textured T)"
      " [options]\n"
      "Writes a folder that plays frames F to L in a web browser: index.html, the player's\n"
      "script, three.js, frames/frame_NNNNNN.glb (per frame the textured .glb where there is\n"
      "one, else the mesh with its vertex colours, else the points; compressed with\n"
      "EXT_meshopt_compression) and cameras.json. Serve it with any static web server, e.g.\n"
      "  python3 -m http.server -d DIR 8000   and open http://127.0.0.1:8000/\n\nOptions");
  desc.add_options()
      ("help,h", "show this help")
      ("version", "print the version and exit")
      ("output,o", po::value(&output)->required(), "the player folder (made if missing)")
      ("first", po::value(&first)->required(), "first frame number")
      ("last", po::value(&last)->required(), "last frame number")
      ("textured", po::value(&textured), "textured .glb template, receives the frame number")
      ("mesh", po::value(&mesh), "mesh PLY template (e.g. mesh_%04ld.ply)")
      ("points", po::value(&points), "point PLY template (e.g. points_%04ld.ply)")
      ("calibration", po::value(&calibration),
       "calibration file template, receives the camera number (e.g. cam%ld.txt)")
      ("cameras", po::value(&camera_count),
       "number of cameras (default: cameras 0, 1, ... while the calibration file exists)")
      ("camera-ids", po::value(&camera_ids),
       "the cameras' numbers in the calibration template, e.g. 1-16 or 0-4,6-19")
      ("fps", po::value(&fps)->default_value(fps), "playback rate, frames per second")
      ("title", po::value(&title), "the page's title (default: the folder's name)")
      ("uncompressed", "write the frames without EXT_meshopt_compression")
      ("position-bits", po::value(&position_bits)->default_value(position_bits),
       "compressed positions keep this many bits of mantissa (an error of at most 2^-(N-1) of "
       "a vertex's largest coordinate; 0: exact)")
      ("threads", po::value(&threads)->default_value(0, "twice the cores, at least 8"),
       "frames converted at once")
      ("assets", po::value(&assets), "folder with the player's page and three.js (default: "
       "share/tervik/player beside the program's folder)");
  tervik::tools::add_quiet_option(desc);
  Inputs inputs;
  bool quiet = false;
  std::vector<player::PlayerCamera> cameras;
  if (const auto status = tervik::tools::parse_tool_options(
          "make_player", argc, argv, {.options = &desc},
          [&](const po::variables_map& vm) {
            uncompressed = vm.count("uncompressed") > 0;
            quiet = vm.count("quiet") > 0;
            if (textured.empty() && mesh.empty() && points.empty())
              throw TervikError("give at least one of --textured, --mesh and --points");
            for (const std::string* t : {&textured, &mesh, &points})
              if (!t->empty()) NameTemplate(*t, 1, "frame template");
            if (first < 0 || last < first) throw TervikError("--first and --last must be 0 <= F <= L");
            if (!(fps > 0.0 && fps <= 1000.0))
              throw TervikError("--fps must be above 0 and at most 1000");
            if (position_bits < 0 || position_bits > 24)
              throw TervikError("--position-bits must be 0 to 24");
            if ((camera_count != 0 || !camera_ids.empty()) && calibration.empty())
              throw TervikError("--cameras and --camera-ids need --calibration");
            if (camera_count < 0 || camera_count > 32767)
              throw TervikError("--cameras must be 1 to 32767");
          }))
    return *status;
  try {
    if (fs::exists(output) && !fs::is_directory(output))
      throw TervikError("the output " + output + " exists and is not a folder");
    if (title.empty()) title = fs::absolute(output).lexically_normal().filename().string();
    if (title.empty()) title = fs::absolute(output).lexically_normal().parent_path().filename().string();
    if (!calibration.empty()) {
      const NameTemplate camtemplate(calibration, 1, "calibration template");
      std::vector<int> indices;
      if (!camera_ids.empty()) {
        indices = parse_camera_ids(camera_ids);
        if (camera_count != 0 && std::size_t(camera_count) != indices.size())
          throw TervikError("--cameras is " + std::to_string(camera_count) + " but --camera-ids lists " +
                            std::to_string(indices.size()) + " cameras");
      } else if (camera_count != 0) {
        for (int i = 0; i < camera_count; ++i) indices.push_back(i);
      } else {
        for (int i = 0; i < (1 << 15) && fs::exists(camtemplate.format(i)); ++i) indices.push_back(i);
        if (indices.empty())
          throw TervikError("no calibration file " + camtemplate.format(0));
      }
      for (const int i : indices) {
        const std::string file = camtemplate.format(i);
        inputs.add(file);
        cameras.push_back(player::player_camera(i, capture::read_camera_file(file)));
      }
    }
    fs::create_directories(output);
    const fs::path assets_dir = assets.empty() ? default_assets() : fs::path(assets);
    copy_assets(assets_dir, output, inputs);
    write_text((fs::path(output) / "cameras.json").string(), player::cameras_json(cameras), inputs);

    tools::GltfOptions options;
    options.meshopt = !uncompressed;
    options.position_bits = position_bits;
    const auto frames = player::write_frames(output, {textured, mesh, points}, first, last,
                                             options, threads);
    write_text((fs::path(output) / "sequence.json").string(),
               player::sequence_json(title, fps, frames), inputs);
    long counts[3] = {0, 0, 0}, missing = 0, broken = 0;
    std::uintmax_t bytes = 0;
    for (const auto& f : frames) {
      if (!f.error.empty()) {
        (f.kind.empty() ? missing : broken)++;
        std::cerr << "WARNING: frame " << f.frame << ": " << f.error << std::endl;
        continue;
      }
      counts[f.kind == "textured" ? 0 : f.kind == "mesh" ? 1 : 2]++;
      bytes += f.bytes;
    }
    std::printf("Wrote the player for frames %ld to %ld into %s: %ld textured, %ld meshes, "
                "%ld point sets, %ld without a file, %ld unreadable; %.1f MB of frames, %zu "
                "cameras\n",
                first, last, output.c_str(), counts[0], counts[1], counts[2], missing, broken,
                bytes / 1e6, cameras.size());
    if (!quiet)
      std::printf("View it: python3 -m http.server -d %s 8000   then open http://127.0.0.1:8000/\n",
                capture::shell_quote(output).c_str());
    return broken > 0 ? 1 : 0;
  } catch (const std::exception& e) {
    std::cout << "ERROR: " << e.what() << std::endl;
    return 1;
  }
}
