#pragma once
// The version every program prints for --version.
#include <string>

namespace tervik {

// The project's version and, for a build from a git checkout, the revision it was built from,
// e.g. "0.1, git 1995a85ffdcc" ("-dirty" follows when tracked files had been changed).
const char* version_text();

// The line of `program --version`: "sculptor (tervik 0.1, git 1995a85ffdcc)".
inline std::string version_line(const std::string& program) {
  return program + " (tervik " + version_text() + ")";
}

}  // namespace tervik
