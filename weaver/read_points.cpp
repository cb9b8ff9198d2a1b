#include "weaver/read_points.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tervik/exceptions.h"
#include "tervik/input_file.h"

namespace tervik {
namespace {

const std::string kPrefix = "ERROR( read_points ) : ";

[[noreturn]] void fail(const std::string& path, std::size_t line, const std::string& what) {
  throw TervikError(kPrefix + path + " line " + std::to_string(line) + ": " + what);
}

// Reads a file line by line, dropping a trailing carriage return, and counts lines from 1.
class LineReader {
 public:
  explicit LineReader(const std::string& path) : path_(path) {
    // Only regular files: a FIFO or device (/dev/zero) could block or never end.
    const std::string problem = io::input_file_problem(path);
    if (problem == "not found") throw TervikError(kPrefix + "Unable to read from file " + path);
    if (!problem.empty())
      throw TervikError(kPrefix + "Unable to read from file " + path + ": " + problem);
    in_.open(path, std::ios::binary);
    if (!in_.is_open()) throw TervikError(kPrefix + "Unable to read from file " + path);
  }

  // The next line into `line`; false at the end of the file.
  bool next(std::string& line) {
    const io::LineRead r = io::read_line(in_, line);
    if (r == io::LineRead::kTooLong)
      fail(path_, number_ + 1, "line longer than " + std::to_string(io::kMaxLineLength) +
                                   " bytes");
    if (r == io::LineRead::kEnd) {
      if (in_.bad()) fail(path_, number_ + 1, "read error");
      return false;
    }
    ++number_;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  }
  std::size_t number() const { return number_; }
  std::uintmax_t size() const {
    std::error_code ec;
    const std::uintmax_t s = std::filesystem::file_size(path_, ec);
    return ec ? 0 : s;
  }

