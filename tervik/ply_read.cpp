// PLY data reading: records of ASCII and binary little-endian files into a PlyModel.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tervik/exceptions.h"
#include "tervik/input_file.h"
#include "tervik/ply.h"
#include "tervik/ply_detail.h"

namespace tervik::io {
namespace {

using detail::is_blank;

// The values of one record: one per property (a list's length for a list), and the items of
// one chosen list.
struct Record {
  std::vector<double> values;
  std::vector<long long> items;
};

// How the values of an element are named in messages and checked: colour[k] is 1, 2, 3 for the
// red, green and blue property (integers 0 to 255), 0 otherwise; `list` is the property whose
// items are kept, -1 for none.
struct RecordRules {
  std::vector<int> colour;
  int list = -1;
};

// Reads the records of the elements one after the other, from the end of the header on.
class DataReader {
 public:
  DataReader(const detail::Reporter& r, const PlyHeader& h, std::string_view bytes)
      : r_(r), ascii_(h.format == PlyFormat::ascii), bytes_(bytes), pos_(h.data_offset),
        lines_(bytes, h.data_offset, h.lines) {}

  // Reads record `i` of `el` into `rec`.
  void read(const PlyElement& el, long long i, const RecordRules& rules, Record& rec) {
    el_ = &el;
    index_ = i;
    rec.values.resize(el.properties.size());
    rec.items.clear();
    if (ascii_) {
      do {
        if (!lines_.next(line_)) r_.fail_line(lines_.number() + 1, ends_early());
        if (line_.size() > kMaxLineLength)
          r_.fail_line(lines_.number(),
                       "line longer than " + std::to_string(kMaxLineLength) + " bytes");
      } while (detail::is_blank_line(line_));
      at_ = line_.data();
    } else {
      start_ = pos_;
    }
    long long k = 0;  // values read so far
    for (std::size_t p = 0; p < el.properties.size(); ++p) {
      const PlyProperty& prop = el.properties[p];
      if (!prop.is_list) {
        rec.values[p] = value(prop.type, Label{rules.colour[p], ++k});
        continue;
      }
      const double n = value(prop.count_type, Label{0, ++k, &prop});
      if (n < 0) fail("the length of list " + prop.name + " is negative");
      rec.values[p] = n;
      for (long long m = 0; m < static_cast<long long>(n); ++m) {
        const double item = value(prop.type, Label{0, ++k, &prop, m});
        if (static_cast<int>(p) == rules.list) rec.items.push_back(static_cast<long long>(item));
      }
    }
    if (ascii_) {
      const char* end = line_.data() + line_.size();
      while (at_ < end && is_blank(*at_)) ++at_;
      if (at_ != end)
        fail("unexpected text after the " + std::to_string(k) + " values of a " + el.name +
             " record");
    }
  }

  // True when nothing but blank lines (ASCII) or no byte at all (binary) is left.
  bool at_end() {
    if (!ascii_) return pos_ == bytes_.size();
    while (lines_.next(line_))
      if (!detail::is_blank_line(line_)) return false;
    return true;
  }

  // Fails at the record just read, or (after at_end) at the unexpected data.
  [[noreturn]] void fail(const std::string& what) const {
    if (ascii_) r_.fail_line(lines_.number(), what);
    const std::string name = el_ ? " (" + el_->name + " " + std::to_string(index_) + ")" : "";
    r_.fail("byte " + std::to_string(start_) + name, what);
  }
  // Makes fail() name the first byte after the last record rather than a record.
  void mark_trailing() {
    el_ = nullptr;
    start_ = pos_;
  }

 private:
  std::string ends_early() const {
    return "file ends after " + std::to_string(index_) + " of the " +
           std::to_string(el_->count) + " " + el_->name + " records of its header";
  }

  // Names a value in messages: the list item `item` (from 0) of list `list`, the length of that
  // list when `item` is -1, else colour value `colour` or value `k` of the record.
  struct Label {
    int colour = 0;
    long long k = 0;
    const PlyProperty* list = nullptr;
    long long item = -1;
  };
  static std::string name_of(const Label& l) {
    if (l.list && l.item < 0) return "the length of list " + l.list->name;
    if (l.list) return "item " + std::to_string(l.item + 1) + " of list " + l.list->name;
    if (l.colour) return "colour value " + std::to_string(l.colour);
    return "value " + std::to_string(l.k);
  }
  [[noreturn]] void fail_range(const Label& l, PlyType type) const {
    long long lowest = 0, highest = 255;
    if (!l.colour) detail::integer_range(type, lowest, highest);
    fail(name_of(l) + " is not an integer from " + std::to_string(lowest) + " to " +
         std::to_string(highest));
  }

