// PLY header parsing and the shared pieces of the reader: types, lines, messages.
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>

#include "tervik/exceptions.h"
#include "tervik/input_file.h"
#include "tervik/ply.h"
#include "tervik/ply_detail.h"

namespace tervik::io {

namespace detail {

namespace {

struct TypeName {
  const char* name;
  PlyType type;
};

// Every name a header may use for a type; the first of each pair is the one files write.
constexpr TypeName kTypeNames[] = {
    {"char", PlyType::int8},       {"uchar", PlyType::uint8},    {"short", PlyType::int16},
    {"ushort", PlyType::uint16},   {"int", PlyType::int32},      {"uint", PlyType::uint32},
    {"float", PlyType::float32},   {"double", PlyType::float64}, {"int8", PlyType::int8},
    {"uint8", PlyType::uint8},     {"int16", PlyType::int16},    {"uint16", PlyType::uint16},
    {"int32", PlyType::int32},     {"uint32", PlyType::uint32},  {"float32", PlyType::float32},
    {"float64", PlyType::float64}};

}  // namespace

void Reporter::fail(const std::string& where, const std::string& what) const {
  if (prefix.empty()) throw TervikFileError(path, where + ": " + what);
  throw TervikError(prefix + path + " " + where + ": " + what);
}

void Reporter::fail_line(std::size_t line, const std::string& what) const {
  fail("line " + std::to_string(line), what);
}

bool LineCursor::next(std::string_view& line) {
  if (pos_ >= bytes_.size()) return false;
  const std::size_t end = bytes_.find('\n', pos_);
  const std::size_t stop = end == std::string_view::npos ? bytes_.size() : end;
  line = bytes_.substr(pos_, stop - pos_);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  pos_ = end == std::string_view::npos ? bytes_.size() : end + 1;
  ++number_;
  return true;
}

std::vector<std::string_view> split(std::string_view line) {
  std::vector<std::string_view> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_blank(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !is_blank(line[i])) ++i;
    if (i > start) tokens.push_back(line.substr(start, i - start));
  }
  return tokens;
}

bool is_blank_line(std::string_view line) {
  for (char c : line)
    if (!is_blank(c)) return false;
  return true;
}

bool find_type(std::string_view name, PlyType& type) {
  for (const TypeName& t : kTypeNames) {
    if (name == t.name) {
      type = t.type;
      return true;
    }
  }
  return false;
}

std::size_t type_size(PlyType type) {
  switch (type) {
    case PlyType::int8:
    case PlyType::uint8: return 1;
    case PlyType::int16:
    case PlyType::uint16: return 2;
    case PlyType::int32:
    case PlyType::uint32:
    case PlyType::float32: return 4;
    case PlyType::float64: return 8;
  }
  return 8;
}

bool is_integer(PlyType type) { return type != PlyType::float32 && type != PlyType::float64; }

void integer_range(PlyType type, long long& lowest, long long& highest) {
  switch (type) {
    case PlyType::int8: lowest = -128, highest = 127; return;
    case PlyType::uint8: lowest = 0, highest = 255; return;
    case PlyType::int16: lowest = -32768, highest = 32767; return;
    case PlyType::uint16: lowest = 0, highest = 65535; return;
    case PlyType::int32: lowest = -2147483648LL, highest = 2147483647LL; return;
    default: lowest = 0, highest = 4294967295LL; return;
  }
}

}  // namespace detail

using detail::split;

const char* ply_type_name(PlyType type) {
  for (const detail::TypeName& t : detail::kTypeNames)
    if (t.type == type) return t.name;
  return "?";
}

bool read_file_bytes(const std::string& path, std::string& bytes) {
  bytes.clear();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  // Read in large blocks: the size is a hint only, the file may change while it is read.
  constexpr std::size_t kBlock = 1 << 20;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (!ec) bytes.reserve(static_cast<std::size_t>(size) + kBlock);
  std::size_t have = 0;
  for (;;) {
    bytes.resize(have + kBlock);
    in.read(bytes.data() + have, static_cast<std::streamsize>(kBlock));
    have += static_cast<std::size_t>(in.gcount());
    if (!in) break;
  }
  bytes.resize(have);
  if (in.bad()) {
    bytes.clear();
    return false;
  }
  return true;
}

