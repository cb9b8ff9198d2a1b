#pragma once
// Helpers shared by the calibration importers: strict number parsing, text lines, and the
// checks every format makes. Internal to the importers.
#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "tools/capture/import/camera_import.h"

namespace tervik::calibration {

// The most bytes a calibration read as a whole may hold: far more than any calibration needs,
// little enough to hold in memory.
constexpr std::size_t kMaxCalibrationBytes = 64u << 20;

// Throws TervikFileNotFound when nothing is at `file`, and TervikFileError naming the reason
// when it is not a regular file that can be read (a folder, a FIFO, a device such as
// /dev/zero): such inputs would hang or never end.
void require_regular_file(const std::string& file);
// The whole of a regular file; throws as require_regular_file, and TervikFileError when the
// file holds more than `max_bytes`.
std::string read_text(const std::string& file, std::size_t max_bytes = kMaxCalibrationBytes);
// Text split at "\n", a "\r" before it dropped.
std::vector<std::string> split_lines(const std::string& text);
// A text file as lines (without their line ends); throws as read_text.
std::vector<std::string> read_lines(const std::string& file);
// Calls visit(index, line) for every line of a regular file, from index 0, holding one line at
// a time (for files that may be large, such as COLMAP's images.txt).
void for_each_line(const std::string& file,
                   const std::function<void(std::size_t, const std::string&)>& visit);
// The blank-separated words of a line.
std::vector<std::string> split_words(const std::string& line);
// The whole of `word` as a finite double or a whole number; false otherwise.
bool parse_real(const std::string& word, double& value);
bool parse_integer(const std::string& word, long& value);

// The pixel convention to use: the caller's choice, else the layout's own.
inline PixelCentres centres_or(const ImportOptions& options, PixelCentres layout_default) {
  return options.centres ? *options.centres : layout_default;
}

// Whether r (row-major) is a rotation: orthonormal rows to 1e-5 and determinant +1.
bool is_rotation(const double r[3][3]);

// Checks an image size (1 to 32767 on each side, as sculptor requires); throws TervikError
// naming `source` otherwise.
void check_image_size(long width, long height, const std::string& source);

// The four coefficients (k1, k2, p1, p2) that a camera file keeps of OpenCV's distortion
// coefficients (k1, k2, p1, p2[, k3[, k4, k5, k6[, s1, s2, s3, s4[, tau_x, tau_y]]]]); none
// means no distortion. A non-zero further term throws TervikFileError naming `file` and the
// term, unless ignore_extra is set; then a warning with the largest error that dropping them
// makes at the image corners, in pixels, is added to `warnings`. k is OpenCV's intrinsic matrix
// (pixel centres at integers), row-major.
std::array<double, 4> kept_distortion(const std::vector<double>& coefficients,
                                      const double k[3][3], long width, long height,
                                      bool ignore_extra, const std::string& file,
                                      std::vector<std::string>& warnings);

}  // namespace tervik::calibration