 private:
  std::string path_;
  std::ifstream in_;
  std::size_t number_ = 0;
};

std::vector<std::string> split(const std::string& line) {
  std::istringstream is(line);
  std::vector<std::string> tokens;
  for (std::string t; is >> t;) tokens.push_back(t);
  return tokens;
}

bool is_blank(const std::string& line) {
  return line.find_first_not_of(" \t\f\v") == std::string::npos;
}

struct Property {
  std::string type, name;
  std::size_t line = 0;
};

// Parses the header up to and including "end_header"; returns the declared vertex count.
long long read_header(LineReader& in, const std::string& path, bool color) {
  std::string line;
  if (!in.next(line) || split(line) != std::vector<std::string>{"ply"})
    fail(path, 1, "not a PLY file (the first line must be 'ply')");
  bool format = false;
  long long count = -1;
  bool in_vertex = false;
  std::size_t vertex_line = 0;
  std::vector<Property> props;
  for (;;) {
    if (!in.next(line)) fail(path, in.number() + 1, "file ends inside the header");
    const std::vector<std::string> t = split(line);
    if (t.empty()) continue;
    const std::size_t n = in.number();
    if (t[0] == "comment" || t[0] == "obj_info") continue;
    if (t[0] == "end_header" && t.size() == 1) break;
    if (t[0] == "format") {
      if (t.size() != 3 || t[1] != "ascii" || t[2] != "1.0")
        fail(path, n, "unsupported format '" + line + "' (expected 'format ascii 1.0')");
      format = true;
    } else if (t[0] == "element" && t.size() == 3) {
      if (!format) fail(path, n, "element before the 'format' line");
      if (count < 0 && t[1] != "vertex")
        fail(path, n, "element '" + t[1] + "' before the vertex element");
      in_vertex = t[1] == "vertex" && count < 0;
      if (in_vertex) {
        errno = 0;
        char* end = nullptr;
        count = std::strtoll(t[2].c_str(), &end, 10);
        if (errno != 0 || *end != '\0' || count < 0)
          fail(path, n, "invalid vertex count '" + t[2] + "'");
        vertex_line = n;
      }
    } else if (t[0] == "property" && t.size() == 3) {
      if (count < 0) fail(path, n, "property before the vertex element");
      if (in_vertex) props.push_back({t[1], t[2], n});
    } else if (t[0] == "property" && t.size() == 5 && t[1] == "list") {
      if (in_vertex) fail(path, n, "unexpected list property in the vertex element");
    } else {
      fail(path, n, "unexpected header line '" + line + "'");
    }
  }
  if (count < 0) fail(path, in.number(), "no 'element vertex' line in the header");
  static const char* kNames[] = {"x", "y", "z", "nx", "ny", "nz", "red", "green", "blue"};
  const std::size_t expected = color ? 9 : 6;
  const std::string wanted = color ? "x y z nx ny nz red green blue" : "x y z nx ny nz";
  for (std::size_t i = 0; i < std::max(expected, props.size()); ++i) {
    const std::size_t at = i < props.size() ? props[i].line : vertex_line;
    if (i >= props.size() || i >= expected || props[i].name != kNames[i])
      fail(path, at, "the vertex properties must be " + wanted);
    const std::string& type = props[i].type;
    const bool ok = i < 6 ? (type == "float" || type == "float32" || type == "double" ||
                             type == "float64")
                          : (type == "uchar" || type == "uint8");
    if (!ok) fail(path, at, "unsupported type '" + type + "' of property " + kNames[i]);
  }
  return count;
}

// Parses one vertex line into `p`: six finite reals, then (with colour) three integers 0-255.
void parse_point(const std::string& line, bool color, const std::string& path,
                 std::size_t number, Patch& p) {
  const char* s = line.c_str();
  double v[6];
  for (int i = 0; i < 6; ++i) {
    char* end = nullptr;
    v[i] = std::strtod(s, &end);
    if (end == s || (*end != '\0' && !std::isspace(static_cast<unsigned char>(*end))))
      fail(path, number, "value " + std::to_string(i + 1) + " is not a number");
    if (!std::isfinite(v[i]))
      fail(path, number, "value " + std::to_string(i + 1) + " is not a finite number");
    s = end;
  }
  p.pos = Point3D(v[0], v[1], v[2]);
  p.normal = Point3D(v[3], v[4], v[5]);
  if (color) {
    unsigned char* c[3] = {&p.r, &p.g, &p.b};
    for (int i = 0; i < 3; ++i) {
      while (std::isspace(static_cast<unsigned char>(*s))) ++s;
      char* end = nullptr;
      const long value = std::isdigit(static_cast<unsigned char>(*s)) ? std::strtol(s, &end, 10)
                                                                        : -1;
      if (value < 0 || value > 255 ||
          (*end != '\0' && !std::isspace(static_cast<unsigned char>(*end))))
        fail(path, number, "colour value " + std::to_string(i + 1) +
                               " is not an integer from 0 to 255");
      *c[i] = static_cast<unsigned char>(value);
      s = end;
    }
  }
  while (std::isspace(static_cast<unsigned char>(*s))) ++s;
  if (*s != '\0')
    fail(path, number, std::string("unexpected text after the ") + (color ? "9" : "6") +
                           " values of a point");
}

void read(const std::string& path, std::vector<Patch>& points, unsigned int step, bool color) {
  points.clear();
  LineReader in(path);
  if (step == 0) throw TervikError(kPrefix + "the decimation step must be at least 1");
  const long long count = read_header(in, path, color);
  // Reserve no more than the file can hold, whatever the header declares (a point line takes
  // at least two bytes per value).
  const std::uintmax_t fits = in.size() / (color ? 18 : 12);
  const std::uintmax_t kept = std::min<std::uintmax_t>(count, fits) / step + 1;
  points.reserve(kept);
  std::string line;
  Patch p;
  for (long long i = 0; i < count; ++i) {
    do {
      if (!in.next(line))
        fail(path, in.number() + 1, "file ends after " + std::to_string(i) + " of the " +
                                        std::to_string(count) + " points of its header");
    } while (is_blank(line));
    parse_point(line, color, path, in.number(), p);
    if (i % step == 0) points.push_back(p);
  }
}

}  // namespace

void read_points_color(const std::string& path, std::vector<Patch>& points, unsigned int step) {
  read(path, points, step, true);
}

void read_points(const std::string& path, std::vector<Patch>& points, unsigned int step) {
  read(path, points, step, false);
}

}  // namespace tervik
