// make_scene: writes a synthetic multi-camera scene (calibrations, silhouettes, colour images
// and ground truth) and prints the sculptor command line that reconstructs it.
#include <chrono>
#include <cstdio>
#include <array>
#include <exception>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "tools/common/tool_options.h"
#include "tools/scene/scene.h"
#include "tools/scene/export.h"
#include "tools/scene/truth_mesh.h"

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

// A program that sits beside make_scene in an installation or a build tree's tools folder.
std::string sibling_program(const char* argv0, const std::string& name) {
  const std::filesystem::path self(argv0);
  return self.has_parent_path() ? (self.parent_path() / name).string() : name;
}

// Four numbers k1 k2 p1 p2 separated by commas or blanks; throws naming the text otherwise.
std::array<double, 4> parse_distortion(std::string text) {
  const std::string original = text;
  for (char& ch : text)
    if (ch == ',') ch = ' ';
  std::istringstream in(text);
  std::array<double, 4> d{};
  for (double& v : d)
    if (!(in >> v)) break;
  std::string rest;
  if (!in || (in >> rest))
    throw std::runtime_error("--distortion takes four numbers k1,k2,p1,p2, not '" + original + "'");
  return d;
}

// The template `t` moved into `folder` (file name kept).
std::string in_folder(const std::string& folder, const std::string& t) {
  return folder + "/" + std::filesystem::path(t).filename().string();
}

}  // namespace

int main(int argc, char** argv) {
  SceneOptions o;
  std::string folder, object, layout;
  std::vector<std::string> exports;
  std::string distortion;
  bool truth_meshes = false;
  po::options_description desc(
      "Usage: make_scene [options]\n"
      "Writes a synthetic scene filmed by calibrated cameras into a folder and prints the\n"
      "sculptor command line for it.\n\nOptions");
  desc.add_options()
      ("help,h", "show this help")
      ("version", "print the version and exit")
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
       "threads that render images (the files do not depend on it)")
      ("export", po::value(&exports)->composing(),
       "also write the cameras as FORMAT: colmap (colmap/*.txt), opencv-yaml or opencv-xml "
       "(opencv/cam<i>.yml or .xml), middlebury (scene_par.txt) or projections "
       "(projections.txt); may be repeated")
      ("distortion", po::value(&distortion),
       "lens distortion of every camera, four numbers k1,k2,p1,p2 (commas or blanks between "
       "them, e.g. --distortion=-0.2,0.05,0.001,-0.002); the images are rendered through it")
      ("pattern-cell", po::value(&o.pattern_cell)->default_value(0.0, "0.1, 0.125 for the sphere"),
       "side of the checker pattern's cells in world units; 0.02 gives a fine texture")
      ("truth-mesh", po::bool_switch(&truth_meshes),
       "also write the object's true surface of every frame as a coloured PLY mesh "
       "(truth_%04ld.ply)");
  tervik::tools::add_quiet_option(desc);
  bool quiet = false;
  if (const auto status = tervik::tools::parse_tool_options(
          "make_scene", argc, argv, {.options = &desc},
          [&](const po::variables_map& vm) {
            o.object = parse_object_kind(object);
            o.layout = parse_layout(layout);
            if (vm.count("distortion")) o.distortion = parse_distortion(distortion);
            for (const std::string& e : exports) parse_export_format(e);
            quiet = vm.count("quiet") > 0;
          }))
    return *status;
  try {
    const auto start = std::chrono::steady_clock::now();
    const GeneratedScene scene = generate_scene(folder, o);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long frames = scene.last_frame - scene.first_frame + 1;
    std::ostream& progress = tervik::tools::progress_output(quiet);
    std::cout << "Wrote " << object_name(o.object) << " scene to " << scene.folder << ": "
              << scene.cameras << " cameras (" << layout_name(o.layout) << ", " << o.width << "x"
              << o.height << "), frames " << scene.first_frame << " to " << scene.last_frame
              << ", " << 2 * frames * scene.cameras << " images" << std::endl;
    progress << "Ground truth: " << scene.ground_truth_file << std::endl;
    if (truth_meshes) {
      for (long f = scene.first_frame; f <= scene.last_frame; ++f) {
        char name[64];
        std::snprintf(name, sizeof name, "/truth_%04ld.ply", f);
        write_mesh_ply(scene.folder + name, truth_mesh(scene.object(f), scene.truth.pattern));
      }
      progress << "True surface meshes: " << scene.folder << "/truth_%04ld.ply" << std::endl;
    }
    if (scene.cameras < 5)
      std::cout << "WARNING: sculptor accepts only points that at least 5 cameras see; with "
                << scene.cameras << " cameras it finds none" << std::endl;
    for (const std::string& e : exports) {
      progress << "Exported " << e << " cameras:";
      for (const std::string& file : export_cameras(scene, parse_export_format(e)))
        progress << " " << file;
      progress << std::endl;
    }
    if (o.distortion != std::array<double, 4>{}) {
      // sculptor projects without distortion: the images must be undistorted first.
      GeneratedScene ideal = scene;
      const std::string out = scene.folder + "/undistorted";
      ideal.camera_template = in_folder(out, scene.camera_template);
      ideal.image_template = in_folder(out, scene.image_template);
      ideal.silhouette_template = in_folder(out, scene.silhouette_template);
      progress << "The images are seen through lens distortion; undistort them with:" << std::endl;
      progress << sibling_program(argv[0], "undistort_images") << " " << scene.cameras << " "
               << scene.camera_template << " " << out << " --images " << scene.image_template
               << " --silhouettes " << scene.silhouette_template << " --first-frame "
               << scene.first_frame << " --last-frame " << scene.last_frame << std::endl;
      progress << "then reconstruct it with:" << std::endl;
      progress << ideal.sculptor_command(sculptor_program(argv[0])) << std::endl;
    } else {
      progress << "Reconstruct it with:" << std::endl;
      progress << scene.sculptor_command(sculptor_program(argv[0])) << std::endl;
    }
    if (!quiet) std::cerr << "make_scene: " << seconds << " s" << std::endl;
  } catch (const std::exception& e) {
    std::cout << "ERROR: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
