#include "tervik/mesh.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tervik/atomic_file.h"
#include "tervik/exceptions.h"
#include "tervik/input_file.h"
#include "tervik/pieces.h"
#include "tervik/ply.h"

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

// Records are formatted in blocks of this many, each block on one thread, and written in order.
constexpr size_t kBlockRecords = 4096;

// Writes the buffered records once they fill a chunk.
void flush_full(io::AtomicFile& file, std::string& chunk) {
  if (chunk.size() < (1 << 16)) return;
  std::fwrite(chunk.data(), 1, chunk.size(), file.stream());
  chunk.clear();
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

void write_mesh(const std::string& path, const FaceVertexMesh& mesh, io::PlyFormat format,
                unsigned threads) {
  TERVIK_CHECK(mesh.colors.size() == mesh.vertices.size(),
               "write_mesh: " << mesh.colors.size() << " colours for " << mesh.vertices.size()
                              << " vertices");
  io::AtomicFile file;
  open_for_mesh(file, path);
  std::FILE* f = file.stream();
  const std::string header =
      io::mesh_file_header(mesh.vertices.size(), mesh.faces.size(), true, format);
  std::fwrite(header.data(), 1, header.size(), f);
  const auto write = [f](std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    return !std::ferror(f);  // after a failed write (full disk) the rest is not formatted
  };
  const bool written = format_in_blocks(
      mesh.vertices.size(), kBlockRecords, threads,
      [&](std::string& out, size_t first, size_t last) {
        for (size_t i = first; i < last; ++i) {
          const Coord3D<unsigned char>& c = mesh.colors[i];
          const unsigned char rgb[3] = {c.x, c.y, c.z};
          io::append_mesh_vertex(out, mesh.vertices[i], rgb, format);
        }
      },
      write);
  if (written) {
    format_in_blocks(
        mesh.faces.size(), kBlockRecords, threads,
        [&](std::string& out, size_t first, size_t last) {
          for (size_t i = first; i < last; ++i) io::append_mesh_face(out, mesh.faces[i], format);
        },
        write);
  }
  commit_mesh(file, path);
}

void write_mesh_no_color(const std::string& path, const FaceVertexMesh& mesh,
                         const std::vector<bool>& face_flags) {
  TERVIK_CHECK(face_flags.size() == mesh.faces.size(),
               "write_mesh_no_color: " << face_flags.size() << " face flags for "
                                       << mesh.faces.size() << " faces");
  size_t kept = 0;
  for (bool flag : face_flags) kept += flag ? 1 : 0;
  io::AtomicFile file;
  open_for_mesh(file, path);
  const io::PlyFormat ascii = io::PlyFormat::ascii;
  std::string chunk = io::mesh_file_header(mesh.vertices.size(), kept, false, ascii);
  for (size_t i = 0; i < mesh.vertices.size() && !std::ferror(file.stream()); ++i) {
    io::append_mesh_vertex(chunk, mesh.vertices[i], nullptr, ascii);
    flush_full(file, chunk);
  }
  for (size_t i = 0; i < mesh.faces.size() && !std::ferror(file.stream()); ++i) {
    if (face_flags[i]) io::append_mesh_face(chunk, mesh.faces[i], ascii);
    flush_full(file, chunk);
  }
  std::fwrite(chunk.data(), 1, chunk.size(), file.stream());
  commit_mesh(file, path);
}

void read_mesh(const std::string& path, FaceVertexMesh& mesh) {
  const std::string prefix = "ERROR(ReadListedMesh) ";
  std::string bytes;
  if (!io::read_file_bytes(path, bytes)) {
    const std::string problem = io::input_file_problem(path);
    throw TervikError(prefix + "Cannot open file " + path +
                      (problem.empty() || problem == "not found" ? "" : ": " + problem));
  }
  io::PlyReadOptions options;
  options.error_prefix = prefix;
  const io::PlyModel model = io::parse_ply(path, bytes, options);
  if (!model.has_faces) throw TervikError(prefix + path + ": no face element, not a mesh");
  FaceVertexMesh result;
  result.vertices = model.positions;
  result.colors = model.has_colors ? model.colors
                                   : std::vector<Coord3D<unsigned char>>(
                                         model.positions.size(), Coord3D<unsigned char>(128, 128, 128));
  result.vertex_faces.resize(model.positions.size());
  result.faces.reserve(model.faces.size());
  for (const Coord3D<long long>& f : model.faces) result.add_face(f);
  mesh = std::move(result);
}

}  // namespace tervik
