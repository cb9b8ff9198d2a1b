#pragma once
// The library's exception family. Every library error derives from BacktracedTervikException;
// the four derived classes are siblings, so catching one does not catch the others.
#include <exception>
#include <sstream>
#include <string>
#include <utility>

namespace tervik {

// Root of the family: one message, returned by what().
class BacktracedTervikException : public std::exception {
 public:
  explicit BacktracedTervikException(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// A general error; the message is kept unchanged.
class TervikError : public BacktracedTervikException {
 public:
  explicit TervikError(const std::string& message) : BacktracedTervikException(message) {}
};

// A file that could not be found or opened: "File <file> not found".
class TervikFileNotFound : public BacktracedTervikException {
 public:
  explicit TervikFileNotFound(const std::string& file)
      : BacktracedTervikException("File " + file + " not found") {}
};

// An error in the contents of a file: "Error in file '<file>': <text>".
class TervikFileError : public BacktracedTervikException {
 public:
  TervikFileError(const std::string& file, const std::string& text)
      : BacktracedTervikException("Error in file '" + file + "': " + text) {}
};

// A point that is not seen by enough views.
class TervikMultiviewVisibility : public BacktracedTervikException {
 public:
  explicit TervikMultiviewVisibility(const std::string& message)
      : BacktracedTervikException(message) {}
};

}  // namespace tervik

// Precondition check: throws TervikError naming the failed expression and a message built
// from the stream arguments, e.g. TERVIK_CHECK(n <= cap, "count " << n << " exceeds " << cap).
#define TERVIK_CHECK(expr, stream_message)                                             \
  do {                                                                                 \
    if (!(expr)) {                                                                     \
      std::ostringstream tervik_check_os_;                                             \
      tervik_check_os_ << stream_message << " (check failed: " #expr ")";              \
      throw ::tervik::TervikError(tervik_check_os_.str());                             \
    }                                                                                  \
  } while (false)
