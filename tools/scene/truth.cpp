// Reading and writing of ground truth files.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tervik/exceptions.h"
#include "tools/scene/truth.h"

namespace tervik::scene {
namespace {

std::string real(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

// Line-by-line reader that names the file and line in every error.
class TruthReader {
 public:
  explicit TruthReader(const std::string& file) : file_(file), in_(file) {
    if (!in_) throw TervikFileNotFound(file);
  }

  // Reads the next line, which must start with `key` and hold `count` more fields.
  std::vector<std::string> record(const std::string& key, std::size_t count) {
    std::string line;
    if (!std::getline(in_, line)) {
      ++line_;
      fail("file ends early: expected a '" + key + "' line");
    }
    ++line_;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream ss(line);
    std::vector<std::string> fields;
    for (std::string f; ss >> f;) fields.push_back(f);
    if (fields.empty() || fields[0] != key) fail("expected a '" + key + "' line");
    if (fields.size() != count + 1)
      fail("'" + key + "' needs " + std::to_string(count) + " values, found " +
           std::to_string(fields.size() - 1));
    fields.erase(fields.begin());
    return fields;
  }

  double number(const std::string& text) {
    double v = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
      fail("'" + text + "' is not a finite number");
    return v;
  }

  long integer(const std::string& text, long lo, long hi) {
    long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < lo || v > hi)
      fail("'" + text + "' is not an integer in [" + std::to_string(lo) + ", " +
           std::to_string(hi) + "]");
    return v;
  }

  double positive(const std::string& text) {
    const double v = number(text);
    if (!(v > 0.0)) fail("'" + text + "' must be positive");
    return v;
  }

  Point3D point(const std::vector<std::string>& f, std::size_t at) {
    return Point3D(number(f[at]), number(f[at + 1]), number(f[at + 2]));
  }

  // Reads the next primitive line, whose key selects the number of values.
  Primitive primitive() {
    std::string line;
    const std::streampos at = in_.tellg();
    if (!std::getline(in_, line)) {
      ++line_;
      fail("file ends early: expected a primitive line");
    }
    std::istringstream ss(line);
    std::string key;
    ss >> key;
    in_.seekg(at);
    if (key == "sphere") {
      auto f = record(key, 4);
      return Primitive::sphere(point(f, 0), positive(f[3]));
    }
    if (key == "ellipsoid") {
      auto f = record(key, 6);
      return Primitive::ellipsoid(point(f, 0),
                                  Point3D(positive(f[3]), positive(f[4]), positive(f[5])));
    }
    if (key == "capsule") {
      auto f = record(key, 7);
      return Primitive::capsule(point(f, 0), point(f, 3), positive(f[6]));
    }
    ++line_;
    fail("expected 'sphere', 'ellipsoid' or 'capsule', found '" + key + "'");
    return {};
  }

  [[noreturn]] void fail(const std::string& text) {
    throw TervikFileError(file_, "line " + std::to_string(line_) + ": " + text);
  }

 private:
  std::string file_;
  std::ifstream in_;
  long line_ = 0;
};

}  // namespace

const Solid& GroundTruth::solid(long frame) const {
  if (frame < first_frame || frame > last_frame ||
      std::size_t(frame - first_frame) >= solids.size())
    throw TervikError("frame " + std::to_string(frame) + " is not in the scene's frames " +
                      std::to_string(first_frame) + " to " + std::to_string(last_frame));
  return solids[std::size_t(frame - first_frame)];
}

double GroundTruth::sampling_length() const { return 0.005 * norm(box_max - box_min); }

void write_ground_truth(const std::string& file, const GroundTruth& truth) {
  std::ofstream out(file);
  if (!out) throw TervikFileNotFound(file);
  auto p3 = [](const Point3D& p) { return real(p.x) + " " + real(p.y) + " " + real(p.z); };
  out << "tervik_scene 1\n";
  out << "object " << object_name(truth.object) << "\n";
  out << "frames " << truth.first_frame << " " << truth.last_frame << "\n";
  out << "box " << p3(truth.box_min) << " " << p3(truth.box_max) << "\n";
  const ColorPattern& pat = truth.pattern;
  out << "pattern checker " << real(pat.cell) << " " << p3(pat.light) << " " << real(pat.ambient)
      << " " << real(pat.diffuse) << "\n";
  out << "cameras " << truth.cameras.size() << "\n";
  for (const ViewCamera& c : truth.cameras) {
    out << "camera " << c.width << " " << c.height;
    for (const auto& row : c.k)
      for (double v : row) out << " " << real(v);
    for (const auto& row : c.r)
      for (double v : row) out << " " << real(v);
    for (double v : c.t) out << " " << real(v);
    out << "\n";
  }
  for (std::size_t i = 0; i < truth.solids.size(); ++i) {
    const auto& prims = truth.solids[i].primitives();
    out << "frame " << truth.first_frame + long(i) << " " << prims.size() << "\n";
    for (const Primitive& p : prims) {
      switch (p.shape) {
        case Shape::sphere: out << "sphere " << p3(p.a) << " " << real(p.radii.x) << "\n"; break;
        case Shape::ellipsoid: out << "ellipsoid " << p3(p.a) << " " << p3(p.radii) << "\n"; break;
        case Shape::capsule:
          out << "capsule " << p3(p.a) << " " << p3(p.b) << " " << real(p.radii.x) << "\n";
          break;
      }
    }
  }
  out.flush();
  if (!out) throw TervikFileError(file, "write failed");
}

GroundTruth read_ground_truth(const std::string& file) {
  TruthReader in(file);
  GroundTruth truth;
  const auto version = in.record("tervik_scene", 1);
  if (version[0] != "1") in.fail("unsupported version '" + version[0] + "' (expected 1)");
  try {
    truth.object = parse_object_kind(in.record("object", 1)[0]);
  } catch (const TervikError& e) {
    in.fail(e.what());
  }
  const auto frames = in.record("frames", 2);
  const long limit = 1000000000L;
  truth.first_frame = in.integer(frames[0], -limit, limit);
  truth.last_frame = in.integer(frames[1], truth.first_frame, truth.first_frame + 100000);
  const auto box = in.record("box", 6);
  truth.box_min = in.point(box, 0);
  truth.box_max = in.point(box, 3);
  for (int k = 0; k < 3; ++k)
    if (!(truth.box_min[k] < truth.box_max[k])) in.fail("box minimum must lie below its maximum");
  const auto pat = in.record("pattern", 7);
  if (pat[0] != "checker") in.fail("unknown pattern '" + pat[0] + "' (expected 'checker')");
  truth.pattern.cell = in.positive(pat[1]);
  truth.pattern.light = in.point(pat, 2);
  truth.pattern.ambient = in.number(pat[5]);
  truth.pattern.diffuse = in.number(pat[6]);
  const long ncams = in.integer(in.record("cameras", 1)[0], 0, 4096);
  for (long i = 0; i < ncams; ++i) {
    const auto f = in.record("camera", 2 + 9 + 9 + 3);
    ViewCamera c;
    c.width = in.integer(f[0], 1, 32767);
    c.height = in.integer(f[1], 1, 32767);
    for (int k = 0; k < 9; ++k) c.k[k / 3][k % 3] = in.number(f[2 + k]);
    for (int k = 0; k < 9; ++k) c.r[k / 3][k % 3] = in.number(f[11 + k]);
    for (int k = 0; k < 3; ++k) c.t[k] = in.number(f[20 + k]);
    if (c.k[0][0] == 0.0 || c.k[1][1] == 0.0) in.fail("camera focal length must not be zero");
    update_projection(c);
    truth.cameras.push_back(c);
  }
  for (long frame = truth.first_frame; frame <= truth.last_frame; ++frame) {
    const auto f = in.record("frame", 2);
    if (in.integer(f[0], -limit, limit) != frame)
      in.fail("expected frame " + std::to_string(frame) + " here");
    const long count = in.integer(f[1], 1, 1000);
    std::vector<Primitive> prims;
    for (long i = 0; i < count; ++i) prims.push_back(in.primitive());
    truth.solids.emplace_back(std::move(prims));
  }
  return truth;
}

}  // namespace tervik::scene
