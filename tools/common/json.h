#pragma once
// JSON text for the tools' small JSON files (glTF headers, the player's sequence, the scorer's
// report).
#include <string>

namespace tervik::tools {

// `s` as a JSON string, quotes included: only the characters that JSON requires to be escaped
// are (the quote, the backslash and the control characters).
std::string json_string(const std::string& s);

}  // namespace tervik::tools
