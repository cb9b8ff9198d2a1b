// JSON text for the tools' small JSON files.
#include "tools/common/json.h"

#include <cstdio>

namespace tervik::tools {

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (const unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

}  // namespace tervik::tools
