#pragma once
// Reading a capture folder for the capture tools (find_box, check_capture, render_view,
// make_masks): cameras and silhouettes named by printf-style templates, the foreground rule
// of silhouettes, camera lists and the text helpers of their reports.
//
// Pixel convention as everywhere in tervik: x is the column, y the row; a projected position
// becomes a pixel by truncation toward zero.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sculptor/options.h"
#include "tervik/camera.h"
#include "tervik/imagegray.h"
#include "tervik/imagergb.h"
#include "tervik/points.h"

namespace tervik::capture {

// A silhouette pixel is foreground from this value up (as sculptor's projection test reads it).
constexpr unsigned char kForeground = 128;
// sculptor's seeding (the reduced silhouettes) counts a pixel as foreground only above 128: a
// value of exactly 128 is foreground to the projection test and background to the seeds, so a
// silhouette whose foreground is 128 yields no seed. Masks should use 0 and 255.
constexpr unsigned char kSeedForeground = 129;

// The cameras a capture tool works on, from `--cameras N` (the template numbers 0 .. N-1) and
// `--camera-ids LIST` (the template numbers, in the order given, e.g. "1-16" or "0-4,6-19").
struct CameraSelection {
  std::vector<int> ids;  // empty: the numbers 0 .. count-1
  int count = 0;
  // The number that the file templates receive for the camera at `index` (0 .. count-1).
  int number(std::size_t index) const { return ids.empty() ? int(index) : ids[index]; }
  // "camera 7", or "camera 7 (entry 4 of --camera-ids)" with a list.
  std::string label(std::size_t index) const;
};
// `count` is the value of --cameras (0 when it was not given), `ids_text` that of --camera-ids
// (empty when not given). With both, the count must equal the list's length. Throws TervikError
// naming the options.
CameraSelection select_cameras(int count, const std::string& ids_text);

// The capture tools accept frame ranges of at most this many frames (a mistyped last frame
// must not make a tool try every number up to it).
constexpr long kMaxFrames = 1000000;

// Reads the calibration file of camera i for i = 0 .. count-1, formatted from `camtemplate`.
// Throws TervikFileError naming the file and the reader's complaint when one does not parse.
std::vector<Camera> read_cameras(const NameTemplate& camtemplate, int count);
// The same for the selected cameras, in their order; the error names the camera.
std::vector<Camera> read_cameras(const NameTemplate& camtemplate, const CameraSelection& cameras);

// Reads one calibration file; errors as read_cameras.
Camera read_camera_file(const std::string& file);

// Reads an image file as grey (a colour file becomes its luminance); throws the reader's
// exceptions, which name the file.
ImageGray<unsigned char> read_gray(const std::string& file);
// Reads an image file as colour (a grey file gets three equal channels).
ImageRGB<unsigned char> read_rgb(const std::string& file);

// Throws TervikFileError naming `file` unless the image is width x height, the camera's size.
void check_image_size(const std::string& file, std::size_t width, std::size_t height,
                      const Camera& camera);

// Reads the image of a camera as grey or colour, after checking the size that the file's header
// declares against the camera's, so that no pixel of a file of the wrong size is decoded. The
// error names the file, the camera (`who`, e.g. "camera 3") and both sizes.
ImageGray<unsigned char> read_gray(const std::string& file, const Camera& camera,
                                   const std::string& who);
ImageRGB<unsigned char> read_rgb(const std::string& file, const Camera& camera,
                                 const std::string& who);
// The same, into `image`, whose storage is reused when it has the camera's size (no copy of the
// decoded pixels).
void read_gray(const std::string& file, const Camera& camera, const std::string& who,
               ImageGray<unsigned char>& image);
void read_rgb(const std::string& file, const Camera& camera, const std::string& who,
              ImageRGB<unsigned char>& image);

// The files a run reads, by identity (device and inode, and the resolved path), so that no
// output replaces one of them: a template typed twice, a path through a symbolic link or a hard
// link all name the same file.
class InputFiles {
 public:
  // Records `file` (which may not exist yet: it then cannot clash with an output).
  void add(const std::string& file);
  // Throws TervikError naming both files when `output` names one of the recorded inputs.
  void check_output(const std::string& output) const;

 private:
  std::map<std::pair<unsigned long long, unsigned long long>, std::string> by_inode_;
  std::map<std::string, std::string> by_path_;  // resolved path -> the name as given
};

// Camera indices from a list such as "0,3,5-7" (ascending ranges), each in [0, count).
// Throws TervikError naming the list and the bad piece.
std::vector<int> parse_camera_list(const std::string& text, int count);

// The box corners: corner c takes x from hi when bit 0 of c is set, y by bit 1, z by bit 2.
Point3D box_corner(const Point3D& lo, const Point3D& hi, int corner);

// Shortest decimal text that reads back as the same double.
std::string shortest(double v);
// The text quoted for a POSIX shell where it holds anything but plain file-name characters.
std::string shell_quote(const std::string& text);

}  // namespace tervik::capture
