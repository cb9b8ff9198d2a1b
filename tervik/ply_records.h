#pragma once
// Internals of the PLY data readers: the record reader shared by the one-pass reader of binary
// data and the reader of ASCII data in pieces (tervik/ply.h is the interface).
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tervik/input_file.h"
#include "tervik/ply.h"
#include "tervik/ply_detail.h"

namespace tervik::io::detail {

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

// "file ends after <index> of the <count> <name> records of its header".
inline std::string ends_early_message(const PlyElement& el, long long index) {
  return "file ends after " + std::to_string(index) + " of the " + std::to_string(el.count) +
         " " + el.name + " records of its header";
}

// "line longer than <limit> bytes".
inline std::string long_line_message() {
  return "line longer than " + std::to_string(kMaxLineLength) + " bytes";
}

// Reads the records of the elements one after the other, from the end of the header on, or
// (ASCII) from any line on: the lines of bytes[pos, end), the first numbered `line` + 1.
class DataReader {
 public:
  DataReader(const Reporter& r, const PlyHeader& h, std::string_view bytes)
      : DataReader(r, h.format, bytes, h.data_offset, h.lines) {}
  DataReader(const Reporter& r, PlyFormat format, std::string_view bytes, std::size_t pos,
             std::size_t line)
      : r_(r), ascii_(format == PlyFormat::ascii), bytes_(bytes), pos_(pos),
        lines_(bytes, pos, line) {}

  // Reads record `i` of `el` into `rec`.
  void read(const PlyElement& el, long long i, const RecordRules& rules, Record& rec) {
    el_ = &el;
    index_ = i;
    rec.values.resize(el.properties.size());
    rec.items.clear();
    if (ascii_) {
      do {
        if (!lines_.next(line_)) r_.fail_line(lines_.number() + 1, ends_early());
        if (line_.size() > kMaxLineLength) r_.fail_line(lines_.number(), long_line_message());
      } while (is_blank_line(line_));
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

  // ASCII: reads the lines left, which are blank, and fails at the first that is too long (the
  // lines before the next record, read as read() would).
  void check_blank_lines() {
    while (lines_.next(line_))
      if (line_.size() > kMaxLineLength) r_.fail_line(lines_.number(), long_line_message());
  }

  // True when nothing but blank lines (ASCII) or no byte at all (binary) is left.
  bool at_end() {
    if (!ascii_) return pos_ == bytes_.size();
    while (lines_.next(line_))
      if (!is_blank_line(line_)) return false;
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
  std::string ends_early() const { return ends_early_message(*el_, index_); }

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
    if (!l.colour) integer_range(type, lowest, highest);
    fail(name_of(l) + " is not an integer from " + std::to_string(lowest) + " to " +
         std::to_string(highest));
  }

  // The next value, of `type`. Colours are integers from 0 to 255 whatever their type.
  double value(PlyType type, const Label& l) {
    const double v = ascii_ ? ascii_value(type, l) : binary_value(type, l);
    if (l.colour ? (v < 0.0 || v > 255.0) : is_integer(type) && !fits(type, v))
      fail_range(l, type);
    return v;
  }
  static bool fits(PlyType type, double v) {
    long long lowest = 0, highest = 0;
    integer_range(type, lowest, highest);
    return v >= static_cast<double>(lowest) && v <= static_cast<double>(highest);
  }

  double ascii_value(PlyType type, const Label& l) {
    const char* end = line_.data() + line_.size();
    while (at_ < end && is_blank(*at_)) ++at_;
    const char* token = at_;
    while (at_ < end && !is_blank(*at_)) ++at_;
    const std::size_t length = static_cast<std::size_t>(at_ - token);
    if (is_integer(type)) {
      const char* digits = token;
      if (length > 0 && *digits == '-' && !l.colour) ++digits;
      long long v = 0;
      const auto [ptr, ec] = std::from_chars(digits, at_, v);
      if (digits == at_ || !(*digits >= '0' && *digits <= '9') || ec != std::errc() ||
          ptr != at_)
        fail_range(l, type);
      return static_cast<double>(digits == token ? v : -v);
    }
    if (length == 0) fail(name_of(l) + " is not a number");
    // from_chars reads the decimal forms as strtod does, to the same correctly rounded double,
    // at a fraction of the cost; whatever it refuses or reads only in part (a leading '+',
    // hexadecimal, values out of range, junk) is left to strtod, which decides as it always has.
    double v = 0.0;
    const auto [ptr, ec] = std::from_chars(token, at_, v);
    if (ec != std::errc() || ptr != at_) v = strtod_token(token, length, l);
    if (!std::isfinite(v)) fail(name_of(l) + " is not a finite number");
    return v;
  }

  // strtod of the whole token, or the "not a number" error.
  double strtod_token(const char* token, std::size_t length, const Label& l) const {
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
    const double v = std::strtod(text, &stop);
    if (stop != text + length) fail(name_of(l) + " is not a number");
    return v;
  }

  double binary_value(PlyType type, const Label& l) {
    const std::size_t size = type_size(type);
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

  const Reporter& r_;
  bool ascii_;
  std::string_view bytes_;
  std::size_t pos_;        // binary: next byte
  std::size_t start_ = 0;  // binary: first byte of the current record
  LineCursor lines_;
  std::string_view line_;
  const char* at_ = nullptr;  // ASCII: next character of line_
  const PlyElement* el_ = nullptr;
  long long index_ = 0;
};

// What the reader does with the records of an element.
enum class ElementKind { vertex, face, other };

// The kind of `el`: faces are read only when the whole file is.
ElementKind element_kind(const PlyElement& el, const PlyReadOptions& options);

// The properties that hold a vertex's position, normal and colour (-1: absent).
struct VertexColumns {
  int x = -1, y = -1, z = -1, nx = -1, ny = -1, nz = -1;
  int rgb[3] = {-1, -1, -1};
};

// Checks that `el` can be read as the vertex element: finds its columns, sets m.has_normals and
// m.has_colors, and returns the rules of its records. Throws naming the header line.
RecordRules vertex_rules(const Reporter& r, const PlyElement& el, const PlyReadOptions& options,
                         PlyModel& m, VertexColumns& columns);

// Checks that `el` can be read as the face element (`after_vertex`: the vertex element came
// first), sets m.has_faces and returns the rules of its records. Throws naming the header line.
RecordRules face_rules(const Reporter& r, const PlyElement& el, bool after_vertex, PlyModel& m);

// The rules of an element that is validated and skipped.
RecordRules plain_rules(const PlyElement& el);

// Writes vertex record `rec` into entry `slot` of m's positions (and normals and colours, when
// the model has them).
void store_vertex(const Record& rec, const VertexColumns& c, std::size_t slot, PlyModel& m);

// Checks face record `rec`, face `i` of the file, against the `vertices` read, and appends its
// triangles (a fan) to `faces`. Fails through `in` at the record.
void add_face(DataReader& in, const Record& rec, long long i, long long vertices,
              std::vector<Coord3D<long long>>& faces);

// Reads the data of an ASCII file, in pieces of about options.piece_bytes on options.threads
// threads, with the result and the messages of reading it line by line.
PlyModel parse_ascii_data(const Reporter& r, const PlyHeader& h, std::string_view bytes,
                          const PlyReadOptions& options);

}  // namespace tervik::io::detail
