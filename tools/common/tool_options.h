#pragma once
// The command-line handling every tool shares: parse the options, answer --help, check the
// values, and on any error print one "ERROR: ... (see <tool> --help)" line.
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include <boost/program_options.hpp>

namespace tervik::tools {

// How parse_tool_options reads the command line.
struct ToolCommandLine {
  const boost::program_options::options_description* options = nullptr;  // every option
  // The options --help shows; null: all of `options`.
  const boost::program_options::options_description* shown = nullptr;
  const boost::program_options::positional_options_description* positional = nullptr;
  // Without short options, negative numbers (a box's corners) are not taken for options.
  bool allow_short = true;
};

// Parses argv for the tool `program`. With --help, prints the shown options to standard output
// and returns 0; with --version (every tool lists it beside --help), prints the version line. Otherwise stores and notifies the values, then runs `check` (which validates
// them and builds the file-name templates, throwing on a bad one). Returns nullopt when the tool
// should go on, and 1 after printing "ERROR: <what> (see <program> --help)" when parsing, a
// required option or `check` failed.
std::optional<int> parse_tool_options(const std::string& program, int argc, char** argv,
                                      const ToolCommandLine& command_line,
                                      const std::function<void(const boost::program_options::variables_map&)>& check);

// Adds --quiet: standard output keeps only warnings, errors and the closing summary.
void add_quiet_option(boost::program_options::options_description& options);

// Where a tool writes the lines that --quiet leaves out (progress, per-item lines, timings,
// hints): std::cout, or with `quiet` a stream that discards what is written to it.
std::ostream& progress_output(bool quiet);

}  // namespace tervik::tools
