#include "common/camera_ids.h"

#include <climits>
#include <unordered_set>

#include "tervik/exceptions.h"

namespace tervik {

namespace {

std::string trimmed(const std::string& s) {
  const std::size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

[[noreturn]] void fail(const std::string& text, const std::string& why) {
  throw TervikError("--camera-ids '" + text + "': " + why);
}

// A camera number: decimal digits only (no sign), at most INT_MAX.
int camera_number(const std::string& text, const std::string& entry, const std::string& s) {
  if (s.empty()) fail(text, "entry '" + entry + "' is not a camera number or range first-last");
  if (s[0] == '-') fail(text, "negative camera number in '" + entry + "'");
  long long value = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') {
      fail(text, "entry '" + entry + "' is not a camera number or range first-last");
    }
    value = value * 10 + (c - '0');
    if (value > INT_MAX) fail(text, "camera number in '" + entry + "' is too large");
  }
  return static_cast<int>(value);
}

}  // namespace

std::vector<int> parse_camera_ids(const std::string& text) {
  if (trimmed(text).empty()) fail(text, "empty camera list");
  std::vector<int> ids;
  std::unordered_set<int> seen;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    const std::string entry =
        trimmed(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (entry.empty()) fail(text, "empty entry");
    // A '-' after the first character separates a range; a leading '-' is a negative number.
    const std::size_t dash = entry.find('-', 1);
    int first = 0;
    int last = 0;
    if (dash == std::string::npos) {
      first = last = camera_number(text, entry, entry);
    } else {
      first = camera_number(text, entry, trimmed(entry.substr(0, dash)));
      last = camera_number(text, entry, trimmed(entry.substr(dash + 1)));
      if (last < first) fail(text, "reversed range '" + entry + "'");
    }
    if (static_cast<long long>(last) - first + 1 + static_cast<long long>(ids.size()) >
        static_cast<long long>(kMaxCameraIds)) {
      fail(text, "more than " + std::to_string(kMaxCameraIds) + " cameras");
    }
    for (long long id = first; id <= last; ++id) {
      if (!seen.insert(static_cast<int>(id)).second) {
        fail(text, "camera " + std::to_string(id) + " appears twice");
      }
      ids.push_back(static_cast<int>(id));
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return ids;
}

std::string camera_id_label(const std::vector<int>& ids, std::size_t index) {
  if (ids.empty()) return "camera " + std::to_string(index);
  TERVIK_CHECK(index < ids.size(), "camera index " << index << " beyond the " << ids.size()
                                                   << " cameras of --camera-ids");
  return "camera " + std::to_string(ids[index]) + " (entry " + std::to_string(index + 1) +
         " of --camera-ids)";
}

}  // namespace tervik
