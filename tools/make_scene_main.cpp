// make_scene: writes a synthetic multi-camera scene (calibrations, silhouettes, colour images
// and ground truth) and prints the sculptor command line that reconstructs it.
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include <boost/program_options.hpp>

#include "tools/scene.h"

namespace po = boost::program_options;
using namespace tervik::scene;

namespace {

// The sculptor program beside this one in a build tree (tools/../sculptor/sculptor), or plain
// "sculptor" to be found on the PATH.
std::string sculptor_program(const char* argv0) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path self = fs::path(argv0);
  if (!self.has_parent_path()) return "sculptor";
  const fs::path candidate = self.parent_path() / ".." / "sculptor" / "sculptor";
  if (fs::is_regular_file(candidate, ec)) {
    const fs::path clean = fs::weakly_canonical(candidate, ec);
    return ec || clean.empty() ? candidate.string() : clean.string();
  }
  return "sculptor";
}

}  // namespace

int main(int argc, char** argv) {
  SceneOptions o;
  std::string folder, object, layout;
  po::options_description desc(
      "Usage: make_scene [options]\n"
      "Writes a synthetic scene filmed by calibrated cameras into a folder and prints the\n"
      "sculptor command line for it.\n\nOptions");
  desc.add_options()
      ("help,h", "show this help")
      ("output,o", po::value(&folder)->default_value("scene"), "folder to write the scene into")
      ("object", po::value(&object)->default_value("figure"),
       "figure (moving body, head and arms) or sphere (static)")
      ("cameras", po::value(&o.cameras)->default_value(o.cameras), "number of cameras, 4 to 64")
      ("layout", po::value(&layout)->default_value("ring"), "ring or dome")
      ("width", po::value(&o.width)->default_value(o.width), "image width in pixels")
      ("height", po::value(&o.height)->default_value(o.height), "image height in pixels")
      ("focal", po::value(&o.focal)->default_value(0.0, "1.25 x width"),
       "focal length in pixels (the cameras move away until the object fits)")
      ("first-frame", po::value(&o.first_frame)->default_value(o.first_frame), "first frame number")
      ("frames", po::value(&o.frames)->default_value(o.frames), "number of frames")
      ("points", po::value(&o.points)->default_value(o.points),
       "target number of points on the printed sculptor command line")
      ("threads", po::value(&o.threads)->default_value(o.threads),
       "threads that render images (the files do not depend on it)");
  try {
    po::variables_map vm;
    po::store(po::command_line_parser(argc, argv).options(desc).run(), vm);
    if (vm.count("help")) {
      std::cout << desc << std::endl;
      return 0;
    }
    po::notify(vm);
    o.object = parse_object_kind(object);
    o.layout = parse_layout(layout);
  } catch (const std::exception& e) {
    std::cout << "ERROR: " << e.what() << " (see make_scene --help)" << std::endl;
    return 1;
  }
  try {
    const auto start = std::chrono::steady_clock::now();
    const GeneratedScene scene = generate_scene(folder, o);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long frames = scene.last_frame - scene.first_frame + 1;
    std::cout << "Wrote " << object_name(o.object) << " scene to " << scene.folder << ": "
              << scene.cameras << " cameras (" << layout_name(o.layout) << ", " << o.width << "x"
              << o.height << "), frames " << scene.first_frame << " to " << scene.last_frame
              << ", " << 2 * frames * scene.cameras << " images" << std::endl;
    std::cout << "Ground truth: " << scene.ground_truth_file << std::endl;
    if (scene.cameras < 5)
      std::cout << "WARNING: sculptor accepts only points that at least 5 cameras see; with "
                << scene.cameras << " cameras it finds none" << std::endl;
    std::cout << "Reconstruct it with:" << std::endl;
    std::cout << scene.sculptor_command(sculptor_program(argv[0])) << std::endl;
    std::cerr << "make_scene: " << seconds << " s" << std::endl;
  } catch (const std::exception& e) {
    std::cout << "ERROR: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
