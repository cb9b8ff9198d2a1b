// PLY headers and records of the point and mesh files the programs write.
#include <bit>
#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <limits>

#include "tervik/exceptions.h"
#include "tervik/ply.h"

namespace tervik::io {
namespace {

const char* format_line(PlyFormat format) {
  return format == PlyFormat::ascii ? "ply\nformat ascii 1.0\n"
                                    : "ply\nformat binary_little_endian 1.0\n";
}

// "property <type> <name>\n" for each name.
void add_properties(std::string& out, const char* type, std::initializer_list<const char*> names) {
  for (const char* name : names) out.append("property ").append(type).append(" ").append(name).append("\n");
}

void put_le(std::string& out, std::uint64_t bits, int bytes) {
  for (int b = 0; b < bytes; ++b) out.push_back(static_cast<char>((bits >> (8 * b)) & 0xff));
}

void put_double(std::string& out, double v) { put_le(out, std::bit_cast<std::uint64_t>(v), 8); }

// Text of the ASCII records. to_chars with a precision writes what printf's "%e" and "%f"
// write in the C locale (digits, rounding, "inf", "nan" and their signs), several times faster.
class Line {
 public:
  // v as "%e" (6 digits after the point), then `sep`.
  Line& e(double v, char sep) {
    return put(std::to_chars(at_, end(), v, std::chars_format::scientific, 6), sep);
  }
  // v as "%f" (6 digits after the point), then `sep`.
  Line& f(double v, char sep) {
    return put(std::to_chars(at_, end(), v, std::chars_format::fixed, 6), sep);
  }
  // v as "%d" or "%lld", then `sep`.
  Line& i(long long v, char sep) { return put(std::to_chars(at_, end(), v), sep); }
  void append_to(std::string& out) const {
    out.append(text_, static_cast<std::size_t>(at_ - text_));
  }

 private:
  char* end() { return text_ + sizeof text_ - 1; }
  Line& put(std::to_chars_result r, char sep) {
    at_ = r.ptr;  // the buffer holds the longest record: three "%f" of 1e308 are 951 bytes
    *at_++ = sep;
    return *this;
  }
  char text_[1100];
  char* at_ = text_;
};

}  // namespace

std::string point_file_header(std::size_t count, bool color, PlyFormat format) {
  std::string out = format_line(format);
  out += "element vertex " + std::to_string(count) + "\n";
  const char* real = format == PlyFormat::ascii ? "float" : "double";
  add_properties(out, real, {"x", "y", "z", "nx", "ny", "nz"});
  if (color) add_properties(out, "uchar", {"red", "green", "blue"});
  out += "end_header\n";
  return out;
}

void append_point_record(std::string& out, const Point3D& pos, const Point3D& normal,
                         const unsigned char* rgb, PlyFormat format) {
  if (format == PlyFormat::ascii) {
    Line line;
    line.e(pos.x, ' ').e(pos.y, ' ').e(pos.z, ' ').e(normal.x, ' ').e(normal.y, ' ');
    if (rgb)
      line.e(normal.z, ' ').i(rgb[0], ' ').i(rgb[1], ' ').i(rgb[2], '\n');
    else
      line.e(normal.z, '\n');
    line.append_to(out);
    return;
  }
  for (double v : {pos.x, pos.y, pos.z, normal.x, normal.y, normal.z}) put_double(out, v);
  if (rgb) out.append(reinterpret_cast<const char*>(rgb), 3);
}

std::string mesh_file_header(std::size_t vertices, std::size_t faces, bool color,
                             PlyFormat format) {
  std::string out = format_line(format);
  out += "element vertex " + std::to_string(vertices) + "\n";
  add_properties(out, format == PlyFormat::ascii ? "float" : "double", {"x", "y", "z"});
  if (color) add_properties(out, "uchar", {"red", "green", "blue"});
  out += "element face " + std::to_string(faces) + "\n";
  out += "property list uint8 int32 vertex_indices\nend_header\n";
  return out;
}

void append_mesh_vertex(std::string& out, const Point3D& p, const unsigned char* rgb,
                        PlyFormat format) {
  if (format == PlyFormat::ascii) {
    Line line;
    line.f(p.x, ' ').f(p.y, ' ');
    if (rgb)
      line.f(p.z, ' ').i(rgb[0], ' ').i(rgb[1], ' ').i(rgb[2], '\n');
    else
      line.f(p.z, '\n');
    line.append_to(out);
    return;
  }
  for (double v : {p.x, p.y, p.z}) put_double(out, v);
  if (rgb) out.append(reinterpret_cast<const char*>(rgb), 3);
}

void append_mesh_face(std::string& out, const Coord3D<long long>& face, PlyFormat format) {
  if (format == PlyFormat::ascii) {
    Line line;
    line.i(3, ' ').i(face.x, ' ').i(face.y, ' ').i(face.z, '\n');
    line.append_to(out);
    return;
  }
  out.push_back(3);
  for (long long v : {face.x, face.y, face.z}) {
    TERVIK_CHECK(v >= 0 && v <= std::numeric_limits<std::int32_t>::max(),
                 "append_mesh_face: vertex index " << v << " does not fit a binary PLY face");
    put_le(out, static_cast<std::uint64_t>(v), 4);
  }
}

}  // namespace tervik::io
