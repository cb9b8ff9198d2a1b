#pragma once
// Import of camera calibrations written by other tools into the library's Camera, ready to be
// written as the camera files that sculptor reads.
//
// Pixel conventions. In a camera file, pixel i covers [i, i + 1) and its centre lies at i + 0.5,
// as in COLMAP. Layouts that put pixel centres at integers (OpenCV, by default the Middlebury
// list) are moved by half a pixel: the principal point and P's first two rows gain 0.5 times
// the depth row. The lens distortion that a camera file holds is (k1, k2, p1, p2) on normalised
// coordinates (see multiview.h); other distortion terms are refused unless the caller accepts
// to drop them, and then the error made is reported in pixels at the image corners.
#include <optional>
#include <string>
#include <vector>

#include "tervik/camera.h"

namespace tervik::calibration {

// Where a layout puts the centre of pixel i: at i + 0.5 (half) or at i (integer).
enum class PixelCentres { half, integer };

// "half" or "integer"; parse_pixel_centres throws TervikError naming any other text.
std::string pixel_centres_name(PixelCentres centres);
PixelCentres parse_pixel_centres(const std::string& name);

// Choices the caller makes for every format.
struct ImportOptions {
  long width = 0, height = 0;           // image size for layouts without one; 0 = not given
  std::optional<PixelCentres> centres;  // overrides the layout's own convention
  bool ignore_extra_distortion = false;  // drop distortion terms beyond k1 k2 p1 p2
};

// One imported camera and where it came from (file, and image or line), for the report.
struct ImportedCamera {
  std::string source;
  Camera camera;
};

// The cameras in order (camera file i holds cameras[i]) and the warnings to print.
struct ImportResult {
  std::vector<ImportedCamera> cameras;
  std::vector<std::string> warnings;
};

// 3 x 4 projection matrices, row after row: a file whose every non-empty line holds 12 numbers
// is one camera per line, otherwise the whole file must hold 12 numbers (one camera). Lines
// starting with '#' are comments. Needs options.width and height. Default centres: half.
ImportResult import_projections(const std::vector<std::string>& files,
                                const ImportOptions& options);

// The Middlebury list: the camera count, then one line per camera "name k11 .. k33 r11 .. r33
// t1 t2 t3". The image size is options' or, failing that, read from the named image beside the
// list. Default centres: integer.
ImportResult import_middlebury(const std::string& file, const ImportOptions& options);

// A COLMAP text model in `folder` (cameras.txt and images.txt): one camera per image, in the
// order of the image ids. Models SIMPLE_PINHOLE, PINHOLE, SIMPLE_RADIAL, RADIAL and OPENCV;
// any other is refused by name. Default centres: half.
ImportResult import_colmap(const std::string& folder, const ImportOptions& options);

// OpenCV FileStorage files, one camera per file (".yml"/".yaml" or ".xml"): camera_matrix or K,
// distortion_coefficients or D (0, 4, 5, 8, 12 or 14 numbers), R (3 x 3) or rvec (rotation
// vector), T or tvec, image_width and image_height. Default centres: integer.
ImportResult import_opencv(const std::vector<std::string>& files, const ImportOptions& options);

// Hand-written per-camera lists of K, distortion and pose, one or more cameras per file. Each
// camera is, in this order: an optional index line (one whole number alone on its line), K
// (9 numbers, row after row), 0, 2, 4 or 5 distortion terms (k1 k2 [p1 p2 [k3]], OpenCV's
// order), and the pose as [R|t] (3 rows of 4) or R (3 x 3) followed by t (3). The numbers may
// be laid out freely over lines; how many distortion terms a camera has and which pose layout
// it uses are told by K's shape and by which reading makes R a rotation, preferring one that
// ends at a line's end. Words that are not numbers ("K:", "camera", "R|t =") are labels and
// skipped; brackets, commas and semicolons separate numbers; '#' starts a comment. Needs
// options.width and height. Default centres: integer.
ImportResult import_krt(const std::vector<std::string>& files, const ImportOptions& options);

// Whether two names reach the same file: equal resolved paths (symbolic links followed), or
// the same device and inode (hard links).
bool same_file(const std::string& a, const std::string& b);

// Throws TervikError naming both files when one of `outputs` would replace one of `inputs`, or
// two outputs are the same file. Nothing is written before this check passes.
void check_outputs(const std::vector<std::string>& inputs,
                   const std::vector<std::string>& outputs);

// Camera built from K (row-major, K[r][c]), R (row-major, world to camera), t and the four
// distortion coefficients, in the given pixel convention: P = K [R | t] after the half-pixel
// shift. Throws TervikError naming `source` for a non-finite value or a K that is not upper
// triangular with positive focal lengths and K[2][2] = 1 after normalisation.
Camera camera_from_krt(const double k[3][3], const double r[3][3], const double t[3],
                       const double distortion[4], long width, long height,
                       PixelCentres centres, const std::string& source);

// Camera from a projection matrix (row-major P[r][c]): P is scaled so that its depth row has a
// unit direction and points in front have positive depth, then split into K [R | t] with a
// proper rotation and positive focal lengths. Throws TervikError naming `source` for a
// non-finite or singular matrix.
Camera camera_from_projection(const double p[3][4], long width, long height, PixelCentres centres,
                              const std::string& source);

}  // namespace tervik::calibration
