#pragma once
// The sculptor command line: numbers parsed completely and range-checked, file-name templates
// validated once and then formatted without handing user text to printf.
#include <cstdint>
#include <string>
#include <vector>

#include "tervik/points.h"

namespace tervik {

// The longest file name a template may produce, in characters.
constexpr std::size_t kMaxFileName = 511;

// A printf-style file-name template that receives `arity` integer values (camera index, frame
// number). Only %d %i %u %x %X %o, each with an optional l or ll, flags (-+ 0#), width and
// precision, and %% are accepted, at most `arity` conversions; every value is formatted as a
// 64-bit integer.
class NameTemplate {
 public:
  NameTemplate() = default;
  // Validates `text`; throws TervikError naming `role` (e.g. "camera template") and the text.
  NameTemplate(const std::string& text, int arity, const std::string& role);

  // The file name for the values (missing ones count as 0; extra ones are ignored, as printf
  // ignores them). Throws TervikError when the name is longer than kMaxFileName characters.
  std::string format(std::int64_t a, std::int64_t b = 0) const;

  const std::string& text() const { return text_; }
  // Number of conversions in the template.
  int conversions() const { return conversions_; }

 private:
  struct Piece {
    std::string literal;     // text before the conversion, with %% already reduced to %
    std::string conversion;  // "%<flags><width>.<precision>" of the conversion, empty at the end
    char type = 'd';         // d, i, u, x, X or o
  };
  std::string text_;
  std::string role_;
  std::vector<Piece> pieces_;
  int conversions_ = 0;
};

// Everything the command line fixes for a run.
struct Options {
  std::int64_t numcams = 0;
  NameTemplate camtemplate;  // receives the camera index
  NameTemplate imtemplate;   // colour image: camera index, frame number
  NameTemplate fgtemplate;   // silhouette: camera index, frame number
  NameTemplate outtemplate;  // output PLY file: frame number
  std::int64_t first_frame = 0;
  std::int64_t last_frame = 0;
  Point3D box_min;
  Point3D box_max;
  long long npoints = 0;
  double step = 0.0;           // sampling length L = 0.005 x the box diagonal (world units)
  double motion_radius = 0.0;  // 8 L: half-size of the motion search of tracked frames
  bool binary_output = false;  // --binary: point files in binary little-endian PLY
  // --camera-ids: the camera numbers substituted into the templates, view by view; empty when
  // view i is camera i.
  std::vector<int> camera_ids;
  bool colour_all = false;     // --colour-all: colour every point, also those the blend leaves
  double normal_radius = 1.0;  // --normal-radius: the normals' neighbourhood radius, in L
  bool quiet = false;          // --quiet: only warnings, errors and a closing summary
};

// Number of arguments after the program name.
constexpr int kArgumentCount = 14;

// The usage line (without newline) for the program called `exec`; with `options`, as --help
// prints it, "[options]" stands before the arguments.
std::string usage_line(const std::string& exec, bool options = false);

// Parses the 14 arguments args[0..13] (the program name excluded). Throws TervikError with a
// message naming the argument for a number that does not parse completely or is out of range,
// fewer than 5 or more than 32767 cameras, npoints below 37 (no seed could be drawn), a box with
// a non-finite corner or zero diagonal, any template that NameTemplate rejects, and templates
// that would give several cameras or frames one file: a camera template without a conversion,
// image or silhouette templates without the camera's conversion (or, over more than one frame,
// the frame's), an output template without a conversion over more than one frame, and a first
// frame after the last (a reversed range, which would process nothing). Numbers
// may have leading white space, as strtol and strtod skip it.
Options parse_options(const std::vector<std::string>& args);

// Sets the camera list of `o` (see Options::camera_ids) from the text of --camera-ids. Throws
// TervikError for a list parse_camera_ids() refuses, or one whose length is not numcams.
void set_camera_ids(Options& o, const std::string& text);

// Parses the value of --normal-radius: a number from 0.5 to 4 (sampling lengths). Throws
// TervikError naming the value otherwise.
double parse_normal_radius(const std::string& text);

}  // namespace tervik
