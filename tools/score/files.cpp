// Scoring of files written by sculptor and weaver.
#include "tervik/exceptions.h"
#include "tervik/ply.h"
#include "tools/score/score.h"

namespace tervik::scene {

PointScore score_point_file(const GroundTruth& truth, long frame, const std::string& file) {
  const io::PlyModel model = io::read_ply(file);
  return score_points(truth, frame, model.positions, model.normals, model.colors);
}

PointScore score_point_file(const GroundTruth& truth, long frame, const std::string& file,
                            const std::string& baseline_file) {
  const io::PlyModel model = io::read_ply(file);
  const io::PlyModel base = io::read_ply(baseline_file);
  if (base.positions.size() != model.positions.size())
    throw TervikFileError(baseline_file, "holds " + std::to_string(base.positions.size()) +
                                             " points but '" + file + "' holds " +
                                             std::to_string(model.positions.size()) +
                                             ": a baseline must hold the same points");
  for (std::size_t i = 0; i < base.positions.size(); ++i) {
    if (norm(base.positions[i] - model.positions[i]) > 1e-9 * (1.0 + norm(model.positions[i])))
      throw TervikFileError(baseline_file, "point " + std::to_string(i) + " lies elsewhere than in '" +
                                               file + "': a baseline must hold the same points");
  }
  if (model.colors.empty() || base.colors.empty())
    throw TervikFileError(model.colors.empty() ? file : baseline_file,
                          "no colours to compare with a baseline");
  return score_points(truth, frame, model.positions, model.normals, model.colors, base.colors);
}

MeshScore score_mesh_file(const GroundTruth& truth, long frame, const std::string& file,
                          long samples, double coverage_distance) {
  const io::PlyModel model = io::read_ply(file);
  if (!model.has_faces) throw TervikFileError(file, "no face element: not a mesh");
  return score_mesh(truth, frame, model.positions, model.faces, samples, coverage_distance);
}

}  // namespace tervik::scene
