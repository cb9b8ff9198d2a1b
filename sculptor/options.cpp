#include "sculptor/options.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "common/camera_ids.h"
#include "tervik/exceptions.h"

namespace tervik {

namespace {

// Widths and precisions beyond this cannot fit a file name anyway.
constexpr long kMaxFieldWidth = static_cast<long>(kMaxFileName);

[[noreturn]] void template_error(const std::string& role, const std::string& text,
                                 const std::string& why) {
  throw TervikError("the " + role + " '" + text + "' " + why +
                    "; file-name templates accept only %d, %i, %u, %x, %X and %o (optionally "
                    "with l or ll, flags, width and precision) and %%");
}

// Reads a run of decimal digits at text[i...], advancing i; -1 when there is none.
long read_digits(const std::string& text, std::size_t& i) {
  long value = -1;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = (value < 0 ? 0 : value) * 10 + (text[i] - '0');
    if (value > kMaxFieldWidth) value = kMaxFieldWidth + 1;  // saturate; rejected by the caller
    ++i;
  }
  return value;
}

}  // namespace

NameTemplate::NameTemplate(const std::string& text, int arity, const std::string& role)
    : text_(text), role_(role) {
  Piece piece;
  std::size_t i = 0;
  while (i < text.size()) {
    const char ch = text[i];
    if (ch != '%') {
      piece.literal += ch;
      ++i;
      continue;
    }
    const std::size_t start = i++;
    if (i < text.size() && text[i] == '%') {
      piece.literal += '%';
      ++i;
      continue;
    }
    std::string conversion = "%";
    while (i < text.size() && std::strchr("-+ 0#", text[i]) != nullptr) conversion += text[i++];
    const long width = read_digits(text, i);
    if (width > kMaxFieldWidth)
      template_error(role, text, "has a field width above " + std::to_string(kMaxFieldWidth));
    if (width >= 0) conversion += std::to_string(width);
    if (i < text.size() && text[i] == '.') {
      ++i;
      const long precision = read_digits(text, i);
      if (precision > kMaxFieldWidth)
        template_error(role, text, "has a precision above " + std::to_string(kMaxFieldWidth));
      conversion += '.';
      conversion += std::to_string(precision < 0 ? 0 : precision);
    }
    if (i < text.size() && text[i] == 'l') ++i;
    if (i < text.size() && text[i] == 'l') ++i;
    if (i >= text.size())
      template_error(role, text, "ends inside the conversion '" + text.substr(start) + "'");
    const char conv = text[i++];
    if (std::strchr("diuxXo", conv) == nullptr || conv == '\0') {
      template_error(role, text,
                     "holds the conversion '" + text.substr(start, i - start) + "'");
    }
    ++conversions_;
    if (conversions_ > arity) {
      std::ostringstream why;
      why << "holds " << conversions_ << " or more conversions but receives only " << arity
          << (arity == 1 ? " value" : " values");
      template_error(role, text, why.str());
    }
    piece.conversion = conversion;
    piece.type = conv;
    pieces_.push_back(piece);
    piece = Piece();
  }
  pieces_.push_back(piece);  // the text after the last conversion
}

std::string NameTemplate::format(std::int64_t a, std::int64_t b) const {
  const std::int64_t values[2] = {a, b};
  std::string name;
  char buf[2 * kMaxFieldWidth + 32];
  std::size_t next = 0;
  for (const Piece& piece : pieces_) {
    name += piece.literal;
    if (piece.conversion.empty()) continue;
    // The conversion was validated and rebuilt by the constructor: flags, width, precision.
    const std::int64_t v = next < 2 ? values[next] : 0;
    ++next;
    const bool is_signed = piece.type == 'd' || piece.type == 'i';
    const std::string fmt = piece.conversion + "ll" + piece.type;
    int n;
    if (!is_signed)
      n = std::snprintf(buf, sizeof buf, fmt.c_str(), static_cast<unsigned long long>(v));
    else
      n = std::snprintf(buf, sizeof buf, fmt.c_str(), static_cast<long long>(v));
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf) n = 0;
    name.append(buf, static_cast<std::size_t>(n));
  }
  if (name.size() > kMaxFileName) {
    std::ostringstream os;
    os << "the file name formatted from the " << role_ << " '" << text_ << "' is "
       << name.size() << " characters long; at most " << kMaxFileName << " are allowed";
    throw TervikError(os.str());
  }
  return name;
}

std::string usage_line(const std::string& exec, bool options) {
  return "Usage: " + exec + (options ? " [options]" : "") +
         " numcams camtemplate imtemplate fgtemplate outtemplate firstframe lastframe xmin ymin "
         "zmin xmax ymax zmax npoints";
}

namespace {

// A decimal integer in [lo, hi] that covers the whole argument, else TervikError.
std::int64_t parse_integer(const std::string& text, const char* name, long long lo, long long hi) {
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  // Leading white space is skipped, as strtol skips it; nothing may follow the number.
  const bool whole = end != text.c_str() && end == text.c_str() + text.size();
  if (!whole) throw TervikError("the argument " + std::string(name) + " '" + text +
                                "' is not a decimal integer");
  if (errno == ERANGE || v < lo || v > hi) {
    std::ostringstream os;
    os << "the argument " << name << " '" << text << "' is out of range (" << lo << " to " << hi
       << ")";
    throw TervikError(os.str());
  }
  return v;
}

// A finite real number that covers the whole argument, else TervikError.
double parse_real(const std::string& text, const char* name) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  const bool whole = end != text.c_str() && end == text.c_str() + text.size();
  if (!whole) throw TervikError("the argument " + std::string(name) + " '" + text +
                                "' is not a number");
  if (!std::isfinite(v))  // an overflow gives infinity; an underflow is kept as parsed
    throw TervikError("the argument " + std::string(name) + " '" + text + "' is out of range");
  return v;
}

