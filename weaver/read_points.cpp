#include "weaver/read_points.h"

#include "tervik/exceptions.h"
#include "tervik/input_file.h"
#include "tervik/ply.h"

namespace tervik {
namespace {

const std::string kPrefix = "ERROR( read_points ) : ";

void read(const std::string& path, std::vector<Patch>& points, unsigned int step, bool color,
          unsigned threads) {
  points.clear();
  std::string bytes;
  // Only regular files are read: a FIFO or a device (/dev/zero) could block or never end.
  if (!io::read_file_bytes(path, bytes)) {
    const std::string problem = io::input_file_problem(path);
    throw TervikError(kPrefix + "Unable to read from file " + path +
                      (problem.empty() || problem == "not found" ? "" : ": " + problem));
  }
  if (step == 0) throw TervikError(kPrefix + "the decimation step must be at least 1");
  io::PlyReadOptions options;
  options.error_prefix = kPrefix;
  options.step = step;
  options.require_normals = true;
  options.vertices_only = true;
  options.threads = threads;
  const io::PlyModel model = io::parse_ply(path, bytes, options);
  std::string().swap(bytes);  // release the file's bytes before the points are built
  points.resize(model.positions.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    Patch& p = points[i];
    p.pos = model.positions[i];
    p.normal = model.normals[i];
    if (color && model.has_colors) {
      p.r = model.colors[i].x;
      p.g = model.colors[i].y;
      p.b = model.colors[i].z;
    }
  }
}

}  // namespace

void read_points_color(const std::string& path, std::vector<Patch>& points, unsigned int step,
                       unsigned threads) {
  read(path, points, step, true, threads);
}

void read_points(const std::string& path, std::vector<Patch>& points, unsigned int step,
                 unsigned threads) {
  read(path, points, step, false, threads);
}

}  // namespace tervik
