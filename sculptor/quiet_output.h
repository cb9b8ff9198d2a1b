#pragma once
// The output of --quiet: of the progress lines, only those that report a problem pass.
#include <ostream>
#include <streambuf>
#include <string>

namespace tervik {

// A stream buffer that passes to `out` only the lines that begin with "WARNING" or "ERROR",
// each whole and flushed; every other line is dropped. A last line without its newline is
// judged when the buffer is destroyed.
class ProblemLines : public std::streambuf {
 public:
  explicit ProblemLines(std::ostream& out) : out_(out) {}
  ProblemLines(const ProblemLines&) = delete;
  ProblemLines& operator=(const ProblemLines&) = delete;
  ~ProblemLines() override { end_line(); }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    line_ += traits_type::to_char_type(c);
    if (traits_type::to_char_type(c) == '\n') end_line();
    return c;
  }

 private:
  void end_line() {
    if (line_.rfind("WARNING", 0) == 0 || line_.rfind("ERROR", 0) == 0) out_ << line_ << std::flush;
    line_.clear();
  }

  std::ostream& out_;
  std::string line_;
};

}  // namespace tervik
