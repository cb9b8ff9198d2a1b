// ASCII PLY reading.
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tervik/exceptions.h"
#include "tervik/input_file.h"
#include "tools/ply_reader.h"

namespace tervik::io {
namespace {

struct Property {
  std::string name;
  std::string type;       // scalar type, or the item type of a list
  bool is_list = false;
};

struct Element {
  std::string name;
  long long count = 0;
  long header_line = 0;
  std::vector<Property> properties;
};

bool is_type(const std::string& t) {
  static const char* const types[] = {"char",  "uchar",  "short",  "ushort", "int",
                                      "uint",  "float",  "double", "int8",   "uint8",
                                      "int16", "uint16", "int32",  "uint32", "float32",
                                      "float64"};
  for (const char* name : types)
    if (t == name) return true;
  return false;
}

bool is_integer_type(const std::string& t) {
  return t != "float" && t != "double" && t != "float32" && t != "float64";
}

class Parser {
 public:
  explicit Parser(const std::string& file) : file_(file) {
    const std::string problem = input_file_problem(file);
    if (problem == "not found") throw TervikFileNotFound(file);
    if (!problem.empty()) throw TervikFileError(file, "cannot read the file: " + problem);
    std::ifstream in(file, std::ios::binary);
    if (!in) throw TervikFileNotFound(file);
    text_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // The next line without its end-of-line characters; false at the end of the file.
  bool next_line(std::string& line) {
    if (pos_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string::npos) end = text_.size();
    if (end - pos_ > kMaxLineLength) {
      ++line_;
      fail("longer than " + std::to_string(kMaxLineLength) + " bytes");
    }
    line.assign(text_, pos_, end - pos_);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos_ = end + 1;
    ++line_;
    return true;
  }

  std::vector<std::string> tokens(const std::string& line) {
    std::istringstream ss(line);
    std::vector<std::string> out;
    for (std::string t; ss >> t;) out.push_back(t);
    return out;
  }

  double number(const std::string& t, const std::string& type, const std::string& what) {
    double v = 0.0;
    const char* b = t.data();
    const char* e = b + t.size();
    if (*b == '+') ++b;
    const auto [end, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || end != e || !std::isfinite(v))
      fail("'" + t + "' is not a finite number (" + what + ")");
    if (is_integer_type(type) && v != std::floor(v))
      fail("'" + t + "' is not an integer (" + what + " is " + type + ")");
    return v;
  }

  [[noreturn]] void fail(const std::string& text) {
    throw TervikFileError(file_, "line " + std::to_string(line_) + ": " + text);
  }

  std::vector<Element> header() {
    std::string line;
    if (!next_line(line) || line != "ply") fail("not a PLY file (first line must be 'ply')");
    std::vector<Element> elements;
    bool format = false;
    while (next_line(line)) {
      const auto t = tokens(line);
      if (t.empty()) continue;
      if (t[0] == "end_header") {
        if (!format) fail("end_header before the format line");
        return elements;
      }
      if (t[0] == "comment" || t[0] == "obj_info") continue;
      if (t[0] == "format") {
        if (t.size() != 3) fail("malformed format line");
        if (t[1] != "ascii")
          fail("format '" + t[1] + "' is not supported (only ascii PLY files are read)");
        if (t[2] != "1.0") fail("PLY version '" + t[2] + "' is not supported (expected 1.0)");
        format = true;
      } else if (t[0] == "element") {
        if (t.size() != 3) fail("malformed element line (expected 'element NAME COUNT')");
        Element el;
        el.name = t[1];
        el.header_line = line_;
        long long n = -1;
        const auto [end, ec] = std::from_chars(t[2].data(), t[2].data() + t[2].size(), n);
        if (ec != std::errc() || end != t[2].data() + t[2].size() || n < 0)
          fail("element count '" + t[2] + "' is not a non-negative integer");
        // Every item takes at least two bytes (a value and a line end): cap the count.
        if (n > static_cast<long long>(text_.size() / 2))
          fail("element '" + el.name + "' declares " + t[2] + " items, more than the file holds");
        el.count = n;
        elements.push_back(el);
      } else if (t[0] == "property") {
        if (elements.empty()) fail("property before any element");
        Property p;
        if (t.size() == 5 && t[1] == "list") {
          if (!is_type(t[2]) || !is_type(t[3])) fail("unknown type in list property '" + t[4] + "'");
          p = {t[4], t[3], true};
        } else if (t.size() == 3) {
          if (!is_type(t[1])) fail("unknown property type '" + t[1] + "'");
          p = {t[2], t[1], false};
        } else {
          fail("malformed property line");
        }
        elements.back().properties.push_back(p);
      } else {
        fail("unexpected header line '" + line + "'");
      }
    }
    fail("file ends inside the header (no end_header line)");
  }

  PlyModel read() {
    PlyModel model;
    const std::vector<Element> elements = header();
    bool seen_vertex = false;
    for (const Element& el : elements) {
      if (el.name == "vertex") {
        if (seen_vertex) fail("second vertex element");
        seen_vertex = true;
        read_vertices(el, model);
      } else if (el.name == "face") {
        if (!seen_vertex) fail("face element before the vertex element");
        read_faces(el, model);
      } else {
        skip(el);
      }
    }
    if (!seen_vertex) throw TervikFileError(file_, "no vertex element");
    std::string line;
    while (next_line(line))
      if (!tokens(line).empty()) fail("unexpected data after the last element");
    return model;
  }

 private:
  int find(const Element& el, const std::string& name) {
    for (std::size_t i = 0; i < el.properties.size(); ++i)
      if (el.properties[i].name == name && !el.properties[i].is_list) return int(i);
    return -1;
  }

  std::vector<std::string> item(const Element& el, long long i) {
    std::string line;
    if (!next_line(line))
      fail("file ends early: " + el.name + " " + std::to_string(i) + " of " +
           std::to_string(el.count) + " is missing");
    return tokens(line);
  }

  void read_vertices(const Element& el, PlyModel& model) {
    const int x = find(el, "x"), y = find(el, "y"), z = find(el, "z");
    if (x < 0 || y < 0 || z < 0) {
      line_ = el.header_line;
      fail("vertex element lacks one of the properties x, y, z");
    }
    for (const Property& p : el.properties)
      if (p.is_list) {
        line_ = el.header_line;
        fail("list property '" + p.name + "' in the vertex element is not supported");
      }
    const int nx = find(el, "nx"), ny = find(el, "ny"), nz = find(el, "nz");
    const int r = find(el, "red"), g = find(el, "green"), b = find(el, "blue");
    model.has_normals = nx >= 0 && ny >= 0 && nz >= 0;
    model.has_colors = r >= 0 && g >= 0 && b >= 0;
    const std::size_t n = el.properties.size();
    model.positions.reserve(std::size_t(el.count));
    for (long long i = 0; i < el.count; ++i) {
      const auto t = item(el, i);
      if (t.size() != n)
        fail("vertex " + std::to_string(i) + " has " + std::to_string(t.size()) +
             " values, expected " + std::to_string(n));
      std::vector<double> v(n);
      for (std::size_t k = 0; k < n; ++k)
        v[k] = number(t[k], el.properties[k].type, el.properties[k].name);
      model.positions.emplace_back(v[x], v[y], v[z]);
      if (model.has_normals) model.normals.emplace_back(v[nx], v[ny], v[nz]);
      if (model.has_colors) {
        Coord3D<unsigned char> c;
        const int idx[3] = {r, g, b};
        for (int k = 0; k < 3; ++k) {
          const double cv = v[idx[k]];
          if (cv < 0.0 || cv > 255.0)
            fail("colour value '" + t[idx[k]] + "' of vertex " + std::to_string(i) +
                 " is outside 0 to 255");
          c[k] = static_cast<unsigned char>(cv);
        }
        model.colors.push_back(c);
      }
    }
  }

  void read_faces(const Element& el, PlyModel& model) {
    if (el.properties.size() != 1 || !el.properties[0].is_list ||
        (el.properties[0].name != "vertex_indices" && el.properties[0].name != "vertex_index")) {
      line_ = el.header_line;
      fail("face element must have exactly one list property 'vertex_indices'");
    }
    model.has_faces = true;
    const long long nv = static_cast<long long>(model.positions.size());
    for (long long i = 0; i < el.count; ++i) {
      const auto t = item(el, i);
      if (t.empty()) fail("face " + std::to_string(i) + " is empty");
      const double k = number(t[0], "int", "corner count");
      if (k < 3) fail("face " + std::to_string(i) + " has fewer than 3 corners");
      if (double(t.size() - 1) != k)
        fail("face " + std::to_string(i) + " declares " + t[0] + " corners but lists " +
             std::to_string(t.size() - 1));
      std::vector<long long> idx;
      for (std::size_t j = 1; j < t.size(); ++j) {
        const double v = number(t[j], "int", "vertex index");
        if (v < 0 || v >= double(nv))
          fail("face " + std::to_string(i) + " uses vertex " + t[j] + ", but there are " +
               std::to_string(nv) + " vertices");
        idx.push_back(static_cast<long long>(v));
      }
      for (std::size_t j = 1; j + 1 < idx.size(); ++j)
        model.faces.emplace_back(idx[0], idx[j], idx[j + 1]);
    }
  }

  void skip(const Element& el) {
    for (long long i = 0; i < el.count; ++i) item(el, i);
  }

  std::string file_;
  std::string text_;
  std::size_t pos_ = 0;
  long line_ = 0;
};

}  // namespace

PlyModel read_ply(const std::string& file) { return Parser(file).read(); }

}  // namespace tervik::io
