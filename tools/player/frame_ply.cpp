#include "tools/player/frame_ply.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>

#include <sys/stat.h>

#include "tervik/input_file.h"
#include "tervik/ply.h"
#include "tools/player/frames.h"

namespace tervik::player {

namespace {

// Blanks between values, as the PLY reader counts them.
inline bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Exact powers of ten as doubles (10^22 is the largest that a double holds exactly).
constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                              1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                              1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// True where a value may end: a blank, a line feed or the end of the data.
inline bool ends_value(const char* p, const char* end) {
  return p == end || is_blank(*p) || *p == '\n';
}

// Reads the decimal number at `p` (see parse_decimal), which must end at a blank, a line feed
// or `end`; returns the end of it, or nullptr.
const char* decimal(const char* const start, const char* const end, double& v) {
  const char* p = start;
  const bool negative = p < end && *p == '-';
  if (negative) ++p;
  // All the digits as an integer w (exact up to 19 of them), and the power of ten that
  // scales it.
  std::uint64_t w = 0;
  int power = 0;
  const char* const first = p;
  for (; p < end && is_digit(*p); ++p) w = 10 * w + static_cast<std::uint64_t>(*p - '0');
  std::ptrdiff_t digits = p - first;
  if (p < end && *p == '.') {
    const char* const fraction = ++p;
    for (; p < end && is_digit(*p); ++p) w = 10 * w + static_cast<std::uint64_t>(*p - '0');
    power = -static_cast<int>(std::min<std::ptrdiff_t>(p - fraction, 1000));
    digits += p - fraction;
  }
  if (digits == 0) return nullptr;
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    const bool down = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+')) ++p;
    if (p == end || !is_digit(*p)) return nullptr;
    int e = 0;
    for (; p < end && is_digit(*p); ++p) e = std::min(10 * e + (*p - '0'), 100000);
    power += down ? -e : e;
  }
  if (!ends_value(p, end)) return nullptr;
  if (digits <= 19 && w <= (std::uint64_t{1} << 53) && power >= -22 && power <= 22) {
    // Both operands exact: the one rounding of the product or quotient is the correct one.
    const double m = static_cast<double>(w);
    v = power < 0 ? m / kPowers[-power] : m * kPowers[power];
    if (negative) v = -v;
    return p;
  }
  const auto [stop, ec] = std::from_chars(start, p, v);
  return ec == std::errc() && stop == p ? p : nullptr;
}

// The data of an ASCII file, read value by value; every read returns false at anything that
// the fast path leaves to the full reader.
class Cursor {
 public:
  Cursor(const char* at, const char* end) : at_(at), end_(end), line_(at) {}

  // The next value as a decimal real (see parse_decimal).
  bool real(double& v) {
    skip_blanks();
    const char* const p = decimal(at_, end_, v);
    if (!p) return false;
    at_ = p;
    return true;
  }

  // The next value as an unsigned decimal integer of at most `max_digits` digits and at most
  // `highest`.
  bool integer(std::uint64_t highest, int max_digits, std::uint64_t& v) {
    skip_blanks();
    const char* p = at_;
    const char* const stop = p + std::min<std::ptrdiff_t>(max_digits, end_ - p);
    v = 0;
    for (; p < stop && is_digit(*p); ++p) v = 10 * v + static_cast<std::uint64_t>(*p - '0');
    if (p == at_ || !ends_value(p, end_) || v > highest) return false;
    at_ = p;
    return true;
  }

  // The end of a record: blanks, then a line feed or the end of the data.
  bool end_record() {
    while (at_ < end_ && is_blank(*at_)) ++at_;
    if (at_ < end_ && *at_ != '\n') return false;
    if (static_cast<std::size_t>(at_ - line_) > io::kMaxLineLength) return false;
    if (at_ < end_) ++at_;
    line_ = at_;
    return true;
  }

  // True when only blanks and line feeds are left.
  bool at_end() const {
    for (const char* p = at_; p < end_; ++p)
      if (!is_blank(*p) && *p != '\n') return false;
    return true;
  }

 private:
  void skip_blanks() {
    while (at_ < end_ && is_blank(*at_)) ++at_;
  }

