#pragma once
// Internals shared by the PLY header parser and the data reader (tervik/ply.h is the interface).
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tervik/ply.h"

namespace tervik::io::detail {

// Throws the reader's errors in the form described in tervik/ply.h.
struct Reporter {
  const std::string& path;
  const std::string& prefix;

  // Throws "<prefix><path> <where>: <what>".
  [[noreturn]] void fail(const std::string& where, const std::string& what) const;
  // The same with <where> = "line <line>".
  [[noreturn]] void fail_line(std::size_t line, const std::string& what) const;
};

// The lines of a byte range, counted on from `line`; a trailing carriage return is dropped.
// Works on any part of a buffer, so that ranges of lines can be parsed independently.
class LineCursor {
 public:
  LineCursor(std::string_view bytes, std::size_t pos, std::size_t line)
      : bytes_(bytes), pos_(pos), number_(line) {}
  // The next line into `line`; false at the end of the bytes.
  bool next(std::string_view& line);
  // Number of the last line returned (0 before the first).
  std::size_t number() const { return number_; }
  // Offset of the first byte after the last line returned.
  std::size_t position() const { return pos_; }

 private:
  std::string_view bytes_;
  std::size_t pos_;
  std::size_t number_;
};

// Blanks that separate values: space, tab, carriage return, form feed, vertical tab.
inline bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}
// True for a line of blanks only (or an empty one).
bool is_blank_line(std::string_view line);
// The blank-separated words of a line.
std::vector<std::string_view> split(std::string_view line);

// The type of a header type name (either spelling); false for an unknown name.
bool find_type(std::string_view name, PlyType& type);
// Bytes of one binary value.
std::size_t type_size(PlyType type);
// True for the integer types, false for float and double.
bool is_integer(PlyType type);
// The values an integer type holds.
void integer_range(PlyType type, long long& lowest, long long& highest);

}  // namespace tervik::io::detail
