// PLY data reading: the elements of a file and their records into a PlyModel. Binary data is
// read here in one pass; ASCII data in pieces by ply_read_ascii.cpp.
#include "tervik/exceptions.h"
#include "tervik/input_file.h"
#include "tervik/ply.h"
#include "tervik/ply_detail.h"
#include "tervik/ply_records.h"

namespace tervik::io {

namespace detail {

namespace {

int find(const PlyElement& el, const char* name) {
  for (std::size_t i = 0; i < el.properties.size(); ++i)
    if (el.properties[i].name == name && !el.properties[i].is_list) return static_cast<int>(i);
  return -1;
}

}  // namespace

ElementKind element_kind(const PlyElement& el, const PlyReadOptions& options) {
  if (el.name == "vertex") return ElementKind::vertex;
  if (el.name == "face" && !options.vertices_only) return ElementKind::face;
  return ElementKind::other;
}

RecordRules vertex_rules(const Reporter& r, const PlyElement& el, const PlyReadOptions& options,
                         PlyModel& m, VertexColumns& c) {
  c.x = find(el, "x"), c.y = find(el, "y"), c.z = find(el, "z");
  c.nx = find(el, "nx"), c.ny = find(el, "ny"), c.nz = find(el, "nz");
  c.rgb[0] = find(el, "red"), c.rgb[1] = find(el, "green"), c.rgb[2] = find(el, "blue");
  m.has_normals = c.nx >= 0 && c.ny >= 0 && c.nz >= 0;
  m.has_colors = c.rgb[0] >= 0 && c.rgb[1] >= 0 && c.rgb[2] >= 0;
  if (options.require_normals && (c.x < 0 || c.y < 0 || c.z < 0 || !m.has_normals))
    r.fail_line(el.line, "the vertex element lacks one of the properties x, y, z, nx, ny, nz");
  if (c.x < 0 || c.y < 0 || c.z < 0)
    r.fail_line(el.line, "the vertex element lacks one of the properties x, y, z");
  RecordRules rules = plain_rules(el);
  for (int k = 0; k < 3 && m.has_colors; ++k) {
    const PlyProperty& p = el.properties[c.rgb[k]];
    if (!is_integer(p.type))
      r.fail_line(p.line, "unsupported type '" + std::string(ply_type_name(p.type)) +
                              "' of property " + p.name);
    rules.colour[c.rgb[k]] = k + 1;
  }
  return rules;
}

RecordRules face_rules(const Reporter& r, const PlyElement& el, bool after_vertex, PlyModel& m) {
  if (!after_vertex) r.fail_line(el.line, "face element before the vertex element");
  RecordRules rules = plain_rules(el);
  for (std::size_t p = 0; p < el.properties.size(); ++p) {
    const PlyProperty& prop = el.properties[p];
    if (prop.is_list && (prop.name == "vertex_indices" || prop.name == "vertex_index")) {
      if (!is_integer(prop.type))
        r.fail_line(prop.line, "the items of list " + prop.name + " must have an integer type");
      rules.list = static_cast<int>(p);
    }
  }
  if (rules.list < 0)
    r.fail_line(el.line, "the face element lacks the list property vertex_indices");
  m.has_faces = true;
  return rules;
}

RecordRules plain_rules(const PlyElement& el) {
  RecordRules rules;
  rules.colour.assign(el.properties.size(), 0);
  return rules;
}

void store_vertex(const Record& rec, const VertexColumns& c, std::size_t slot, PlyModel& m) {
  const std::vector<double>& v = rec.values;
  m.positions[slot] = Point3D(v[c.x], v[c.y], v[c.z]);
  if (m.has_normals) m.normals[slot] = Point3D(v[c.nx], v[c.ny], v[c.nz]);
  if (m.has_colors)
    m.colors[slot] = Coord3D<unsigned char>(static_cast<unsigned char>(v[c.rgb[0]]),
                                            static_cast<unsigned char>(v[c.rgb[1]]),
                                            static_cast<unsigned char>(v[c.rgb[2]]));
}

void add_face(DataReader& in, const Record& rec, long long i, long long vertices,
              std::vector<Coord3D<long long>>& faces) {
  const std::vector<long long>& idx = rec.items;
  if (idx.size() < 3) in.fail("face " + std::to_string(i) + " has fewer than 3 corners");
  for (long long v : idx)
    if (v < 0 || v >= vertices)
      in.fail("face " + std::to_string(i) + " uses vertex " + std::to_string(v) +
              ", but there are " + std::to_string(vertices) + " vertices");
  for (std::size_t j = 1; j + 1 < idx.size(); ++j) faces.emplace_back(idx[0], idx[j], idx[j + 1]);
}

}  // namespace detail

namespace {

using namespace detail;

// Sizes the vertex lists of `m` for `count` vertices.
void resize_vertices(PlyModel& m, std::size_t count) {
  m.positions.resize(count);
  if (m.has_normals) m.normals.resize(count);
  if (m.has_colors) m.colors.resize(count);
}

void read_vertices(const Reporter& r, DataReader& in, const PlyElement& el,
                   const PlyReadOptions& options, PlyModel& m) {
  VertexColumns columns;
  const RecordRules rules = vertex_rules(r, el, options, m, columns);
  // `fits` bounds what the bytes can hold; a file that holds fewer fails before the list fills.
  resize_vertices(m, static_cast<std::size_t>((el.fits + options.step - 1) / options.step));
  Record rec;
  std::size_t kept = 0;
  for (long long i = 0; i < el.count; ++i) {
    in.read(el, i, rules, rec);
    if (i % options.step != 0) continue;
    if (kept == m.positions.size()) resize_vertices(m, kept + 1);
    store_vertex(rec, columns, kept++, m);
  }
  resize_vertices(m, kept);
}

void read_faces(const Reporter& r, DataReader& in, const PlyElement& el, bool after_vertex,
                PlyModel& m) {
  const RecordRules rules = face_rules(r, el, after_vertex, m);
  m.faces.reserve(static_cast<std::size_t>(el.fits));
  const long long nv = static_cast<long long>(m.positions.size());
  Record rec;
  for (long long i = 0; i < el.count; ++i) {
    in.read(el, i, rules, rec);
    add_face(in, rec, i, nv, m.faces);
  }
}

}  // namespace

PlyModel parse_ply(const std::string& path, std::string_view bytes,
                   const PlyReadOptions& options) {
  TERVIK_CHECK(options.step >= 1, "parse_ply: the step must be at least 1");
  TERVIK_CHECK(options.step == 1 || options.vertices_only,
               "parse_ply: a step above 1 is for point files only");
  const Reporter r{path, options.error_prefix};
  const PlyHeader h = parse_ply_header(path, bytes, options.error_prefix);
  bool has_vertex = false;
  for (const PlyElement& el : h.elements) has_vertex = has_vertex || el.name == "vertex";
  if (!has_vertex) r.fail_line(h.lines, "no 'element vertex' line in the header");
  if (h.format == PlyFormat::ascii) return parse_ascii_data(r, h, bytes, options);

  PlyModel m;
  m.format = h.format;
  DataReader in(r, h, bytes);
  bool seen_vertex = false;
  Record rec;
  for (const PlyElement& el : h.elements) {
    switch (element_kind(el, options)) {
      case ElementKind::vertex:
        read_vertices(r, in, el, options, m);
        // Later elements of a point file are not read; with none, data after the vertex
        // records is an error below.
        if (options.vertices_only && &el != &h.elements.back()) return m;
        seen_vertex = true;
        break;
      case ElementKind::face: read_faces(r, in, el, seen_vertex, m); break;
      case ElementKind::other: {
        const RecordRules rules = plain_rules(el);
        for (long long i = 0; i < el.count; ++i) in.read(el, i, rules, rec);
      }
    }
  }
  in.mark_trailing();
  if (!in.at_end()) in.fail("unexpected data after the last element");
  return m;
}

PlyModel read_ply(const std::string& path) {
  std::string bytes;
  if (!read_file_bytes(path, bytes)) {
    const std::string problem = input_file_problem(path);
    if (problem.empty() || problem == "not found") throw TervikFileNotFound(path);
    throw TervikFileError(path, "cannot read the file: " + problem);
  }
  return parse_ply(path, bytes, PlyReadOptions());
}

}  // namespace tervik::io
