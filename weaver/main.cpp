// weaver: triangulates one oriented, coloured PLY point file into a coloured PLY mesh.
//   weaver [options] points mesh nn minangle decimation npoints
#include <cerrno>
#include <cstddef>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "common/camera_ids.h"
#include "common/heap.h"
#include "common/leading_options.h"
#include "common/version.h"
#include "tervik/exceptions.h"
#include "tervik/mesh.h"
#include "weaver/ball_pivoting.h"
#include "weaver/read_points.h"
#include "weaver/silhouette_hull.h"
#include "weaver/closing/watertight.h"

namespace {

int usage(const char* program) {
  std::cout << "Usage: " << program << " points mesh nn minangle decimation npoints" << std::endl;
  return 1;
}

// More neighbours per pivot only cost time (quadratically): 20 is right for sculptor's output.
constexpr unsigned long kMaxNeighbours = 100;

// Parses a whole argument as a base-10 integer in [lowest, highest].
bool parse_count(const char* text, unsigned long lowest, unsigned int& value,
                 unsigned long highest = UINT32_MAX) {
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0) return false;
  if (v < static_cast<long long>(lowest) || v > static_cast<long long>(highest)) return false;
  value = static_cast<unsigned int>(v);
  return true;
}

// Parses a whole argument as a finite real.
bool parse_real(const char* text, double& value) {
  errno = 0;
  char* end = nullptr;
  value = std::strtod(text, &end);
  return end != text && *end == '\0' && errno == 0 && std::isfinite(value);
}

// Whether writing `output` would replace `input`: the same file (device and inode, through
// links), or the same path once resolved.
bool same_file(const std::string& input, const std::string& output) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::equivalent(input, output, ec)) return true;
  const fs::path a = fs::weakly_canonical(input, ec);
  if (ec) return false;
  const fs::path b = fs::weakly_canonical(output, ec);
  return !ec && a == b;
}

// Swallows what is written to it: standard output under --quiet.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Options accepted before the positional arguments.
const std::vector<tervik::OptionSpec> kOptions = {
    {"binary", "", "write the mesh as binary little-endian PLY (coordinates as double)"},
    {"threads", "N",
     "threads for reading, triangulating and writing (default 1, 0 = all cores); the same mesh,"
     " the timing line in wall time"},
    {"quiet", "",
     "print only errors, warnings and one summary line (no progress lines, no timing)"},
    {"watertight", "", "close every hole, make the mesh manifold and orient it by the normals"},
    {"silhouettes", "TEMPLATE",
     "with --watertight: the frame's silhouettes (camera, frame; e.g. sil%ld_%04ld.png); patches"
     " that a camera sees over the background, where the points left a gap unsampled, are carved"
     " back inside, and patches sunk below a hole that left no point are lifted out to them"},
    {"calibration", "TEMPLATE",
     "with --silhouettes: the cameras' calibration files (camera number; e.g. cam%ld.txt)"},
    {"cameras", "N", "with --silhouettes: the cameras 0 to N-1"},
    {"camera-ids", "LIST",
     "with --silhouettes: the cameras' numbers instead, in order (e.g. 1-16 or 0-4,6-19)"},
    {"frame", "F", "with --silhouettes: the frame number for the templates (default 0)"},
};

// The silhouettes of --silhouettes, or none. Throws TervikError for options that do not go
// together or do not parse, and the readers' errors.
std::optional<tervik::SilhouetteHull> read_hull(const tervik::LeadingOptions& options) {
  for (const char* name : {"calibration", "cameras", "camera-ids", "frame"})
    if (options.has(name) && !options.has("silhouettes"))
      throw tervik::TervikError(std::string("--") + name + " is only used with --silhouettes");
  if (!options.has("silhouettes")) return std::nullopt;
  if (!options.has("watertight")) throw tervik::TervikError("--silhouettes needs --watertight");
  if (!options.has("calibration")) throw tervik::TervikError("--silhouettes needs --calibration");
  std::vector<int> ids;
  unsigned int count = 0;
  if (options.has("camera-ids")) ids = tervik::parse_camera_ids(options.values.at("camera-ids"));
  if (options.has("cameras") && !parse_count(options.values.at("cameras").c_str(), 1, count, 100000))
    throw tervik::TervikError("--cameras must be an integer from 1 to 100000");
  if (ids.empty() && count == 0)
    throw tervik::TervikError("--silhouettes needs --cameras or --camera-ids");
  if (!ids.empty() && count != 0 && count != ids.size())
    throw tervik::TervikError("--cameras " + std::to_string(count) + " does not match the " +
                              std::to_string(ids.size()) + " cameras of --camera-ids");
  // Frame numbers may be negative, as sculptor's are.
  long long frame = 0;
  if (options.has("frame")) {
    const std::string& text = options.values.at("frame");
    errno = 0;
    char* end = nullptr;
    frame = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || errno != 0 || frame < INT32_MIN || frame > INT32_MAX)
      throw tervik::TervikError("--frame must be an integer from -2147483648 to 2147483647");
  }
  return tervik::read_silhouette_hull(options.values.at("calibration"),
                                      options.values.at("silhouettes"), int(count), ids, frame);
}

}  // namespace

