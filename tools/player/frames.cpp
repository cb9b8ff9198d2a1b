#include "tools/player/frames.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tervik/atomic_file.h"
#include "tervik/exceptions.h"
#include "tools/common/json.h"
#include "tools/player/frame_ply.h"

namespace fs = std::filesystem;

namespace tervik::player {

using tools::json_string;

namespace {

// The file a template gives for a frame, or "" for an unused template.
std::string source_name(const std::string& text, long frame, const char* role) {
  if (text.empty()) return "";
  return NameTemplate(text, 1, role).format(frame);
}

// Copies a file through the atomic writer.
void copy_file(const std::string& from, const std::string& to) {
  std::string bytes;
  if (!io::read_file_bytes(from, bytes)) throw TervikFileNotFound(from);
  io::AtomicFile file;
  if (!file.open(to)) throw TervikError("Cannot open file " + to + ": " + file.error());
  std::fwrite(bytes.data(), 1, bytes.size(), file.stream());
  if (!file.commit()) throw TervikError("Cannot write file " + to + ": " + file.error());
}

bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

// Writes one frame; errors of its input are returned in the result, not thrown.
FrameResult write_frame(const std::string& folder, const FrameSources& sources, long frame,
                        const tools::GltfOptions& options) {
  FrameResult result;
  result.frame = frame;
  result.file = frame_file(frame);
  const std::string out = (fs::path(folder) / result.file).string();
  const std::pair<const char*, std::string> candidates[] = {
      {"textured", source_name(sources.textured, frame, "textured template")},
      {"mesh", source_name(sources.mesh, frame, "mesh template")},
      {"points", source_name(sources.points, frame, "points template")}};
  for (const auto& [kind, name] : candidates) {
    if (name.empty() || !fs::is_regular_file(name)) continue;
    result.kind = kind;
    result.source = name;
    break;
  }
  if (result.kind.empty()) {
    result.error = "no file for this frame";
    return result;
  }
  if (same_file(result.source, out))
    throw TervikError("make_player: the output " + out + " is the input file " + result.source);
  try {
    if (result.kind == "textured") {
      copy_file(result.source, out);
    } else {
      tools::write_glb(out, read_frame_ply(result.source), options);
    }
    result.bytes = fs::file_size(out);
  } catch (const BacktracedTervikException& e) {
    result.error = e.what();
  }
  return result;
}

}  // namespace

tools::GltfMesh gltf_from_ply(const io::PlyModel& model) {
  tools::GltfMesh mesh;
  const std::size_t n = model.positions.size();
  mesh.positions.reserve(3 * n);
  for (const Point3D& p : model.positions) {
    mesh.positions.push_back(static_cast<float>(p.x));
    mesh.positions.push_back(static_cast<float>(p.y));
    mesh.positions.push_back(static_cast<float>(p.z));
  }
  mesh.normals.reserve(3 * model.normals.size());
  for (const Point3D& p : model.normals) {
    mesh.normals.push_back(static_cast<float>(p.x));
    mesh.normals.push_back(static_cast<float>(p.y));
    mesh.normals.push_back(static_cast<float>(p.z));
  }
  mesh.colours.reserve(3 * model.colors.size());
  for (const auto& c : model.colors) {
    mesh.colours.push_back(c.x);
    mesh.colours.push_back(c.y);
    mesh.colours.push_back(c.z);
  }
  mesh.indices.reserve(3 * model.faces.size());
  for (const auto& f : model.faces) {
    mesh.indices.push_back(static_cast<std::uint32_t>(f.x));
    mesh.indices.push_back(static_cast<std::uint32_t>(f.y));
    mesh.indices.push_back(static_cast<std::uint32_t>(f.z));
  }
  return mesh;
}

std::string frame_file(long frame) {
  char name[64];
  std::snprintf(name, sizeof name, "frames/frame_%06ld.glb", frame);
  return name;
}

std::vector<FrameResult> write_frames(const std::string& folder, const FrameSources& sources,
                                      long first, long last, const tools::GltfOptions& options,
                                      unsigned threads) {
  TERVIK_CHECK(first >= 0 && first <= last,
               "make_player: frames " << first << " to " << last << " are not a range");
  fs::create_directories(fs::path(folder) / "frames");
  std::vector<FrameResult> results(static_cast<std::size_t>(last - first + 1));
  // The atomic writer syncs every frame's file to the disk: with more frames in hand than cores,
  // the processors convert while other frames wait for the disk.
  if (threads == 0) threads = std::max(8u, 2 * std::thread::hardware_concurrency());
  threads = static_cast<unsigned>(std::min<std::size_t>(threads, results.size()));
  // Frames are independent: each worker takes the next frame not yet taken.
  std::atomic<std::size_t> next{0};
  std::exception_ptr failure;
  std::atomic<bool> failed{false};
  auto work = [&] {
    for (std::size_t i; !failed && (i = next++) < results.size();) {
      try {
        results[i] = write_frame(folder, sources, first + static_cast<long>(i), options);
      } catch (...) {
        if (!failed.exchange(true)) failure = std::current_exception();
      }
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (auto& t : pool) t.join();
  if (failure) std::rethrow_exception(failure);
  return results;
}

std::string sequence_json(const std::string& title, double fps,
                          const std::vector<FrameResult>& frames) {
  std::ostringstream js;
  js << "{\"title\":" << json_string(title) << ",\"fps\":" << fps << ",\"frames\":[";
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const FrameResult& f = frames[i];
    js << (i ? ",\n" : "\n") << "{\"frame\":" << f.frame;
    if (f.error.empty()) {
      js << ",\"file\":" << json_string(f.file) << ",\"kind\":" << json_string(f.kind)
         << ",\"bytes\":" << f.bytes;
    } else {
      js << ",\"error\":" << json_string(f.error);
    }
    js << "}";
  }
  js << "\n]}\n";
  return js.str();
}

}  // namespace tervik::player
