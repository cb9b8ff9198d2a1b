// score_reconstruction: compares sculptor's points and weaver's meshes of one frame with the
// ground truth of a synthetic scene, as text or as one JSON object.
#include <exception>
#include <iostream>
#include <optional>
#include <string>

#include <boost/program_options.hpp>

#include "tools/common/json.h"
#include "tools/common/tool_options.h"
#include "tervik/ply.h"
#include "tools/score/score.h"

namespace po = boost::program_options;
using namespace tervik::scene;

using tervik::tools::json_string;

int main(int argc, char** argv) {
  std::string truth_file, points_file, mesh_file, baseline_file;
  long frame = 0;
  long samples = 20000;
  double coverage = 2.0;
  po::options_description desc(
      "Usage: score_reconstruction --truth FILE [--frame F] [--points FILE [--baseline FILE]] "
      "[--mesh FILE] [--json]\nScores a point file of sculptor and/or a mesh of weaver against a scene's "
      "ground truth.\n\nOptions");
  desc.add_options()
      ("help,h", "show this help")
      ("version", "print the version and exit")
      ("truth,t", po::value(&truth_file), "ground truth file written by make_scene")
      ("frame,f", po::value(&frame), "frame number (default: the scene's first frame)")
      ("points,p", po::value(&points_file), "PLY point file to score")
      ("baseline", po::value(&baseline_file),
       "PLY point file of the same points coloured by another run: compares the colour error "
       "of the points it coloured with that of the points it left default-coloured")
      ("mesh,m", po::value(&mesh_file), "PLY mesh to score")
      ("samples", po::value(&samples)->default_value(samples),
       "surface samples for the mesh's coverage")
      ("coverage-distance", po::value(&coverage)->default_value(coverage),
       "distance in sampling lengths within which the mesh covers the surface")
      ("json", "print one JSON object instead of text");
  bool json = false, has_frame = false;
  if (const auto status = tervik::tools::parse_tool_options(
          "score_reconstruction", argc, argv, {.options = &desc},
          [&](const po::variables_map& vm) {
            if (truth_file.empty()) throw std::runtime_error("--truth is required");
            if (points_file.empty() && mesh_file.empty())
              throw std::runtime_error("give --points, --mesh or both");
            if (!baseline_file.empty() && points_file.empty())
              throw std::runtime_error("--baseline needs --points");
            if (samples < 1 || samples > 10000000)
              throw std::runtime_error("--samples must be 1 to 10000000");
            if (!(coverage > 0.0)) throw std::runtime_error("--coverage-distance must be positive");
            json = vm.count("json") > 0;
            has_frame = vm.count("frame") > 0;
          }))
    return *status;
  try {
    const GroundTruth truth = read_ground_truth(truth_file);
    if (!has_frame) frame = truth.first_frame;
    truth.solid(frame);  // checks the frame before any file is read
    std::optional<PointScore> points;
    std::optional<MeshScore> mesh;
    if (!points_file.empty())
      points = baseline_file.empty()
                   ? score_point_file(truth, frame, points_file)
                   : score_point_file(truth, frame, points_file, baseline_file);
    if (!mesh_file.empty()) mesh = score_mesh_file(truth, frame, mesh_file, samples, coverage);
    if (points && mesh) {
      // The mesh's first vertices are the points, as weaver writes them.
      const tervik::io::PlyModel cloud = tervik::io::read_ply(points_file);
      const tervik::io::PlyModel faces = tervik::io::read_ply(mesh_file);
      if (cloud.has_normals)
        mesh->against_point_normals =
            faces_against_point_normals(faces.positions, faces.faces, cloud.normals);
    }
    if (json) {
      std::string out = "{\"ground_truth\": " + json_string(truth_file) +
                        ", \"frame\": " + std::to_string(frame);
      if (points)
        out += ", \"points_file\": " + json_string(points_file) + ", \"points\": {" +
               json_members(*points) + "}";
      if (mesh)
        out += ", \"mesh_file\": " + json_string(mesh_file) + ", \"mesh\": {" +
               json_members(*mesh) + "}";
      std::cout << out << "}" << std::endl;
    } else {
      std::cout << "Scene " << truth_file << ", frame " << frame << std::endl;
      if (points) std::cout << "\nPoints " << points_file << "\n" << format_text(*points);
      if (mesh) std::cout << "\nMesh " << mesh_file << "\n" << format_text(*mesh);
      std::cout << std::flush;
    }
  } catch (const std::exception& e) {
    std::cout << "ERROR: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