  // The next value, of `type`. Colours are integers from 0 to 255 whatever their type.
  double value(PlyType type, const Label& l) {
    const double v = ascii_ ? ascii_value(type, l) : binary_value(type, l);
    if (l.colour ? (v < 0.0 || v > 255.0) : detail::is_integer(type) && !fits(type, v))
      fail_range(l, type);
    return v;
  }
  static bool fits(PlyType type, double v) {
    long long lowest = 0, highest = 0;
    detail::integer_range(type, lowest, highest);
    return v >= static_cast<double>(lowest) && v <= static_cast<double>(highest);
  }

  double ascii_value(PlyType type, const Label& l) {
    const char* end = line_.data() + line_.size();
    while (at_ < end && is_blank(*at_)) ++at_;
    const char* token = at_;
    while (at_ < end && !is_blank(*at_)) ++at_;
    const std::size_t length = static_cast<std::size_t>(at_ - token);
    if (detail::is_integer(type)) {
      const char* digits = token;
      if (length > 0 && *digits == '-' && !l.colour) ++digits;
      long long v = 0;
      const auto [ptr, ec] = std::from_chars(digits, at_, v);
      if (digits == at_ || !(*digits >= '0' && *digits <= '9') || ec != std::errc() ||
          ptr != at_)
        fail_range(l, type);
      return static_cast<double>(digits == token ? v : -v);
    }
    // strtod needs a terminated copy: a line inside the buffer is not terminated.
    char small[64];
    std::string large;
    char* text = small;
    if (length < sizeof small) {
      std::memcpy(small, token, length);
      small[length] = '\0';
    } else {
      large.assign(token, length);
      text = large.data();
    }
    char* stop = nullptr;
    const double v = length == 0 ? 0.0 : std::strtod(text, &stop);
    if (length == 0 || stop != text + length) fail(name_of(l) + " is not a number");
    if (!std::isfinite(v)) fail(name_of(l) + " is not a finite number");
    return v;
  }

  double binary_value(PlyType type, const Label& l) {
    const std::size_t size = detail::type_size(type);
    if (bytes_.size() - pos_ < size) {
      start_ = pos_;
      fail(ends_early());
    }
    std::uint64_t u = 0;
    for (std::size_t b = 0; b < size; ++b)
      u |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes_[pos_ + b])) << (8 * b);
    pos_ += size;
    switch (type) {
      case PlyType::int8: return static_cast<std::int8_t>(u);
      case PlyType::int16: return static_cast<std::int16_t>(u);
      case PlyType::int32: return static_cast<std::int32_t>(u);
      case PlyType::uint8:
      case PlyType::uint16:
      case PlyType::uint32: return static_cast<double>(u);
      case PlyType::float32:
      case PlyType::float64: break;
    }
    const double v = type == PlyType::float32
                         ? static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(u)))
                         : std::bit_cast<double>(u);
    if (!std::isfinite(v)) fail(name_of(l) + " is not a finite number");
    return v;
  }

  const detail::Reporter& r_;
  bool ascii_;
  std::string_view bytes_;
  std::size_t pos_;        // binary: next byte
  std::size_t start_ = 0;  // binary: first byte of the current record
  detail::LineCursor lines_;
  std::string_view line_;
  const char* at_ = nullptr;  // ASCII: next character of line_
  const PlyElement* el_ = nullptr;
  long long index_ = 0;
};

int find(const PlyElement& el, const char* name) {
  for (std::size_t i = 0; i < el.properties.size(); ++i)
    if (el.properties[i].name == name && !el.properties[i].is_list) return static_cast<int>(i);
  return -1;
}

