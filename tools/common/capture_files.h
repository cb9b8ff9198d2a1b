#pragma once
// Reading a capture folder for the capture tools (find_box, check_capture, render_view,
// make_masks): cameras and silhouettes named by printf-style templates, the foreground rule
// of silhouettes, camera lists and the text helpers of their reports.
//
// Pixel convention as everywhere in tervik: x is the column, y the row; a projected position
// becomes a pixel by truncation toward zero.
#include <string>
#include <vector>

#include "sculptor/options.h"
#include "tervik/camera.h"
#include "tervik/imagegray.h"
#include "tervik/imagergb.h"
#include "tervik/points.h"

namespace tervik::capture {

// A silhouette pixel is foreground from this value up (as sculptor's projection test reads it).
constexpr unsigned char kForeground = 128;

// Reads the calibration file of camera i for i = 0 .. count-1, formatted from `camtemplate`.
// Throws TervikFileError naming the file and the reader's complaint when one does not parse.
std::vector<Camera> read_cameras(const NameTemplate& camtemplate, int count);

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
