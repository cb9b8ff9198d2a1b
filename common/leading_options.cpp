#include "common/leading_options.h"

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "tervik/exceptions.h"

namespace tervik {

namespace {

const OptionSpec* find_spec(const std::vector<OptionSpec>& specs, const std::string& name) {
  for (const OptionSpec& s : specs) {
    if (s.name == name) return &s;
  }
  return nullptr;
}

}  // namespace

LeadingOptions parse_leading_options(int argc, const char* const* argv,
                                     const std::vector<OptionSpec>& specs) {
  LeadingOptions result;
  int i = 1;
  while (i < argc) {
    const std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) break;
    std::string name = arg.substr(2);
    std::string value;
    bool inline_value = false;
    if (const std::size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      inline_value = true;
    }
    ++i;
    if (name == "help" && !inline_value) {
      result.help = true;
      continue;
    }
    if (name == "version" && !inline_value) {
      result.version = true;
      continue;
    }
    const OptionSpec* option = find_spec(specs, name);
    if (option == nullptr) throw TervikError("unknown option --" + name);
    if (result.has(name)) throw TervikError("option --" + name + " given twice");
    if (option->value_name.empty()) {
      if (inline_value) throw TervikError("option --" + name + " takes no value");
    } else if (!inline_value) {
      if (i >= argc) throw TervikError("option --" + name + " needs a value " + option->value_name);
      value = argv[i++];
    }
    result.values[name] = value;
  }
  result.first_positional = i;
  return result;
}

std::string options_help(const std::vector<OptionSpec>& specs) {
  std::string text;
  const auto line = [&text](const std::string& head, const std::string& help) {
    std::string padded = "  " + head;
    if (padded.size() < 24) padded.resize(24, ' ');
    else padded += ' ';
    text += padded + help + '\n';
  };
  for (const OptionSpec& s : specs) {
    line("--" + s.name + (s.value_name.empty() ? "" : " " + s.value_name), s.help);
  }
  line("--help", "print this help and exit");
  line("--version", "print the version and exit");
  return text;
}

unsigned parse_thread_count(const std::string& value) {
  errno = 0;
  char* end = nullptr;
  const long long n = std::strtoll(value.c_str(), &end, 10);
  if (value.empty() || end == value.c_str() || *end != '\0' || errno != 0 || n < 0 || n > 4096) {
    throw TervikError("--threads must be an integer from 0 (all cores) to 4096, got '" + value +
                      "'");
  }
  if (n > 0) return static_cast<unsigned>(n);
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? cores : 1;
}

}  // namespace tervik
