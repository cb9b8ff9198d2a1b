#pragma once
// Options that come before a program's positional arguments: "--name", "--name VALUE" or
// "--name=VALUE". Parsing stops at the first argument that does not begin with "--", or after
// a lone "--"; everything from there on is positional. A run without options therefore sees
// exactly the positional arguments it always saw.
#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace tervik {

// One accepted option. `value_name` is empty for a flag without value.
struct OptionSpec {
  std::string name;        // without the leading "--"
  std::string value_name;  // e.g. "N"; empty for a flag
  std::string help;        // one line for --help
};

// The options given and where the positional arguments begin.
struct LeadingOptions {
  std::map<std::string, std::string> values;  // name -> value ("" for a flag)
  int first_positional = 1;                     // index into argv
  bool help = false;                            // --help was given
  bool version = false;                         // --version was given

  bool has(const std::string& name) const { return values.count(name) != 0; }
};

// Parses the options at the start of argv[1..argc). "--help" and "--version" are always
// accepted. Throws TervikError naming the option for an unknown option, a missing value, a value
// given to a flag, or an option given twice.
LeadingOptions parse_leading_options(int argc, const char* const* argv,
                                     const std::vector<OptionSpec>& specs);

// The option list for --help: one line per option, "--help" and "--version" included, each
// ending in '\n'.
std::string options_help(const std::vector<OptionSpec>& specs);

// Parses the value of --threads: an integer >= 0, where 0 means every core of the machine.
// Returns the number of threads to use (at least 1). Throws TervikError for anything else.
unsigned parse_thread_count(const std::string& value);

}  // namespace tervik