int main(int argc, char** argv) {
  // The triangulation fills the heap with the points, the tree and the fronts; the closing step
  // then allocates and frees tables of the mesh's size over and over (edge uses, half-edge
  // meshes, search state). Blocks up to 32 MiB come from the heap and freed memory stays there,
  // so that a table allocated again reuses pages already faulted in, and the heap's fresh pages
  // come 2 MiB at a time.
  tervik::keep_freed_memory(std::size_t{1} << 30);
  tervik::back_heap_with_huge_pages(std::size_t{384} << 20);
  tervik::LeadingOptions options;
  try {
    options = tervik::parse_leading_options(argc, argv, kOptions);
  } catch (const std::exception& e) {
    std::cerr << "ERROR: " << e.what() << std::endl;
    return usage(argv[0]);
  }
  if (options.help) {
    std::cout << "Usage: " << argv[0] << " [options] points mesh nn minangle decimation npoints\n"
              << "Options (before the positional arguments):\n"
              << tervik::options_help(kOptions) << std::flush;
    return 0;
  }
  if (options.version) {
    std::cout << tervik::version_line("weaver") << std::endl;
    return 0;
  }
  // The positional arguments: arg[0] .. arg[5].
  const char* const program = argv[0];
  char** const arg = argv + options.first_positional;
  if (argc - options.first_positional != 6) return usage(program);
  const std::string points_path = arg[0];
  const std::string mesh_path = arg[1];
  unsigned int nn = 0, decimation = 0, npoints = 0;
  double minangle = 0.0;
  const char* bad = nullptr;
  if (!parse_count(arg[2], 3, nn, kMaxNeighbours)) {
    bad = "nn must be an integer from 3 to 100";
  } else if (!parse_real(arg[3], minangle)) {
    bad = "minangle must be a number of degrees";
  } else if (!parse_count(arg[4], 1, decimation)) {
    bad = "decimation must be an integer of at least 1";
  } else if (!parse_count(arg[5], 0, npoints)) {
    bad = "npoints must be a non-negative integer";
  }
  if (bad) {
    std::cerr << "ERROR: " << bad << std::endl;
    return usage(program);
  }
  unsigned threads = 1;
  if (options.has("threads")) {
    try {
      threads = tervik::parse_thread_count(options.values.at("threads"));
    } catch (const std::exception& e) {
      std::cerr << "ERROR: " << e.what() << std::endl;
      return usage(program);
    }
  }

  if (same_file(points_path, mesh_path)) {
    std::cerr << "ERROR: the mesh file " << mesh_path << " is the point file " << points_path
              << ": refusing to replace the input" << std::endl;
    return 1;
  }
  std::optional<tervik::SilhouetteHull> hull;
  try {
    hull = read_hull(options);
  } catch (const std::exception& e) {
    // The readers' messages name themselves ("ERROR(...)"); the options' do not.
    const std::string message = e.what();
    std::cerr << (message.rfind("ERROR", 0) == 0 ? "" : "ERROR: ") << message << std::endl;
    return 1;
  }
  const bool quiet = options.has("quiet");
  NullBuffer null_buffer;
  std::streambuf* const stdout_buffer = std::cout.rdbuf();

  try {
    std::vector<tervik::Patch> points;
    tervik::read_points_color(points_path, points, decimation, threads);

    std::vector<bool> face_flags;
    // The closing step searches the triangulation's point tree again.
    tervik::PivotingTrace trace;
    trace.keep_tree = options.has("watertight");
    // One thread: processor time of the triangulation; more: its wall time, since processor
    // time would add up the threads.
    const std::clock_t start = std::clock();
    const auto wall_start = std::chrono::steady_clock::now();
    // The triangulation's progress lines (and its notes on edges it drops) are not wanted
    // under --quiet.
    if (quiet) std::cout.rdbuf(&null_buffer);
    tervik::FaceVertexMesh mesh =
        tervik::get_mesh(points, nn, minangle, face_flags, npoints,
                         trace.keep_tree ? &trace : nullptr, threads);
    std::cout.rdbuf(stdout_buffer);
    const std::clock_t stop = std::clock();
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wall_start;
    const double t =
        threads == 1 ? static_cast<double>(stop - start) / 1000000.0 : wall.count();
    if (!quiet) std::cerr << "Total: " << 1 / t << " fps or " << t << " s/frame" << std::endl;

    if (options.has("watertight")) {
      tervik::WatertightReport report;
      const std::clock_t begin = std::clock();
      tervik::InsideTest inside;
      if (hull) inside = [&hull](const tervik::Point3D& p) { return hull->inside(p); };
      mesh = tervik::make_watertight(std::move(mesh), face_flags, points, report, trace.tree.get(),
                                     &trace.point_of, inside);
      std::string lines = tervik::format_report(report);
      if (hull)
        lines += "\nCarved to the silhouettes: " + std::to_string(report.carving.vertices_moved) +
                 " vertices (seen over the background: " +
                 std::to_string(report.carving.vertices_outside) + ", left: " +
                 std::to_string(report.carving.vertices_kept) + ")";
      if (!quiet) std::cout << lines << std::endl;
      // Under --quiet only the warnings.
      for (std::size_t at = lines.find("WARNING: "); quiet && at != std::string::npos;
           at = lines.find("WARNING: ", at + 1))
        std::cout << lines.substr(at, lines.find('\n', at) - at) << std::endl;
      if (!quiet)
        std::cerr << "Watertight: " << double(std::clock() - begin) / 1000000.0 << " s" << std::endl;
    }
    // Every face is written, also those withdrawn during the triangulation.
    tervik::write_mesh(mesh_path, mesh,
                       options.has("binary") ? tervik::io::PlyFormat::binary_little_endian
                                             : tervik::io::PlyFormat::ascii,
                       threads);
    if (quiet)
      std::cout << "Wrote " << mesh_path << ": " << mesh.vertices.size() << " vertices, "
                << mesh.faces.size() << " faces" << std::endl;
  } catch (const std::exception& e) {
    std::cout.rdbuf(stdout_buffer);
    std::cerr << e.what() << std::endl;
    return 1;
  }
  return 0;
}