void read_vertices(const detail::Reporter& r, DataReader& in, const PlyElement& el,
                   const PlyReadOptions& options, PlyModel& m) {
  const int x = find(el, "x"), y = find(el, "y"), z = find(el, "z");
  const int nx = find(el, "nx"), ny = find(el, "ny"), nz = find(el, "nz");
  const int rgb[3] = {find(el, "red"), find(el, "green"), find(el, "blue")};
  m.has_normals = nx >= 0 && ny >= 0 && nz >= 0;
  m.has_colors = rgb[0] >= 0 && rgb[1] >= 0 && rgb[2] >= 0;
  if (options.require_normals && (x < 0 || y < 0 || z < 0 || !m.has_normals))
    r.fail_line(el.line, "the vertex element lacks one of the properties x, y, z, nx, ny, nz");
  if (x < 0 || y < 0 || z < 0)
    r.fail_line(el.line, "the vertex element lacks one of the properties x, y, z");
  RecordRules rules;
  rules.colour.assign(el.properties.size(), 0);
  for (int c = 0; c < 3 && m.has_colors; ++c) {
    const PlyProperty& p = el.properties[rgb[c]];
    if (!detail::is_integer(p.type))
      r.fail_line(p.line, "unsupported type '" + std::string(ply_type_name(p.type)) +
                              "' of property " + p.name);
    rules.colour[rgb[c]] = c + 1;
  }
  const std::size_t kept = static_cast<std::size_t>(el.fits / options.step + 1);
  m.positions.reserve(kept);
  if (m.has_normals) m.normals.reserve(kept);
  if (m.has_colors) m.colors.reserve(kept);
  Record rec;
  for (long long i = 0; i < el.count; ++i) {
    in.read(el, i, rules, rec);
    if (i % options.step != 0) continue;
    const std::vector<double>& v = rec.values;
    m.positions.emplace_back(v[x], v[y], v[z]);
    if (m.has_normals) m.normals.emplace_back(v[nx], v[ny], v[nz]);
    if (m.has_colors)
      m.colors.emplace_back(static_cast<unsigned char>(v[rgb[0]]),
                            static_cast<unsigned char>(v[rgb[1]]),
                            static_cast<unsigned char>(v[rgb[2]]));
  }
}

void read_faces(const detail::Reporter& r, DataReader& in, const PlyElement& el, PlyModel& m) {
  RecordRules rules;
  rules.colour.assign(el.properties.size(), 0);
  for (std::size_t p = 0; p < el.properties.size(); ++p) {
    const PlyProperty& prop = el.properties[p];
    if (prop.is_list && (prop.name == "vertex_indices" || prop.name == "vertex_index")) {
      if (!detail::is_integer(prop.type))
        r.fail_line(prop.line, "the items of list " + prop.name + " must have an integer type");
      rules.list = static_cast<int>(p);
    }
  }
  if (rules.list < 0)
    r.fail_line(el.line, "the face element lacks the list property vertex_indices");
  m.has_faces = true;
  m.faces.reserve(static_cast<std::size_t>(el.fits));
  const long long nv = static_cast<long long>(m.positions.size());
  Record rec;
  for (long long i = 0; i < el.count; ++i) {
    in.read(el, i, rules, rec);
    const std::vector<long long>& idx = rec.items;
    if (idx.size() < 3) in.fail("face " + std::to_string(i) + " has fewer than 3 corners");
    for (long long v : idx)
      if (v < 0 || v >= nv)
        in.fail("face " + std::to_string(i) + " uses vertex " + std::to_string(v) +
                ", but there are " + std::to_string(nv) + " vertices");
    for (std::size_t j = 1; j + 1 < idx.size(); ++j)
      m.faces.emplace_back(idx[0], idx[j], idx[j + 1]);
  }
}

}  // namespace

PlyModel parse_ply(const std::string& path, std::string_view bytes,
                   const PlyReadOptions& options) {
  TERVIK_CHECK(options.step >= 1, "parse_ply: the step must be at least 1");
  TERVIK_CHECK(options.step == 1 || options.vertices_only,
               "parse_ply: a step above 1 is for point files only");
  const detail::Reporter r{path, options.error_prefix};
  const PlyHeader h = parse_ply_header(path, bytes, options.error_prefix);
  bool has_vertex = false;
  for (const PlyElement& el : h.elements) has_vertex = has_vertex || el.name == "vertex";
  if (!has_vertex) r.fail_line(h.lines, "no 'element vertex' line in the header");

  PlyModel m;
  m.format = h.format;
  DataReader in(r, h, bytes);
  bool seen_vertex = false;
  Record rec;
  for (const PlyElement& el : h.elements) {
    if (el.name == "vertex") {
      read_vertices(r, in, el, options, m);
      if (options.vertices_only) return m;
      seen_vertex = true;
    } else if (el.name == "face" && !options.vertices_only) {
      if (!seen_vertex) r.fail_line(el.line, "face element before the vertex element");
      read_faces(r, in, el, m);
    } else {
      RecordRules rules;
      rules.colour.assign(el.properties.size(), 0);
      for (long long i = 0; i < el.count; ++i) in.read(el, i, rules, rec);
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
