#include "tervik/mesh.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string_view>

#include "tervik/atomic_file.h"
#include "tervik/exceptions.h"
#include "tervik/input_file.h"

namespace tervik {

namespace {

// Scales p to unit length; the zero vector stays zero.
Point3D unit_or_zero(const Point3D& p) {
  const double len2 = p.x * p.x + p.y * p.y + p.z * p.z;
  if (!(len2 > 0.0)) return Point3D();
  return p * (1.0 / std::sqrt(len2));
}

// Opens `path` for an atomic write, with the writers' own message on failure.
void open_for_mesh(io::AtomicFile& file, const std::string& path) {
  if (!file.open(path))
    throw TervikError("ERROR(WriteListedMesh) Cannot open file " + path + ": " + file.error());
}

void commit_mesh(io::AtomicFile& file, const std::string& path) {
  if (!file.commit()) {
    throw TervikError("ERROR(WriteListedMesh) Cannot write file " + path + ": " + file.error());
  }
}

void write_face(std::FILE* f, const Coord3D<long long>& face) {
  std::fprintf(f, "3 %lld %lld %lld\n", face.x, face.y, face.z);
}

}  // namespace

void FaceVertexMesh::add_vertex(const Point3D& p, const Coord3D<unsigned char>& c) {
  vertices.push_back(p);
  colors.push_back(c);
  vertex_faces.emplace_back();
}

void FaceVertexMesh::add_face(const Coord3D<long long>& f) {
  const long long n = static_cast<long long>(vertex_faces.size());
  TERVIK_CHECK(f.x >= 0 && f.x < n && f.y >= 0 && f.y < n && f.z >= 0 && f.z < n,
               "add_face: face (" << f.x << ", " << f.y << ", " << f.z
                                  << ") refers to a vertex outside 0.." << n - 1);
  faces.push_back(f);
  const long long k = static_cast<long long>(faces.size()) - 1;
  vertex_faces[f.x].push_back(k);
  vertex_faces[f.y].push_back(k);
  vertex_faces[f.z].push_back(k);
}

const Point3D& FaceVertexMesh::get_vertex(size_t i) const {
  TERVIK_CHECK(i < vertices.size(), "get_vertex: index " << i << " of " << vertices.size());
  return vertices[i];
}

const Coord3D<long long>& FaceVertexMesh::get_face(size_t i) const {
  TERVIK_CHECK(i < faces.size(), "get_face: index " << i << " of " << faces.size());
  return faces[i];
}

const Point3D& FaceVertexMesh::get_face_normal(size_t i) const {
  TERVIK_CHECK(i < face_normals.size(),
               "get_face_normal: index " << i << " of " << face_normals.size());
  return face_normals[i];
}

const Coord3D<unsigned char>& FaceVertexMesh::get_color(size_t i) const {
  TERVIK_CHECK(i < colors.size(), "get_color: index " << i << " of " << colors.size());
  return colors[i];
}

void FaceVertexMesh::reset() {
  vertices.clear();
  faces.clear();
  colors.clear();
  face_normals.clear();
  vertex_normals.clear();
  // Kept parallel to the vertices: stale lists would attach old faces to new vertices.
  vertex_faces.clear();
}

Point3D FaceVertexMesh::compute_cog() const {
  TERVIK_CHECK(!vertices.empty(), "compute_cog: the mesh has no vertices");
  Point3D sum;
  for (const Point3D& p : vertices) sum += p;
  return sum / static_cast<double>(vertices.size());
}

void FaceVertexMesh::update_normals() {
  const long long n = static_cast<long long>(vertices.size());
  face_normals.clear();
  face_normals.reserve(faces.size());
  for (const Coord3D<long long>& f : faces) {
    TERVIK_CHECK(f.x >= 0 && f.x < n && f.y >= 0 && f.y < n && f.z >= 0 && f.z < n,
                 "update_normals: face (" << f.x << ", " << f.y << ", " << f.z
                                          << ") refers to a vertex outside 0.." << n - 1);
    const Point3D& p0 = vertices[f.x];
    face_normals.push_back(unit_or_zero(cross(vertices[f.y] - p0, vertices[f.z] - p0)));
  }
  TERVIK_CHECK(vertex_faces.size() == vertices.size(),
               "update_normals: " << vertex_faces.size() << " face lists for " << n
                                  << " vertices");
  vertex_normals.assign(vertices.size(), Point3D());
  for (size_t v = 0; v < vertices.size(); ++v) {
    Point3D sum;
    for (long long k : vertex_faces[v]) {
      TERVIK_CHECK(k >= 0 && static_cast<size_t>(k) < faces.size(),
                   "update_normals: vertex " << v << " lists face " << k << " of "
                                             << faces.size());
      sum += face_normals[k];
    }
    vertex_normals[v] = unit_or_zero(sum);
  }
}

void write_mesh(const std::string& path, const FaceVertexMesh& mesh) {
  TERVIK_CHECK(mesh.colors.size() == mesh.vertices.size(),
               "write_mesh: " << mesh.colors.size() << " colours for " << mesh.vertices.size()
                              << " vertices");
  io::AtomicFile file;
  open_for_mesh(file, path);
  std::FILE* f = file.stream();
  std::fputs("ply\nformat ascii 1.0\n", f);
  std::fprintf(f, "element vertex %ld\n", static_cast<long>(mesh.vertices.size()));
  std::fputs("property float x\nproperty float y\nproperty float z\n", f);
  std::fputs("property uchar red\nproperty uchar green\nproperty uchar blue\n", f);
  std::fprintf(f, "element face %ld\n", static_cast<long>(mesh.faces.size()));
  std::fputs("property list uint8 int32 vertex_indices\n", f);
  std::fputs("end_header\n", f);
  for (size_t i = 0; i < mesh.vertices.size() && !std::ferror(f); ++i) {
    const Point3D& p = mesh.vertices[i];
    const Coord3D<unsigned char>& c = mesh.colors[i];
    std::fprintf(f, "%lf %lf %lf %d %d %d\n", p.x, p.y, p.z, c.x, c.y, c.z);
  }
  for (size_t i = 0; i < mesh.faces.size() && !std::ferror(f); ++i) write_face(f, mesh.faces[i]);
  commit_mesh(file, path);
}

void write_mesh_no_color(const std::string& path, const FaceVertexMesh& mesh,
                         const std::vector<bool>& face_flags) {
  TERVIK_CHECK(face_flags.size() == mesh.faces.size(),
               "write_mesh_no_color: " << face_flags.size() << " face flags for "
                                       << mesh.faces.size() << " faces");
  long kept = 0;
  for (bool flag : face_flags) kept += flag ? 1 : 0;
  io::AtomicFile file;
  open_for_mesh(file, path);
  std::FILE* f = file.stream();
  std::fputs("ply\nformat ascii 1.0\n", f);
  std::fprintf(f, "element vertex %ld\n", static_cast<long>(mesh.vertices.size()));
  std::fputs("property float x\nproperty float y\nproperty float z\n", f);
  std::fprintf(f, "element face %ld\n", kept);
  std::fputs("property list uint8 int32 vertex_indices\n", f);
  std::fputs("end_header\n", f);
  for (size_t i = 0; i < mesh.vertices.size() && !std::ferror(f); ++i) {
    const Point3D& p = mesh.vertices[i];
    std::fprintf(f, "%lf %lf %lf\n", p.x, p.y, p.z);
  }
  for (size_t i = 0; i < mesh.faces.size() && !std::ferror(f); ++i) {
    if (face_flags[i]) write_face(f, mesh.faces[i]);
  }
  commit_mesh(file, path);
}

namespace {

// Line-by-line reader of a PLY mesh that names the line of every problem.
class MeshReader {
 public:
  MeshReader(const std::string& path, std::ifstream& in) : path_(path), in_(in) {}

