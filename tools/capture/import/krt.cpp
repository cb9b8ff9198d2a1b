// Importer of hand-written K, distortion and [R|t] lists.
#include <array>
#include <cctype>
#include <cmath>

#include "tervik/exceptions.h"
#include "tools/capture/import/camera_import.h"
#include "tools/capture/import/import_util.h"

namespace tervik::calibration {
namespace {

// One number of the file, with where it stands.
struct Token {
  double value = 0.0;
  std::size_t line = 0;       // 0-based line index
  bool whole = false;         // written as a whole number
  bool alone = false;         // the only number on its line
  bool ends_line = false;     // the last number on its line
};

// Whether a word looks like a number (and so must be one): a digit, or a sign or point
// followed by one, or a spelt-out non-finite value; not a word ending in ':'.
bool numeric_looking(const std::string& w) {
  if (w.back() == ':') return false;  // a label such as "0:" in "camera 0:"
  std::size_t i = 0;
  if (i < w.size() && (w[i] == '+' || w[i] == '-')) ++i;
  if (i < w.size() && w[i] == '.') ++i;
  if (i < w.size() && std::isdigit(static_cast<unsigned char>(w[i]))) return true;
  std::string lower;
  for (char c : w.substr(i)) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == "nan" || lower == "inf" || lower == "infinity";
}

// The numbers of a file; labels are skipped, and a word that looks like a number but is not a
// finite one throws TervikFileError naming the line.
std::vector<Token> tokens(const std::string& file) {
  std::vector<Token> out;
  const std::vector<std::string> lines = read_lines(file);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i].substr(0, lines[i].find('#'));
    for (char& c : line)
      if (c == '[' || c == ']' || c == ',' || c == ';' || c == '(' || c == ')') c = ' ';
    const std::size_t first = out.size();
    for (const std::string& w : split_words(line)) {
      double v;
      if (!parse_real(w, v)) {
        if (numeric_looking(w))
          throw TervikFileError(file, "line " + std::to_string(i + 1) + ": '" + w +
                                          "' is not a finite number");
        continue;
      }
      long whole;
      out.push_back({v, i, parse_integer(w, whole), false, false});
    }
    if (out.size() > first) {
      out.back().ends_line = true;
      if (out.size() == first + 1) out.back().alone = true;
    }
  }
  return out;
}

// One way to read a camera from the tokens at some position.
struct Reading {
  std::size_t end = 0;  // the token after the camera
  bool index = false;   // it starts with an index line
  int distortion = 0;   // number of distortion terms
  bool pose_rt = true;  // [R|t] rows, else R then t
  double k[3][3], r[3][3], t[3], d[5];
};

bool plausible_k(const double k[3][3]) {
  return k[1][0] == 0.0 && k[2][0] == 0.0 && k[2][1] == 0.0 && k[2][2] != 0.0 &&
         k[0][0] / k[2][2] > 0.0 && k[1][1] / k[2][2] > 0.0;
}

// Every reading of a camera at `pos` in which K has an intrinsic matrix's shape and R is a
// rotation.
std::vector<Reading> readings(const std::vector<Token>& tk, std::size_t pos) {
  std::vector<Reading> out;
  for (int skip = 0; skip <= 1; ++skip) {
    if (skip == 1 && !(tk[pos].alone && tk[pos].whole)) break;
    Reading base;
    base.index = skip == 1;
    const std::size_t k_at = pos + skip;
    if (k_at + 9 > tk.size()) continue;
    for (int i = 0; i < 9; ++i) base.k[i / 3][i % 3] = tk[k_at + i].value;
    if (!plausible_k(base.k)) continue;
    for (int d : {0, 2, 4, 5}) {
      const std::size_t pose_at = k_at + 9 + d;
      if (pose_at + 12 > tk.size()) break;
      for (bool rt : {true, false}) {
        Reading r = base;
        r.distortion = d;
        r.pose_rt = rt;
        r.end = pose_at + 12;
        for (int i = 0; i < d; ++i) r.d[i] = tk[k_at + 9 + i].value;
        for (int i = 0; i < 12; ++i) {
          const double v = tk[pose_at + i].value;
          if (rt)
            (i % 4 == 3 ? r.t[i / 4] : r.r[i / 4][i % 4]) = v;
          else
            (i < 9 ? r.r[i / 3][i % 3] : r.t[i - 9]) = v;
        }
        if (is_rotation(r.r)) out.push_back(r);
      }
    }
  }
  return out;
}

}  // namespace

ImportResult import_krt(const std::vector<std::string>& files, const ImportOptions& options) {
  if (options.width == 0 || options.height == 0)
    throw TervikError("K R t lists carry no image size: give --image-size WIDTHxHEIGHT");
  const PixelCentres centres = centres_or(options, PixelCentres::integer);
  ImportResult result;
  for (const std::string& file : files) {
    const std::vector<Token> tk = tokens(file);
    if (tk.empty()) throw TervikFileError(file, "holds no numbers");
    for (std::size_t pos = 0; pos < tk.size();) {
      const std::string where = "line " + std::to_string(tk[pos].line + 1);
      std::vector<Reading> found = readings(tk, pos);
      // A camera that ends where its line ends is preferred: it keeps the layout's lines.
      std::vector<Reading> at_line_end;
      for (const Reading& r : found)
        if (tk[r.end - 1].ends_line) at_line_end.push_back(r);
      if (!at_line_end.empty()) found = at_line_end;
      if (found.empty())
        throw TervikFileError(
            file, where + ": expected camera " + std::to_string(result.cameras.size() + 1) +
                      " (counting over all files): K (9 numbers, K[1][0] = K[2][0] = K[2][1] = "
                      "0), 0, 2, 4 or 5 distortion terms, and [R|t] (12 numbers) or R and t, "
                      "R a rotation");
      if (found.size() > 1)
        throw TervikFileError(file, where + ": the camera reads in " +
                                        std::to_string(found.size()) +
                                        " ways (distortion terms or pose layout); put each "
                                        "matrix on lines of its own");
      const Reading& r = found[0];
      const std::string source =
          file + ", " + where +
          (r.index ? " (camera " + std::to_string(static_cast<long long>(tk[pos].value)) + ")"
                   : "");
      // k1 k2 alone are OpenCV's first four terms with p1 = p2 = 0.
      std::vector<double> coefficients(r.d, r.d + r.distortion);
      if (r.distortion == 2) coefficients.resize(4, 0.0);
      const std::array<double, 4> kept =
          kept_distortion(coefficients, r.k, options.width, options.height,
                          options.ignore_extra_distortion, file, result.warnings);
      result.cameras.push_back({source, camera_from_krt(r.k, r.r, r.t, kept.data(), options.width,
                                                        options.height, centres, source)});
      pos = r.end;
    }
  }
  return result;
}

}  // namespace tervik::calibration