// Refuses templates that would give several cameras or several frames one file name: an
// output template without the frame number overwrites every frame's points with the next,
// and a camera, image or silhouette template without the camera number (or, over several
// frames, without the frame number) reads one file for all of them.
void check_templates_vary(const Options& o) {
  const bool frames = o.last_frame > o.first_frame;
  std::ostringstream range;
  range << "frames " << o.first_frame << " to " << o.last_frame;
  if (frames && o.outtemplate.conversions() < 1)
    throw TervikError("the output template '" + o.outtemplate.text() +
                      "' has no conversion for the frame number, but " + range.str() +
                      " are processed: every frame would overwrite the file of the one before");
  if (o.camtemplate.conversions() < 1)
    throw TervikError("the camera template '" + o.camtemplate.text() +
                      "' has no conversion for the camera number: all " +
                      std::to_string(o.numcams) + " cameras would read the same calibration file");
  for (const NameTemplate* t : {&o.imtemplate, &o.fgtemplate}) {
    const std::string role = t == &o.imtemplate ? "image template" : "silhouette template";
    if (t->conversions() < 1)
      throw TervikError("the " + role + " '" + t->text() +
                        "' has no conversion for the camera number (the first value): all " +
                        std::to_string(o.numcams) + " cameras would read the same file");
    if (frames && t->conversions() < 2)
      throw TervikError("the " + role + " '" + t->text() +
                        "' has no conversion for the frame number (the second value), but " +
                        range.str() + " are processed: every frame would read the same files");
  }
}

}  // namespace

Options parse_options(const std::vector<std::string>& args) {
  if (args.size() != static_cast<std::size_t>(kArgumentCount)) {
    throw TervikError("expected " + std::to_string(kArgumentCount) + " arguments, got " +
                      std::to_string(args.size()));
  }
  Options o;
  // At least 5 cameras must see a point before it is accepted; the 16-bit camera counters of the
  // silhouette test bound the number from above.
  o.numcams = parse_integer(args[0], "numcams", 5, 32767);
  o.camtemplate = NameTemplate(args[1], 1, "camera template");
  o.imtemplate = NameTemplate(args[2], 2, "image template");
  o.fgtemplate = NameTemplate(args[3], 2, "silhouette template");
  o.outtemplate = NameTemplate(args[4], 1, "output template");
  o.first_frame = parse_integer(args[5], "firstframe", INT32_MIN, INT32_MAX);
  o.last_frame = parse_integer(args[6], "lastframe", INT32_MIN, INT32_MAX);
  if (o.first_frame > o.last_frame) {
    std::ostringstream os;
    os << "the frame range is reversed: firstframe " << o.first_frame << " comes after lastframe "
       << o.last_frame << ", so no frame would be processed";
    throw TervikError(os.str());
  }
  const char* box_names[6] = {"xmin", "ymin", "zmin", "xmax", "ymax", "zmax"};
  double box[6];
  for (int i = 0; i < 6; ++i) box[i] = parse_real(args[7 + i], box_names[i]);
  o.box_min = Point3D(box[0], box[1], box[2]);
  o.box_max = Point3D(box[3], box[4], box[5]);
  // 37 points are the fewest for which the seed search looks for one seed.
  o.npoints = parse_integer(args[13], "npoints", 37, INT32_MAX);

  check_templates_vary(o);

  const double dx = o.box_max.x - o.box_min.x;
  const double dy = o.box_max.y - o.box_min.y;
  const double dz = o.box_max.z - o.box_min.z;
  o.step = 0.005 * std::sqrt(dx * dx + dy * dy + dz * dz);
  o.motion_radius = 8.0 * o.step;
  if (!(o.step > 0.0) || !std::isfinite(o.step))
    throw TervikError("the box from (xmin, ymin, zmin) to (xmax, ymax, zmax) has no extent "
                      "or an infinite one: give two opposite corners of the box around the object");
  return o;
}

void set_camera_ids(Options& o, const std::string& text) {
  std::vector<int> ids = parse_camera_ids(text);
  if (static_cast<std::int64_t>(ids.size()) != o.numcams) {
    throw TervikError("--camera-ids '" + text + "' lists " + std::to_string(ids.size()) +
                      (ids.size() == 1 ? " camera" : " cameras") + " but numcams is " +
                      std::to_string(o.numcams) + "; they must agree");
  }
  o.camera_ids = std::move(ids);
}

double parse_normal_radius(const std::string& text) {
  char* end = nullptr;
  const double r = std::strtod(text.c_str(), &end);
  const bool whole = !text.empty() && end == text.c_str() + text.size();
  if (!whole || !(r >= 0.5 && r <= 4.0))
    throw TervikError("--normal-radius must be a number from 0.5 to 4 (sampling lengths), got '" +
                      text + "'");
  return r;
}

}  // namespace tervik
