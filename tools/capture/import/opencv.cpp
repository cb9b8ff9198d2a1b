// Importer of OpenCV FileStorage calibration files, YAML (through yaml-cpp) or XML (through
// Boost.PropertyTree).
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string_view>

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <yaml-cpp/yaml.h>

#include "tervik/exceptions.h"
#include "tervik/multiview_auxiliar.h"
#include "tools/capture/import/camera_import.h"
#include "tools/capture/import/import_util.h"

namespace tervik::calibration {
namespace {

// The top-level entries that a camera is built from; every other entry is skipped unread.
const char* const kNeeded[] = {"camera_matrix", "K", "R", "rvec", "T", "tvec", "image_width",
                               "image_height", "distortion_coefficients", "D"};

bool needed(const std::string& name) {
  for (const char* n : kNeeded)
    if (name == n) return true;
  return false;
}

// The most numbers a needed entry may expand to (a camera needs at most 14), the deepest
// nesting of its sequences, and the largest text of one needed entry.
constexpr std::size_t kMaxEntryNumbers = 64;
constexpr int kMaxEntryDepth = 8;
constexpr std::size_t kMaxEntryBytes = 64 * 1024;
// Elements deeper than this refuse an XML file before it is parsed (the parser recurses once
// per level); a FileStorage file nests three or four levels.
constexpr int kMaxXmlDepth = 64;

// One top-level entry of a FileStorage file: its text and, when it holds numbers, those numbers
// in row-major order. A matrix's declared rows and cols, where given, must match its data.
struct Entry {
  std::string text;
  std::vector<double> numbers;
  bool numeric = false;
  long rows = -1, cols = -1;  // -1: not given
};
using Entries = std::map<std::string, Entry>;

// The numbers of a whitespace-separated text; false if a word is not a finite number.
bool text_numbers(const std::string& text, std::vector<double>& out) {
  out.clear();
  for (const std::string& w : split_words(text)) {
    double v;
    if (!parse_real(w, v) || out.size() == kMaxEntryNumbers) return false;
    out.push_back(v);
  }
  return true;
}

// The numbers of a YAML node, row after row. Aliases make a small text expand to any size, so
// the walk stops at kMaxEntryNumbers numbers or kMaxEntryDepth levels, with ok false.
void flatten(const YAML::Node& node, std::vector<double>& out, bool& ok, int depth = 0) {
  if (!ok) return;
  if (node.IsSequence() && depth < kMaxEntryDepth) {
    for (const YAML::Node& child : node) {
      flatten(child, out, ok, depth + 1);
      if (!ok) return;
    }
  } else if (node.IsScalar() && out.size() < kMaxEntryNumbers) {
    double v;
    ok = parse_real(node.Scalar(), v);
    out.push_back(v);
  } else {
    ok = false;
  }
}

// The name of a top-level entry on a line that starts one ("name: ..." at column 0), or ""
// when the line does not start an entry.
std::string entry_name(const std::string& line) {
  if (line.empty() || std::string(" \t#-%.{[").find(line[0]) != std::string::npos) return "";
  if (line[0] == '"' || line[0] == '\'') {
    const std::size_t close = line.find(line[0], 1);
    if (close == std::string::npos || line.compare(close + 1, 1, ":") != 0) return "";
    return line.substr(1, close - 1);
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return "";
  if (colon + 1 < line.size() && line[colon + 1] != ' ' && line[colon + 1] != '\t') return "";
  std::string name = line.substr(0, colon);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
  return name;
}

// Reads the needed entries of an OpenCV YAML file. The file is cut into its top-level entries
// by their lines at column 0, and only the needed entries go through the YAML parser: an entry
// the camera does not use, however large or however many aliases it expands, costs one scan of
// its lines.
Entries read_yaml(const std::string& file) {
  const std::string content = read_text(file);
  std::map<std::string, std::string> texts;  // needed entry -> its text, a one-entry document
  std::string* current = nullptr;            // the needed entry being collected, if any
  std::string current_name;
  bool any_entry = false;
  std::size_t i = 0;  // line index
  for (std::size_t start = 0; start < content.size(); ++i) {
    std::size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string_view view(content.data() + start, end - start);
    start = end + 1;
    if (!view.empty() && view.back() == '\r') view.remove_suffix(1);
    // Most lines of a large file continue an entry the camera does not use: skip them unread.
    if (any_entry && !current && (view.empty() || view[0] == ' ' || view[0] == '\t')) continue;
    const std::string line(view);
    const bool blank = line.find_first_not_of(" \t") == std::string::npos;
    const bool marker = line.rfind("---", 0) == 0 || line.rfind("...", 0) == 0 ||
                        (!line.empty() && line[0] == '%');
    if (marker || (!any_entry && (blank || line[0] == '#'))) continue;
    // Lines that do not start an entry continue the one before (indented lines, comments,
    // a block sequence's "- " items, the rest of a flow sequence).
    const std::string name = line[0] == '-' ? "" : entry_name(line);
    if (!name.empty()) {
      any_entry = true;
      current = nullptr;
      if (needed(name)) {
        if (texts.count(name))
          throw TervikFileError(file, "line " + std::to_string(i + 1) + ": the entry " + name +
                                          " appears twice");
        current = &texts[name];
        current_name = name;
      }
    } else if (!any_entry) {
      throw TervikFileError(file, "line " + std::to_string(i + 1) +
                                      ": the top level is not a map of named entries");
    }
    if (current) {
      if (current->size() + line.size() > kMaxEntryBytes)
        throw TervikFileError(file, "the entry " + current_name + " is longer than " +
                                        std::to_string(kMaxEntryBytes) + " bytes");
      *current += line + "\n";
    }
  }
  if (!any_entry) throw TervikFileError(file, "the top level is not a map of named entries");
  Entries entries;
  for (const auto& [name, text] : texts) {
    YAML::Node root;
    try {
      root = YAML::Load(text);
    } catch (const YAML::Exception& e) {
      // Entries are parsed one by one, so an alias can only refer to its own entry.
      const std::string what = e.what();
      throw TervikFileError(file, "the entry " + name + " is not valid YAML: " + what +
                                      (what.find("anchor") != std::string::npos
                                           ? " (an alias may only refer to its own entry)"
                                           : ""));
    }
    if (!root.IsMap() || root.size() != 1)
      throw TervikFileError(file, "the entry " + name + " is not valid YAML");
    const YAML::Node value = root.begin()->second;
    Entry entry;
    bool ok = true;
    if (value.IsMap() && value["data"]) {
      flatten(value["data"], entry.numbers, ok);
      entry.numeric = ok;
      for (const auto& [key, field] : {std::pair{"rows", &entry.rows}, {"cols", &entry.cols}})
        if (value[key] && (!value[key].IsScalar() || !parse_integer(value[key].Scalar(), *field) ||
                           *field < 0))
          throw TervikFileError(file, name + "'s " + key + " is not a whole number");
    } else if (value.IsSequence()) {
      flatten(value, entry.numbers, ok);
      entry.numeric = ok;
    } else if (value.IsScalar()) {
      entry.text = value.Scalar();
      entry.numeric = text_numbers(entry.text, entry.numbers);
    }
    entries[name] = entry;
  }
  return entries;
}

// Throws TervikFileError naming `file` when the XML text nests elements deeper than
// kMaxXmlDepth, counted from its tags before any parsing.
void check_xml_depth(const std::string& text, const std::string& file) {
  int depth = 0;
  for (std::size_t i = text.find('<'); i != std::string::npos; i = text.find('<', i + 1)) {
    if (text.compare(i, 4, "<!--") == 0) {
      i = text.find("-->", i);
      if (i == std::string::npos) return;  // the parser names the unclosed comment
    } else if (text.compare(i, 9, "<![CDATA[") == 0) {
      i = text.find("]]>", i);
      if (i == std::string::npos) return;
    } else if (i + 1 < text.size() && text[i + 1] == '/') {
      --depth;
    } else if (i + 1 < text.size() && text[i + 1] != '?' && text[i + 1] != '!') {
      const std::size_t close = text.find('>', i);
      if (close == std::string::npos) return;
      if (text[close - 1] != '/' && ++depth > kMaxXmlDepth)
        throw TervikFileError(file, "XML elements nested more than " +
                                        std::to_string(kMaxXmlDepth) +
                                        " levels deep, which no calibration file needs");
      i = close;
    }
  }
}

Entries read_xml(const std::string& file) {
  namespace pt = boost::property_tree;
  const std::string text = read_text(file);
  check_xml_depth(text, file);
  pt::ptree tree;
  try {
    std::istringstream in(text);
    pt::read_xml(in, tree);
  } catch (const pt::xml_parser_error& e) {
    throw TervikFileError(file, "not valid XML: " + e.message() + " at line " +
                                    std::to_string(e.line()));
  }
  const auto storage = tree.get_child_optional("opencv_storage");
  if (!storage) throw TervikFileError(file, "no <opencv_storage> element");
  Entries entries;
  for (const auto& [name, node] : *storage) {
    if (!needed(name)) continue;
    if (entries.count(name)) throw TervikFileError(file, "the entry " + name + " appears twice");
    Entry entry;
    const auto data = node.get_child_optional("data");
    entry.text = data ? data->data() : node.data();
    entry.numeric = text_numbers(entry.text, entry.numbers);
    if (data)
      for (const auto& [key, field] : {std::pair{"rows", &entry.rows}, {"cols", &entry.cols}})
        if (const auto v = node.get_child_optional(key)) {
          const std::vector<std::string> w = split_words(v->data());
          if (w.size() != 1 || !parse_integer(w[0], *field) || *field < 0)
            throw TervikFileError(file, name + "'s " + key + " is not a whole number");
        }
    entries[name] = entry;
  }
  return entries;
}

// The entry under the first of `names` present, or null.
const Entry* find(const Entries& entries, std::initializer_list<const char*> names) {
  for (const char* n : names) {
    const auto it = entries.find(n);
    if (it != entries.end()) return &it->second;
  }
  return nullptr;
}

// Throws TervikFileError when a matrix's rows x cols disagree with the numbers of its data.
void check_shape(const Entry& e, const std::string& file, const std::string& what) {
  if (e.numeric && e.rows >= 0 && e.cols >= 0 &&
      (e.rows > 64 || e.cols > 64 ||
       static_cast<std::size_t>(e.rows * e.cols) != e.numbers.size()))
    throw TervikFileError(file, what + " declares " + std::to_string(e.rows) + " rows and " +
                                    std::to_string(e.cols) + " columns but its data holds " +
                                    std::to_string(e.numbers.size()) + " numbers");
}

// The numbers of a required entry, which must hold `count` of them.
std::vector<double> numbers(const Entries& entries, std::initializer_list<const char*> names,
                            std::size_t count, const std::string& file, const std::string& what) {
  const Entry* e = find(entries, names);
  if (!e) throw TervikFileError(file, "no " + what);
  check_shape(*e, file, what);
  if (!e->numeric || e->numbers.size() != count)
    throw TervikFileError(file, what + " must hold " + std::to_string(count) +
                                    " finite numbers, found " +
                                    (e->numeric        ? std::to_string(e->numbers.size())
                                     : e->text.empty() ? "a value that is not a list of at most " +
                                                             std::to_string(kMaxEntryNumbers) +
                                                             " numbers"
                                                       : "text '" + e->text + "'"));
  return e->numbers;
}

long image_extent(const Entries& entries, const char* name, long fallback, const std::string& file) {
  const Entry* e = find(entries, {name});
  if (!e) {
    if (fallback > 0) return fallback;
    throw TervikFileError(file, std::string("no ") + name + ": give --image-size WIDTHxHEIGHT");
  }
  long v = 0;
  if (!parse_integer(e->text, v))
    throw TervikFileError(file, std::string(name) + " '" + e->text + "' is not a whole number");
  return v;
}

// Rotation matrix of a rotation vector (axis times angle in radians).
void rodrigues(const double v[3], double r[3][3]) {
  const double theta = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  const double k[3] = {theta > 0 ? v[0] / theta : 0, theta > 0 ? v[1] / theta : 0,
                       theta > 0 ? v[2] / theta : 0};
  const double c = std::cos(theta), s = std::sin(theta);
  const double cross[3][3] = {{0, -k[2], k[1]}, {k[2], 0, -k[0]}, {-k[1], k[0], 0}};
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) r[a][b] = (a == b ? c : 0.0) + (1 - c) * k[a] * k[b] + s * cross[a][b];
}

}  // namespace

ImportResult import_opencv(const std::vector<std::string>& files, const ImportOptions& options) {
  const PixelCentres centres = centres_or(options, PixelCentres::integer);
  ImportResult result;
  for (const std::string& file : files) {
    const std::string ext = std::filesystem::path(file).extension().string();
    Entries entries;
    if (ext == ".yml" || ext == ".yaml")
      entries = read_yaml(file);
    else if (ext == ".xml")
      entries = read_xml(file);
    else
      throw TervikFileError(file, "an OpenCV file must end in .yml, .yaml or .xml, not '" + ext + "'");
    const std::vector<double> kv =
        numbers(entries, {"camera_matrix", "K"}, 9, file, "camera_matrix (or K)");
    double k[3][3], r[3][3], t[3];
    for (int i = 0; i < 9; ++i) k[i / 3][i % 3] = kv[i];
    if (find(entries, {"R"})) {
      const std::vector<double> rv = numbers(entries, {"R"}, 9, file, "R (a 3 x 3 rotation)");
      for (int i = 0; i < 9; ++i) r[i / 3][i % 3] = rv[i];
    } else {
      const std::vector<double> rv = numbers(entries, {"rvec"}, 3, file, "R or rvec");
      rodrigues(rv.data(), r);
    }
    const std::vector<double> tv = numbers(entries, {"T", "tvec"}, 3, file, "T (or tvec)");
    for (int i = 0; i < 3; ++i) t[i] = tv[i];
    const long width = image_extent(entries, "image_width", options.width, file);
    const long height = image_extent(entries, "image_height", options.height, file);
    std::vector<double> d;
    if (const Entry* e = find(entries, {"distortion_coefficients", "D"})) {
      if (!e->numeric)
        throw TervikFileError(file, "the distortion coefficients are not numbers: '" + e->text + "'");
      check_shape(*e, file, "the distortion coefficients");
      d = e->numbers;
    }
    const std::array<double, 4> kept = kept_distortion(d, k, width, height,
                                                       options.ignore_extra_distortion, file,
                                                       result.warnings);
    result.cameras.push_back(
        {file, camera_from_krt(k, r, t, kept.data(), width, height, centres, file)});
  }
  return result;
}

}  // namespace tervik::calibration