namespace {

// Reads "property <type> <name>" or "property list <count type> <item type> <name>".
PlyProperty parse_property(const detail::Reporter& r, const std::vector<std::string_view>& t,
                           std::string_view line, std::size_t n) {
  PlyProperty p;
  p.line = n;
  std::string_view type;
  if (t.size() == 5 && t[1] == "list") {
    p.is_list = true;
    p.name = std::string(t[4]);
    if (!detail::find_type(t[2], p.count_type))
      r.fail_line(n, "unknown type '" + std::string(t[2]) + "' of list " + p.name);
    if (!detail::is_integer(p.count_type))
      r.fail_line(n, "the length of list " + p.name + " must have an integer type, not '" +
                         std::string(t[2]) + "'");
    type = t[3];
  } else if (t.size() == 3) {
    p.name = std::string(t[2]);
    type = t[1];
  } else {
    r.fail_line(n, "malformed property line '" + std::string(line) + "'");
  }
  if (!detail::find_type(type, p.type))
    r.fail_line(n, "unknown type '" + std::string(type) + "' of property " + p.name);
  return p;
}

// Sets every element's `fits`: the records that the `room` bytes after the header can hold at
// most, where an ASCII value takes at least two bytes (a character and a separator) and a
// binary value its size. Readers reserve no more than that, whatever the count says.
void cap_counts(const detail::Reporter& r, PlyHeader& h, unsigned long long room) {
  const bool ascii = h.format == PlyFormat::ascii;
  if (ascii) ++room;  // the last line may lack its line end
  for (PlyElement& el : h.elements) {
    if (el.count > 0 && el.properties.empty())
      r.fail_line(el.line, "element '" + el.name + "' has records but no properties");
    unsigned long long least = 0;
    for (const PlyProperty& p : el.properties)
      least += ascii ? 2 : detail::type_size(p.is_list ? p.count_type : p.type);
    const unsigned long long most = least ? room / least : 0;
    el.fits = static_cast<long long>(std::min<unsigned long long>(el.count, most));
  }
}

}  // namespace

PlyHeader parse_ply_header(const std::string& path, std::string_view bytes,
                           const std::string& error_prefix) {
  const detail::Reporter r{path, error_prefix};
  detail::LineCursor in(bytes, 0, 0);
  std::string_view line;
  if (!in.next(line) || split(line) != std::vector<std::string_view>{"ply"})
    r.fail_line(1, "not a PLY file (the first line must be 'ply')");
  PlyHeader h;
  bool format = false;
  for (;;) {
    if (!in.next(line)) r.fail_line(in.number() + 1, "file ends inside the header");
    if (line.size() > kMaxLineLength)
      r.fail_line(in.number(), "line longer than " + std::to_string(kMaxLineLength) + " bytes");
    const std::vector<std::string_view> t = split(line);
    const std::size_t n = in.number();
    if (t.empty() || t[0] == "comment" || t[0] == "obj_info") continue;
    if (t[0] == "end_header" && t.size() == 1) break;
    if (t[0] == "format") {
      if (format) r.fail_line(n, "second 'format' line");
      if (t.size() != 3 || t[2] != "1.0" || (t[1] != "ascii" && t[1] != "binary_little_endian"))
        r.fail_line(n, "unsupported format '" + std::string(line) +
                           "' (expected 'format ascii 1.0' or 'format binary_little_endian 1.0')");
      h.format = t[1] == "ascii" ? PlyFormat::ascii : PlyFormat::binary_little_endian;
      format = true;
    } else if (t[0] == "element") {
      if (!format) r.fail_line(n, "element before the 'format' line");
      if (t.size() != 3)
        r.fail_line(n, "malformed element line '" + std::string(line) +
                           "' (expected 'element <name> <count>')");
      PlyElement el;
      el.name = std::string(t[1]);
      el.line = n;
      for (const PlyElement& other : h.elements)
        if (other.name == el.name) r.fail_line(n, "second element '" + el.name + "'");
      const char* end = t[2].data() + t[2].size();
      const auto [ptr, ec] = std::from_chars(t[2].data(), end, el.count);
      if (ec != std::errc() || ptr != end || el.count < 0)
        r.fail_line(n, "invalid " + el.name + " count '" + std::string(t[2]) + "'");
      h.elements.push_back(std::move(el));
    } else if (t[0] == "property") {
      if (h.elements.empty()) r.fail_line(n, "property before the first element");
      PlyElement& el = h.elements.back();
      PlyProperty p = parse_property(r, t, line, n);
      for (const PlyProperty& other : el.properties)
        if (other.name == p.name)
          r.fail_line(n, "second property " + p.name + " in element '" + el.name + "'");
      el.properties.push_back(std::move(p));
    } else {
      r.fail_line(n, "unexpected header line '" + std::string(line) + "'");
    }
  }
  if (!format) r.fail_line(in.number(), "no 'format' line in the header");
  h.data_offset = in.position();
  h.lines = in.number();
  cap_counts(r, h, bytes.size() - h.data_offset);
  return h;
}

}  // namespace tervik::io