  // Reads the next line into whitespace-separated tokens; false at the end of the file.
  bool next() {
    tokens_.clear();
    const io::LineRead r = io::read_line(in_, line_);
    if (r == io::LineRead::kEnd) return false;
    ++number_;
    if (r == io::LineRead::kTooLong)
      fail("line longer than " + std::to_string(io::kMaxLineLength) + " bytes");
    size_t i = 0;
    while (i < line_.size()) {
      while (i < line_.size() && is_space(line_[i])) ++i;
      const size_t start = i;
      while (i < line_.size() && !is_space(line_[i])) ++i;
      if (i > start) tokens_.emplace_back(line_.data() + start, i - start);
    }
    return true;
  }
  // The next line of the header, skipping comments; it must exist.
  void next_header(const char* expected) {
    do {
      if (!next()) fail_at_end(std::string("\"") + expected + "\" in the header");
    } while (!tokens_.empty() && (tokens_[0] == "comment" || tokens_[0] == "obj_info"));
  }
  bool is(std::initializer_list<std::string_view> words) const {
    return tokens_.size() == words.size() && std::equal(words.begin(), words.end(),
                                                        tokens_.begin());
  }
  void expect(std::initializer_list<std::string_view> words, const char* text) {
    next_header(text);
    if (!is(words)) fail(std::string("expected \"") + text + "\"");
  }
  // Reads "element <name> <count>".
  long long element(const char* name) {
    next_header(name);
    long long count = -1;
    if (tokens_.size() != 3 || tokens_[0] != "element" || tokens_[1] != name ||
        !parse(tokens_[2], count) || count < 0) {
      fail(std::string("expected \"element ") + name + " <count>\"");
    }
    return count;
  }
  // The next data line, which must exist, described by `what` when it does not.
  void data_line(const std::string& what) {
    do {
      if (!next()) fail_at_end(what);
    } while (tokens_.empty());
  }

  const std::vector<std::string_view>& tokens() const { return tokens_; }
  long long line_number() const { return number_; }
  // Reports that the file ended where `what` was expected.
  [[noreturn]] void fail_at_end(const std::string& what) const {
    throw TervikError("ERROR(ReadListedMesh) " + path_ + " ends after line " +
                      std::to_string(number_) + ", expected " + what);
  }
  [[noreturn]] void fail(const std::string& text) const {
    throw TervikError("ERROR(ReadListedMesh) " + path_ + " line " + std::to_string(number_) +
                      ": " + text);
  }

