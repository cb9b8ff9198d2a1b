// Importer of OpenCV FileStorage calibration files, YAML (through yaml-cpp) or XML (through
// Boost.PropertyTree).
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <yaml-cpp/yaml.h>

#include "tervik/exceptions.h"
#include "tervik/multiview_auxiliar.h"
#include "tools/capture/import/camera_import.h"
#include "tools/capture/import/import_util.h"

namespace tervik::calibration {
namespace {

// One top-level entry of a FileStorage file: its text and, when it holds numbers, those numbers
// in row-major order.
struct Entry {
  std::string text;
  std::vector<double> numbers;
  bool numeric = false;
};
using Entries = std::map<std::string, Entry>;

// The numbers of a whitespace-separated text; false if a word is not a finite number.
bool text_numbers(const std::string& text, std::vector<double>& out) {
  out.clear();
  for (const std::string& w : split_words(text)) {
    double v;
    if (!parse_real(w, v)) return false;
    out.push_back(v);
  }
  return true;
}

void flatten(const YAML::Node& node, std::vector<double>& out, bool& ok) {
  if (node.IsSequence()) {
    for (const YAML::Node& child : node) flatten(child, out, ok);
  } else if (node.IsScalar()) {
    double v;
    ok = ok && parse_real(node.Scalar(), v);
    out.push_back(v);
  } else {
    ok = false;
  }
}

Entries read_yaml(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw TervikFileNotFound(file);
  std::stringstream text;
  text << in.rdbuf();
  std::string content = text.str();
  // OpenCV writes the directive as "%YAML:1.0", which is not YAML syntax: drop it.
  if (content.rfind("%YAML:", 0) == 0) content[0] = '#';
  YAML::Node root;
  try {
    root = YAML::Load(content);
  } catch (const YAML::Exception& e) {
    throw TervikFileError(file, std::string("not valid YAML: ") + e.what());
  }
  if (!root.IsMap()) throw TervikFileError(file, "the top level is not a map of named entries");
  Entries entries;
  for (const auto& item : root) {
    Entry entry;
    const YAML::Node& value = item.second;
    bool ok = true;
    if (value.IsMap() && value["data"]) {
      flatten(value["data"], entry.numbers, ok);
      entry.numeric = ok;
    } else if (value.IsSequence()) {
      flatten(value, entry.numbers, ok);
      entry.numeric = ok;
    } else if (value.IsScalar()) {
      entry.text = value.Scalar();
      entry.numeric = text_numbers(entry.text, entry.numbers);
    }
    entries[item.first.as<std::string>()] = entry;
  }
  return entries;
}

Entries read_xml(const std::string& file) {
  namespace pt = boost::property_tree;
  pt::ptree tree;
  try {
    pt::read_xml(file, tree);
  } catch (const pt::xml_parser_error& e) {
    if (!std::filesystem::exists(file)) throw TervikFileNotFound(file);
    throw TervikFileError(file, "not valid XML: " + e.message() + " at line " +
                                    std::to_string(e.line()));
  }
  const auto storage = tree.get_child_optional("opencv_storage");
  if (!storage) throw TervikFileError(file, "no <opencv_storage> element");
  Entries entries;
  for (const auto& [name, node] : *storage) {
    if (name == "<xmlattr>" || name == "<xmlcomment>") continue;
    Entry entry;
    const auto data = node.get_child_optional("data");
    entry.text = data ? data->data() : node.data();
    entry.numeric = text_numbers(entry.text, entry.numbers);
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

// The numbers of a required entry, which must hold `count` of them.
std::vector<double> numbers(const Entries& entries, std::initializer_list<const char*> names,
                            std::size_t count, const std::string& file, const std::string& what) {
  const Entry* e = find(entries, names);
  if (!e) throw TervikFileError(file, "no " + what);
  if (!e->numeric || e->numbers.size() != count)
    throw TervikFileError(file, what + " must hold " + std::to_string(count) +
                                    " finite numbers, found " +
                                    (e->numeric ? std::to_string(e->numbers.size()) : "text '" +
                                                                                          e->text + "'"));
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