  const char* at_;
  const char* end_;
  const char* line_;  // first character of the current line
};

// What each vertex property holds: a coordinate of the position (0-2), of the normal (3-5), or
// a colour channel (6-8).
std::optional<std::vector<int>> vertex_layout(const io::PlyElement& el, bool& normals,
                                              bool& colours) {
  static const char* const kNames[] = {"x", "y", "z", "nx", "ny", "nz", "red", "green", "blue"};
  std::vector<int> slots;
  bool seen[9] = {};
  for (const io::PlyProperty& p : el.properties) {
    int slot = 0;
    while (slot < 9 && p.name != kNames[slot]) ++slot;
    if (slot == 9 || seen[slot] || p.is_list) return std::nullopt;
    const bool real = p.type == io::PlyType::float32 || p.type == io::PlyType::float64;
    if ((slot < 6) != real || (slot >= 6 && p.type != io::PlyType::uint8)) return std::nullopt;
    seen[slot] = true;
    slots.push_back(slot);
  }
  auto all = [&](int from) { return seen[from] && seen[from + 1] && seen[from + 2]; };
  auto none = [&](int from) { return !seen[from] && !seen[from + 1] && !seen[from + 2]; };
  if (!all(0) || !(all(3) || none(3)) || !(all(6) || none(6))) return std::nullopt;
  normals = all(3);
  colours = all(6);
  return slots;
}

// The face element's one property, a list "uchar int" (or uint) of vertex indices.
bool face_layout(const io::PlyElement& el) {
  if (el.name != "face" || el.properties.size() != 1) return false;
  const io::PlyProperty& p = el.properties[0];
  return p.is_list && (p.name == "vertex_indices" || p.name == "vertex_index") &&
         p.count_type == io::PlyType::uint8 &&
         (p.type == io::PlyType::int32 || p.type == io::PlyType::uint32);
}

}  // namespace

bool parse_decimal(std::string_view token, double& v) {
  const char* const end = token.data() + token.size();
  return !token.empty() && decimal(token.data(), end, v) == end;
}

bool parse_frame_ply_fast(std::string_view bytes, tools::GltfMesh& mesh) {
  io::PlyHeader h;
  try {
    h = io::parse_ply_header("", bytes, "");
  } catch (const std::exception&) {
    return false;
  }
  if (h.format != io::PlyFormat::ascii || h.elements.empty() || h.elements.size() > 2 ||
      h.elements[0].name != "vertex" || (h.elements.size() == 2 && !face_layout(h.elements[1])))
    return false;
  const io::PlyElement& vertex = h.elements[0];
  bool normals = false, colours = false;
  const auto slots = vertex_layout(vertex, normals, colours);
  if (!slots) return false;

  mesh = tools::GltfMesh();
  if (vertex.fits < vertex.count) return false;
  const std::size_t n = static_cast<std::size_t>(vertex.count);
  mesh.positions.resize(3 * n);
  if (normals) mesh.normals.resize(3 * n);
  if (colours) mesh.colours.resize(3 * n);
  float* const targets[3] = {mesh.positions.data(), mesh.normals.data(), nullptr};
  Cursor in(bytes.data() + h.data_offset, bytes.data() + bytes.size());
  for (std::size_t i = 0; i < n; ++i) {
    for (const int slot : *slots) {
      if (slot < 6) {
        double v;
        if (!in.real(v) || !std::isfinite(v)) return false;
        targets[slot / 3][3 * i + slot % 3] = static_cast<float>(v);
      } else {
        std::uint64_t v;
        if (!in.integer(255, 3, v)) return false;
        mesh.colours[3 * i + slot - 6] = static_cast<std::uint8_t>(v);
      }
    }
    if (!in.end_record()) return false;
  }

  if (h.elements.size() == 2) {
    const io::PlyElement& face = h.elements[1];
    if (face.fits < face.count) return false;
    const std::uint64_t last = std::min<std::uint64_t>(
        n - 1, static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()));
    mesh.indices.reserve(3 * static_cast<std::size_t>(face.count));
    for (long long f = 0; f < face.count; ++f) {
      std::uint64_t corners, first, previous, next;
      if (n == 0 || !in.integer(255, 3, corners) || corners < 3 || !in.integer(last, 10, first) ||
          !in.integer(last, 10, previous))
        return false;
      for (std::uint64_t k = 2; k < corners; ++k) {
        if (!in.integer(last, 10, next)) return false;
        mesh.indices.insert(mesh.indices.end(), {static_cast<std::uint32_t>(first),
                                                 static_cast<std::uint32_t>(previous),
                                                 static_cast<std::uint32_t>(next)});
        previous = next;
      }
      if (!in.end_record()) return false;
    }
  }
  return in.at_end();
}

tools::GltfMesh read_frame_ply(const std::string& path) {
  // The whole file in one read, into storage that is not cleared first.
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    struct stat st {};
    if (::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode)) {
      const std::size_t expected = static_cast<std::size_t>(st.st_size);
      bytes.reset(new char[expected + 1]);
      size = std::fread(bytes.get(), 1, expected + 1, f);
      // A file that changed size while read, or an error: the reader reads it again.
      if (size != expected || std::ferror(f)) bytes.reset();
    }
    std::fclose(f);
  }
  if (!bytes) return gltf_from_ply(io::read_ply(path));
  const std::string_view view(bytes.get(), size);
  tools::GltfMesh mesh;
  if (parse_frame_ply_fast(view, mesh)) return mesh;
  // Everything the fast path does not read, and the messages of damaged files.
  return gltf_from_ply(io::parse_ply(path, view, io::PlyReadOptions()));
}

}  // namespace tervik::player