  template <typename T>
  static bool parse(std::string_view s, T& value) {
    const char* end = s.data() + s.size();
    const auto result = std::from_chars(s.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
  }

 private:
  static bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

  const std::string& path_;
  std::ifstream& in_;
  std::string line_;
  std::vector<std::string_view> tokens_;
  long long number_ = 0;
};

}  // namespace

void read_mesh(const std::string& path, FaceVertexMesh& mesh) {
  const std::string problem = io::input_file_problem(path);
  if (!problem.empty())
    throw TervikError("ERROR(ReadListedMesh) Cannot open file " + path +
                      (problem == "not found" ? "" : ": " + problem));
  std::ifstream in(path, std::ios::binary);
  if (!in) throw TervikError("ERROR(ReadListedMesh) Cannot open file " + path);
  MeshReader r(path, in);
  r.expect({"ply"}, "ply");
  r.expect({"format", "ascii", "1.0"}, "format ascii 1.0");
  const long long nv = r.element("vertex");
  r.expect({"property", "float", "x"}, "property float x");
  r.expect({"property", "float", "y"}, "property float y");
  r.expect({"property", "float", "z"}, "property float z");
  r.next_header("property uchar red");
  const bool color = r.is({"property", "uchar", "red"});
  if (color) {
    r.expect({"property", "uchar", "green"}, "property uchar green");
    r.expect({"property", "uchar", "blue"}, "property uchar blue");
    r.next_header("element face <count>");
  }
  long long nf = -1;
  if (r.tokens().size() != 3 || r.tokens()[0] != "element" || r.tokens()[1] != "face" ||
      !MeshReader::parse(r.tokens()[2], nf) || nf < 0) {
    r.fail(color ? "expected \"element face <count>\""
                 : "expected \"property uchar red\" or \"element face <count>\"");
  }
  r.expect({"property", "list", "uint8", "int32", "vertex_indices"},
           "property list uint8 int32 vertex_indices");
  r.expect({"end_header"}, "end_header");

  // Every vertex line takes at least 6 (12 with colour) bytes and every face line 8, so the
  // counts can be checked against the file's size before anything is reserved.
  std::error_code ec;
  const auto size = static_cast<long long>(std::filesystem::file_size(path, ec));
  if (!ec && (nv > size / (color ? 12 : 6) || nf > size / 8 ||
              nv * (color ? 12 : 6) + nf * 8 > size)) {
    r.fail("header declares " + std::to_string(nv) + " vertices and " + std::to_string(nf) +
           " faces, more than the file can hold");
  }

  FaceVertexMesh result;
  result.vertices.reserve(nv);
  result.colors.reserve(nv);
  result.vertex_faces.reserve(nv);
  result.faces.reserve(nf);
  const size_t columns = color ? 6 : 3;
  for (long long i = 0; i < nv; ++i) {
    r.data_line("vertex " + std::to_string(i) + " of " + std::to_string(nv));
    const auto& t = r.tokens();
    Point3D p;
    int c[3] = {128, 128, 128};
    bool ok = t.size() == columns && MeshReader::parse(t[0], p.x) &&
              MeshReader::parse(t[1], p.y) && MeshReader::parse(t[2], p.z);
    for (size_t j = 3; ok && j < columns; ++j) {
      ok = MeshReader::parse(t[j], c[j - 3]) && c[j - 3] >= 0 && c[j - 3] <= 255;
    }
    if (!ok) {
      r.fail("vertex " + std::to_string(i) + ": expected " +
             (color ? "\"x y z red green blue\" with colours 0 to 255" : "\"x y z\""));
    }
    result.add_vertex(p, Coord3D<unsigned char>(static_cast<unsigned char>(c[0]),
                                                static_cast<unsigned char>(c[1]),
                                                static_cast<unsigned char>(c[2])));
  }
  for (long long i = 0; i < nf; ++i) {
    r.data_line("face " + std::to_string(i) + " of " + std::to_string(nf));
    const auto& t = r.tokens();
    Coord3D<long long> f;
    if (t.size() != 4 || t[0] != "3" || !MeshReader::parse(t[1], f.x) ||
        !MeshReader::parse(t[2], f.y) || !MeshReader::parse(t[3], f.z)) {
      r.fail("face " + std::to_string(i) + ": expected \"3 i j k\"");
    }
    if (f.x < 0 || f.x >= nv || f.y < 0 || f.y >= nv || f.z < 0 || f.z >= nv) {
      r.fail("face " + std::to_string(i) + " refers to a vertex outside 0.." +
             std::to_string(nv - 1));
    }
    result.add_face(f);
  }
  while (r.next()) {
    if (!r.tokens().empty()) r.fail("unexpected data after the last face");
  }
  if (in.bad()) r.fail("read error");
  mesh = std::move(result);
}

}  // namespace tervik
