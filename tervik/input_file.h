#pragma once
// Checks and limits shared by the readers of input files: why a name cannot be read as a
// regular file, and line reading with a bound on the line length (a file without newlines,
// such as /dev/zero, must not grow a line until memory runs out).
#include <cstddef>
#include <istream>
#include <string>

namespace tervik::io {

// The longest line the line-based readers accept, in bytes.
constexpr std::size_t kMaxLineLength = 64 * 1024;

// Why `path` cannot be read as a regular file: "" when it can; "not found" when nothing is
// there (or a folder on the way is missing); else the reason as a user can act on it: "it is a
// folder", "it is a FIFO, not a regular file", "Permission denied", "File name too long", ...
std::string input_file_problem(const std::string& path);

// The result of read_line.
enum class LineRead { kLine, kEnd, kTooLong };

// Reads the next line of `in` into `line`, without its "\n" (a trailing "\r" is kept). Returns
// kEnd at the end of the input (no characters left), kTooLong once the line exceeds
// `max_length` bytes (the rest of the line is not read).
LineRead read_line(std::istream& in, std::string& line, std::size_t max_length = kMaxLineLength);

}  // namespace tervik::io
