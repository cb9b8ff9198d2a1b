// Scoring of files written by sculptor and weaver.
#include "tervik/exceptions.h"
#include "tervik/ply.h"
#include "tools/score/score.h"

namespace tervik::scene {

PointScore score_point_file(const GroundTruth& truth, long frame, const std::string& file) {
  const io::PlyModel model = io::read_ply(file);
  return score_points(truth, frame, model.positions, model.normals, model.colors);
}

MeshScore score_mesh_file(const GroundTruth& truth, long frame, const std::string& file,
                          long samples, double coverage_distance) {
  const io::PlyModel model = io::read_ply(file);
  if (!model.has_faces) throw TervikFileError(file, "no face element: not a mesh");
  return score_mesh(truth, frame, model.positions, model.faces, samples, coverage_distance);
}

}  // namespace tervik::scene
