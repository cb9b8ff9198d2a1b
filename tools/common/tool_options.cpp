// The tools' shared command-line handling.
#include "tools/common/tool_options.h"

#include <exception>
#include <iostream>

#include "common/version.h"

namespace po = boost::program_options;

namespace tervik::tools {

std::optional<int> parse_tool_options(const std::string& program, int argc, char** argv,
                                      const ToolCommandLine& command_line,
                                      const std::function<void(const po::variables_map&)>& check) {
  try {
    po::command_line_parser parser(argc, argv);
    parser.options(*command_line.options);
    if (command_line.positional) parser.positional(*command_line.positional);
    if (!command_line.allow_short)
      parser.style(po::command_line_style::unix_style ^ po::command_line_style::allow_short);
    po::variables_map vm;
    po::store(parser.run(), vm);
    if (vm.count("help")) {
      std::cout << (command_line.shown ? *command_line.shown : *command_line.options) << std::endl;
      return 0;
    }
    if (vm.count("version")) {
      std::cout << version_line(program) << std::endl;
      return 0;
    }
    po::notify(vm);
    if (check) check(vm);
  } catch (const std::exception& e) {
    std::cout << "ERROR: " << e.what() << " (see " << program << " --help)" << std::endl;
    return 1;
  }
  return std::nullopt;
}

void add_quiet_option(po::options_description& options) {
  options.add_options()("quiet", "print only warnings, errors and the closing summary");
}

std::ostream& progress_output(bool quiet) {
  // A stream without a buffer sets its bad bit at the first write and drops everything.
  static std::ostream discard(nullptr);
  return quiet ? discard : std::cout;
}

}  // namespace tervik::tools
